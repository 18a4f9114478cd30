// Temporary file names: the folder, the pattern, exclusive creation.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>

#include "net/temp_file.h"
#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::net {
namespace {

// A set TMPDIR: the names below (with its slash) and peers_test.sh's --temp rows (without).
TEST(TempFolder, EmptyOrUnsetTmpdirIsTmp) {
    upd::test::EnvGuard env;
    env.set("TMPDIR", "");
    EXPECT_EQ(temporaryFolder(), "/tmp/");
    env.set("TMPDIR", nullptr);
    EXPECT_EQ(temporaryFolder(), "/tmp/");
}

TEST(TempFolder, NamesAreNewFilesOfThePattern) {
    upd::test::TempDir dir;
    upd::test::EnvGuard env;
    env.set("TMPDIR", dir.path().c_str());
    const std::regex pattern(dir.path() + "[0-9A-Za-z]{8}\\.tmp");
    std::set<std::string> names;
    bool digit = false;
    bool upper = false;
    bool lower = false;
    for (int i = 0; i < 50; ++i) {
        const std::string name = MakeTempFileName();
        ASSERT_TRUE(std::regex_match(name, pattern)) << name;
        struct stat st {};
        ASSERT_EQ(stat(name.c_str(), &st), 0);  // created at once, so nobody else gets it
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u);
        names.insert(name);
        for (const char c : name.substr(dir.path().size(), 8)) {
            digit = digit || (c >= '0' && c <= '9');
            upper = upper || (c >= 'A' && c <= 'Z');
            lower = lower || (c >= 'a' && c <= 'z');
        }
    }
    EXPECT_EQ(names.size(), 50u);
    EXPECT_TRUE(digit && upper && lower);

    env.set("TMPDIR", dir.file("missing").c_str());
    EXPECT_EQ(MakeTempFileName(), "");  // a folder that cannot be written gives no name
}

}  // namespace
}  // namespace upd::net
