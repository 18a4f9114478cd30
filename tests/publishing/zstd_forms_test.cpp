// The smaller forms of a release's files: compressed files and patches made and applied (a
// fault leaves no output), made and announced by make-ini, and rebuilt by lint.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "publishing/file_digest.h"
#include "publishing/release_forms.h"
#include "publishing/update_ini_lint.h"
#include "publishing/zstd_codec.h"
#include "tests/support/temp_dir.h"
#include "wizard/profile_document.h"
#include "wizard/update_ini_schema.h"

namespace upd::wizard {
namespace {

std::string noise(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random());
    }
    return bytes;
}

// `bytes` with one byte changed every `every` bytes and a word inserted.
std::string edited(std::string bytes, std::size_t every) {
    for (std::size_t i = every / 2; i < bytes.size(); i += every) {
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    }
    return bytes.insert(bytes.size() / 3, "inserted");
}

bool exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

TEST(ZstdCodec, RebuildsTheFileOrFailsWithoutLeavingOutput) {
    const std::string old = noise(300'000, 1);
    const std::string target = edited(old, 40'000);  // 300008 bytes
    using Spoil = std::function<void(std::string & form, std::string & base)>;
    // clang-format off
    const struct { const char* name; std::string target; std::optional<std::string> base;
                   Spoil spoil; std::int64_t sizeOff; const char* error; std::size_t most = 0; }
        cases[] = {
        {"compressed", std::string(200'000, 'a') + target, std::nullopt, {}, 0, ""},
        {"a patch", target, old, {}, 0, "", 2000},
        {"a base of 0 bytes", target, "", {}, 0, ""},
        {"an output of 0 bytes", "", old, {}, 0, ""},
        {"compressed, 0 bytes", "", std::nullopt, {}, 0, ""},
        {"a corrupted patch", target, old, [](auto& f, auto&) { f[f.size() / 2] ^= 1; }, 0,
         "it does not decode"},
        {"a wrong base", target, old, [](auto&, auto& b) { b[1000] ^= 1; }, 0, "it does not decode"},
        {"a larger size expected", target, old, {}, 1, "decodes to 300008 bytes, not the expected 300009"},
        {"a smaller size expected", target, old, {}, -1, "decodes to more than the expected 300007"},
        {"input after the frame", target, old, [](auto& f, auto&) { f += '\0'; }, 0, "more input after"},
        {"cut short", target, old, [](auto& f, auto&) { f.pop_back(); }, 0, "ends before its frame"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        const std::string from = dir.write("target", c.target);
        const std::string base = c.base ? dir.write("base", *c.base) : std::string();
        const std::string formPath = dir.file("form");
        const auto made = c.base ? publishing::makePatch(base, from, formPath)
                                 : publishing::compressFile(from, formPath);
        ASSERT_TRUE(made.ok) << made.error;
        std::string form = test::readFile(formPath);
        EXPECT_TRUE(c.most == 0 || form.size() <= c.most) << form.size();
        if (c.spoil) {
            std::string spoiledBase = c.base.value_or("");
            c.spoil(form, spoiledBase);
            dir.write("form", form);
            dir.write("base", spoiledBase);
        }
        // What is at the output is replaced: a link there is never written through.
        dir.write("victim", "victim");
        ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("out").c_str()), 0);
        publishing::ZstdApplier applier(formPath, base, dir.file("out"),
                                        static_cast<std::int64_t>(c.target.size()) + c.sizeOff);
        for (int steps = 0; !applier.step(4096); ++steps) {
            ASSERT_LT(steps, 1000);
        }
        EXPECT_EQ(applier.failed(), *c.error != '\0') << applier.error();
        EXPECT_NE(applier.error().find(c.error), std::string::npos) << applier.error();
        EXPECT_EQ(exists(dir.file("out")), !applier.failed());
        EXPECT_TRUE(applier.failed() || test::readFile(dir.file("out")) == c.target);
        EXPECT_EQ(test::readFile(dir.file("victim")), "victim");
    }
}

// Refused by size before a byte is read: the sparse file costs no disk.
TEST(ZstdCodec, RefusesAPatchPastTheLargestWindow) {
    const test::TempDir dir;
    const std::string large = dir.file("large");
    const int fd = ::open(large.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, publishing::kMaxPatchedFileBytes + 1), 0);
    ::close(fd);
    const std::string small = dir.write("small", "x");
    for (const auto& [base, target] : {std::pair{large, small}, std::pair{small, large}}) {
        const auto made = publishing::makePatch(base, target, dir.file("patch"));
        EXPECT_NE(made.error.find("larger than 2 GiB"), std::string::npos) << made.error;
        EXPECT_FALSE(made.ok || exists(dir.file("patch")));
    }
}

// A release of a.dat (changed from old1's, which old2 holds too, and from old3's), b.dat (no
// patch saves a tenth of it) and d/t.txt (as old1's, compressed well): make-ini's forms, then
// lint of the set as made and changed one key at a time.
TEST(ReleaseForms, MadeAnnouncedAndRebuilt) {
    const test::TempDir dir;
    const std::string old = noise(200'000, 2);
    std::string text;
    for (int i = 0; i < 5000; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    const std::string older = edited(old, 50'000);
    // clang-format off
    const std::pair<const char*, std::string> files[] = {{"old1/a.dat", old}, {"old2/a.dat", old},
        {"old3/a.dat", older}, {"rel/a.dat", edited(old, 30'000)}, {"old1/b.dat", noise(50'000, 3)},
        {"rel/b.dat", noise(50'000, 4)}, {"old1/d/t.txt", text}, {"rel/d/t.txt", text}};
    for (const auto& [name, bytes] : files) {
        dir.write(name, bytes);
    }
    // clang-format on
    const std::string rel = dir.file("rel");
    ReleaseScan scan = scanReleaseFolder(rel);
    ASSERT_TRUE(scan) << *scan.failure;
    const FormsMade made = makeReleaseForms(
        rel, scan.folder, {true, false, {dir.file("old1"), dir.file("old2"), dir.file("old3")}});
    ASSERT_TRUE(made) << *made.failure;
    UpdateIniOptions options;
    options.version = "1";
    const std::string ini = makeUpdateIni(scan.folder, options).bytes;
    const auto doc = ProfileDocument::parse(ini, 1252);
    const std::string patch1 = "rel/" + patchName("a.dat", sha256Hex(old));
    const std::string zst3 = "rel/d/t.txt.zst";
    // clang-format off
    const struct { const char* key; std::string value; } reads[] = {
        {"PatchBase1_1", sha256Hex(old)}, {"PatchBase1_2", sha256Hex(older)},
        {"PatchSha2561_1", sha256Hex(test::readFile(dir.file(patch1)))},
        {"PatchSize1_1", std::to_string(test::readFile(dir.file(patch1)).size())},
        {"PatchBase1_3", ""}, {"ZstSha2561", ""}, {"PatchBase2_1", ""}, {"ZstSha2562", ""},
        {"ZstSha2563", sha256Hex(test::readFile(dir.file(zst3)))}, {"PatchBase3_1", ""},
    };
    // clang-format on
    for (const auto& r : reads) {
        EXPECT_EQ(doc.value("Time", r.key), r.value) << r.key;
    }
    EXPECT_NE(ini.find("Size1=200008\r\nPatchBase1_1="), std::string::npos);
    EXPECT_EQ(made.notes.size(), 3u);  // a.dat.zst, b.dat.zst and b.dat's patch
    EXPECT_FALSE(exists(dir.file("rel/a.dat.zst")) || exists(dir.file("rel/b.dat.zst")) ||
                 exists(dir.file("rel/" + patchName("b.dat", sha256Hex(noise(50'000, 3))))));

    // b.dat.zst of other bytes of b.dat's size, announced with its own digest and size.
    dir.write("other", noise(50'000, 5));
    ASSERT_TRUE(publishing::compressFile(dir.file("other"), dir.file("rel/b.dat.zst")).ok);
    const std::string otherZst = test::readFile(dir.file("rel/b.dat.zst"));
    const std::string zstSize3 = doc.value("Time", "ZstSize3");
    using Keys = std::vector<std::pair<std::string, std::string>>;
    // clang-format off
    const struct { const char* name; Keys keys; std::string found; bool bases = true; } cases[] = {
        {"as made", {}, ""},
        {"no base given", {}, "W a.dat." + sha256Hex(old).substr(0, 16) +
         ".zpatch not rebuilt: no base with digest", false},
        {"a missing form", {{"ZstSha2561", std::string(64, 'a')}, {"ZstSize1", "10"}},
         "E a.dat.zst is not in the release folder"},
        {"a wrong size", {{"ZstSize3", zstSize3 + "0"}}, "E ZstSize3=" + zstSize3 + "0 is not the size"},
        {"a wrong digest", {{"ZstSha2563", std::string(64, 'a')}}, "E ZstSha2563 does not match"},
        {"a form that does not rebuild", {{"ZstSha2562", sha256Hex(otherZst)},
         {"ZstSize2", std::to_string(otherZst.size())}}, "E b.dat.zst rebuilds a file whose SHA-256"},
        {"no whole digest", {{"Sha2563", ""}}, "E ZstSha2563 offers the compressed form of d\\t.txt without"},
        {"a size that is none", {{"ZstSize3", "1k"}}, "E ZstSize3 of d\\t.txt is not a size"},
        {"a malformed base", {{"PatchBase1_1", "A"}}, "E PatchBase1_1 of a.dat is not 64 lower-case"},
        {"a gap", {{"PatchBase1_4", sha256Hex(old)}}, "E PatchBase1_4 follows no PatchBase1_3"},
        {"six patches", {{"PatchBase1_6", sha256Hex(old)}}, "E PatchBase1_6: more than 5 patches"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto changed = ProfileDocument::parse(ini, 1252);
        for (const auto& [key, value] : c.keys) {
            ASSERT_TRUE(changed.setValue("Time", key, value));
        }
        LintOptions lint{rel, std::nullopt};
        if (c.bases) {
            lint.baseFolders = {dir.file("old1"), dir.file("old3")};
        }
        std::string found;
        for (const auto& f : lintUpdateIni(changed.bytes(), lint)) {
            found += std::to_string(f.line) + (f.severity == LintSeverity::Error ? " E " : " W ") +
                     f.problem + "\n";
        }
        EXPECT_EQ(found.empty(), c.found.empty()) << found;
        EXPECT_NE(found.find(c.found), std::string::npos) << found;
    }
}

}  // namespace
}  // namespace upd::wizard
