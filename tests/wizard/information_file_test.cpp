// update.ini as page 3 takes it, attacked the ways a mirror or anyone on the path could: each
// row is one attack on a signed set (or the same set without a key) and what must happen.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_dir.h"
#include "wizard/information_file.h"

namespace upd::wizard {
namespace {

constexpr const char* kDigest = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

enum class Sig { Good, None, Other };    // the .sig beside the file
enum class At { File, Link, TooLarge };  // what lies at update.ini

TEST(InformationFile, RefusesWhatTheSignatureDoesNotVouchFor) {
    const std::string d = kDigest;
    const std::string files = "[Ver]\nNum=1\nFile1=a.exe\nVer1=2\nSha2561=" + d +
                              "\n[Time]\nNum=1\nFile1=b.dat\nDate1=2026-01-01\nSha2561=" + d + "\n";
    const std::string updater = "[Update]\nUpdate=1\nUpdateVer=2\nUpdateSha256=" + d + "\n";
    using R = InformationRefusal;
    // clang-format off
    const struct { const char* name; std::string ini; bool key; Sig sig; At at; R expected; } cases[] = {
        {"fully digested", updater + "MoveVer=2\nMoveSha256=" + d + "\n" + files, true, Sig::Good, At::File, R::None},
        {"update.exe without a digest", "[Update]\nUpdate=1\nUpdateVer=2\n" + files, true, Sig::Good, At::File, R::MissingDigests},
        {"FileMove.exe without a digest", updater + "MoveVer=2\n" + files, true, Sig::Good, At::File, R::MissingDigests},
        {"the package without a digest", "[Update]\nForceUp= 1\nUpURL=http://h/Setup.zip\n" + files, true, Sig::Good, At::File, R::MissingDigests},
        {"a [Time] file without a digest", updater + "[Ver]\nNum=0\n[Time]\nNum=1\nFile1=b.dat\n", true, Sig::Good, At::File, R::MissingDigests},
        {"an empty MoveVer plans no FileMove.exe", updater + "MoveVer=..\n" + files, true, Sig::Good, At::File, R::None},
        {"no key: digests stay optional", "[Update]\nUpdate=1\n[Ver]\nNum=1\nFile1=a.exe\n", false, Sig::None, At::File, R::None},
        {"no signature", files, true, Sig::None, At::File, R::NotSigned},
        {"another key's signature", files, true, Sig::Other, At::File, R::BadSignature},
        {"a link at update.ini", files, true, Sig::Good, At::Link, R::Unreadable},
        {"a link, no key", files, false, Sig::None, At::Link, R::Unreadable},
        {"over 64 MiB", files, false, Sig::None, At::TooLarge, R::TooLarge},
    };
    // clang-format on
    const auto vendor = generateKeyPair();
    const auto stranger = generateKeyPair();
    ASSERT_TRUE(vendor && stranger);
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
        const auto& secret = c.sig == Sig::Good ? vendor->secretKey : stranger->secretKey;
        const LoadedInformation loaded = loadUpdateInformation(
            path, c.key ? std::optional<PublicKey>(vendor->publicKey) : std::nullopt,
            c.sig == Sig::None ? std::nullopt : std::optional(signatureFileLine(bytes, secret)));
        EXPECT_EQ(loaded.refusal, c.expected) << loaded.reason;
        // What is refused yields nothing to analyse; what is taken is exactly what was read.
        EXPECT_EQ(loaded.document.bytes(), c.expected == R::None ? bytes : std::string());
    }
}

}  // namespace
}  // namespace upd::wizard
