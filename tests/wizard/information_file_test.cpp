// update.ini as page 3 takes it, attacked the ways a mirror or anyone on the path could: each
// row is one attack on a signed set (or the same set without a key) and what must happen.
// No signature, another key's and update.exe without a digest: auto_update_test.sh.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"
#include "wizard/information_file.h"

namespace upd::wizard {
namespace {

constexpr const char* kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

enum class Sig { Good, None };           // the .sig beside the file
enum class At { File, Link, TooLarge };  // what lies at update.ini

TEST(InformationFile, RefusesWhatTheSignatureDoesNotVouchFor) {
    const std::string d = kDigest;
    const std::string files = "[Ver]\nNum=1\nFile1=a.exe\nVer1=2\nSha2561=" + d +
                              "\n[Time]\nNum=1\nFile1=b.dat\nDate1=2026-01-01\nSha2561=" + d + "\n";
    const std::string updater =
        "[Update]\nSerial=1\nExpires=2100-01-01 00:00:00\nUpdate=1\n"
        "UpdateVer=2\nUpdateSha256=" +
        d + "\n";
    using R = InformationRefusal;
    // clang-format off
    const struct { const char* name; std::string ini; bool key; Sig sig; At at; R expected; } cases[] = {
        {"fully digested", updater + "MoveVer=2\nMoveSha256=" + d + "\n" + files, true, Sig::Good, At::File, R::None},
        {"FileMove.exe without a digest", updater + "MoveVer=2\n" + files, true, Sig::Good, At::File, R::MissingDigests},
        {"the package without a digest", "[Update]\nForceUp= 1\nUpURL=http://h/Setup.zip\n" + files, true, Sig::Good, At::File, R::MissingDigests},
        {"a [Time] file without a digest", updater + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=b.dat\n", true, Sig::Good, At::File, R::MissingDigests},
        {"an empty MoveVer plans no FileMove.exe", updater + "MoveVer=..\n" + files, true, Sig::Good, At::File, R::None},
        {"no key: digests stay optional", "[Update]\nUpdate=1\n[Ver]\nNum=1\nFile1=a.exe\n", false, Sig::None, At::File, R::None},
        {"a link at update.ini", files, true, Sig::Good, At::Link, R::Unreadable},
        {"over 64 MiB", files, false, Sig::None, At::TooLarge, R::TooLarge},
    };
    // clang-format on
    const auto vendor = generateKeyPair();
    ASSERT_TRUE(vendor);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const std::string bytes =
            c.ini +
            std::string(c.at == At::TooLarge ? kMaxProfileFileBytes + 1 - c.ini.size() : 0, ';');
        const std::string path = dir.file("update.ini");
        if (c.at == At::Link) {
            ASSERT_EQ(::symlink(dir.write("elsewhere.ini", bytes).c_str(), path.c_str()), 0);
        } else {
            dir.write("update.ini", bytes);
        }
        const LoadedInformation loaded = loadUpdateInformation(
            path, std::span(&vendor->publicKey, c.key ? 1 : 0),
            c.sig == Sig::None ? std::nullopt
                               : std::optional(signatureFileLine(bytes, vendor->secretKey)),
            ReleaseHistory{});
        EXPECT_EQ(loaded.refusal, c.expected) << loaded.reason;
        // What is refused yields nothing to analyse; what is taken is exactly what was read.
        EXPECT_EQ(loaded.document.bytes(), c.expected == R::None ? bytes : std::string());
    }
}

// Genuinely signed, yet not current: what a mirror frozen on an old set, or replaying one, would
// serve; each row one stamp (or record of update.serial) and what must happen. update.pub holds
// two keys, and either may sign.
TEST(InformationFile, RefusesSignedInformationThatIsNotCurrent) {
    constexpr std::int64_t kNow = 1900000000;  // 2030-03-17 17:46:40 UTC
    const std::string later = "Expires=2031-01-01 00:00:00\n";
    enum class Rec { Missing, File, Link, NoFolder };  // update.serial; Link: to a good record
    using R = InformationRefusal;
    // clang-format off
    const struct { const char* name; std::string stamp; Rec rec; const char* record; bool next; R expected; } cases[] = {
        {"first accepted", "Serial=7\n" + later, Rec::Missing, "", false, R::None},
        {"signed by the second key", "Serial=7\n" + later, Rec::Missing, "", true, R::None},
        {"equal serial, expiring this second", "Serial=7\nExpires=2030-03-17 17:46:40\n", Rec::File, "7\n", false, R::None},
        {"higher serial", "Serial=8\n" + later, Rec::File, "7\n", false, R::None},
        {"replayed older serial", "Serial=6\n" + later, Rec::File, "7\n", false, R::OlderSerial},
        {"expired a second ago", "Serial=8\nExpires=2030-03-17 17:46:39\n", Rec::Missing, "", false, R::Expired},
        {"no Serial", later, Rec::Missing, "", false, R::BadStamp},
        {"no Expires", "Serial=8\n", Rec::Missing, "", false, R::BadStamp},
        {"Serial 0", "Serial=0\n" + later, Rec::Missing, "", false, R::BadStamp},
        {"Serial with a sign", "Serial=+8\n" + later, Rec::Missing, "", false, R::BadStamp},
        {"Serial past 2^63-1", "Serial=9223372036854775808\n" + later, Rec::Missing, "", false, R::BadStamp},
        {"Expires on 2030-02-29", "Serial=8\nExpires=2030-02-29 00:00:00\n", Rec::Missing, "", false, R::BadStamp},
        {"Expires without seconds", "Serial=8\nExpires=2031-01-01 00:00\n", Rec::Missing, "", false, R::BadStamp},
        {"Expires at hour 24", "Serial=8\nExpires=2031-01-01 24:00:00\n", Rec::Missing, "", false, R::BadStamp},
        {"record not a number", "Serial=8\n" + later, Rec::File, "seven\n", false, R::SerialFileUnusable},
        {"record without its LF", "Serial=8\n" + later, Rec::File, "7", false, R::SerialFileUnusable},
        {"record of 0", "Serial=8\n" + later, Rec::File, "0\n", false, R::SerialFileUnusable},
        {"record is a link", "Serial=8\n" + later, Rec::Link, "7\n", false, R::SerialFileUnusable},
        {"record cannot be written", "Serial=8\n" + later, Rec::NoFolder, "", false, R::SerialNotRecorded},
    };
    // clang-format on
    const auto vendor = generateKeyPair();
    const auto next = generateKeyPair();
    ASSERT_TRUE(vendor && next);
    const std::vector<PublicKey> keys{vendor->publicKey, next->publicKey};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const std::string bytes = "[Update]\n" + c.stamp + "[Ver]\nNum=0\n[Time]\nNum=0\n";
        const std::string record =
            dir.file(c.rec == Rec::NoFolder ? "gone/update.serial" : "update.serial");
        if (c.rec == Rec::File) {
            dir.write("update.serial", c.record);
        } else if (c.rec == Rec::Link) {
            ASSERT_EQ(::symlink(dir.write("elsewhere", c.record).c_str(), record.c_str()), 0);
        }
        const ReleaseHistory history{readSerialFile(record), kNow};
        LoadedInformation loaded = loadUpdateInformation(
            dir.write("update.ini", bytes), keys,
            signatureFileLine(bytes, (c.next ? next : vendor)->secretKey), history);
        recordAcceptedSerial(loaded, record);
        EXPECT_EQ(loaded.refusal, c.expected) << loaded.reason;
        // What is taken is recorded before anything else happens; a refusal leaves the record.
        EXPECT_EQ(readSerialFile(record).highest,
                  loaded ? loaded.serial : history.accepted.highest);
    }
}

}  // namespace
}  // namespace upd::wizard
