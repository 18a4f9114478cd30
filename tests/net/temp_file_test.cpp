// Temporary file names: the folder, the pattern, exclusive creation.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <set>

#include "net/temp_file.h"
#include "tests/support/temp_dir.h"

namespace upd::net {
namespace {

class TempFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        m_saved = old != nullptr ? std::optional<std::string>(old) : std::nullopt;
    }
    void TearDown() override {
        if (m_saved) {
            setenv("TMPDIR", m_saved->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    std::optional<std::string> m_saved;
    upd::test::TempDir m_dir;
};

TEST_F(TempFolder, FolderComesFromTmpdirWithATrailingSlash) {
    setenv("TMPDIR", "/some/where", 1);
    EXPECT_EQ(temporaryFolder(), "/some/where/");
    setenv("TMPDIR", "/some/where/", 1);
    EXPECT_EQ(temporaryFolder(), "/some/where/");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(temporaryFolder(), "/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(temporaryFolder(), "/tmp/");
}

TEST_F(TempFolder, NamesAreNewFilesOfThePattern) {
    setenv("TMPDIR", m_dir.path().c_str(), 1);
    const std::regex pattern(m_dir.path() + "[0-9A-Za-z]{8}\\.tmp");
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
        for (const char c : name.substr(m_dir.path().size(), 8)) {
            digit = digit || (c >= '0' && c <= '9');
            upper = upper || (c >= 'A' && c <= 'Z');
            lower = lower || (c >= 'a' && c <= 'z');
        }
    }
    EXPECT_EQ(names.size(), 50u);
    EXPECT_TRUE(digit && upper && lower);
}

TEST_F(TempFolder, FolderThatCannotBeWrittenGivesNoName) {
    setenv("TMPDIR", m_dir.file("missing").c_str(), 1);
    EXPECT_EQ(MakeTempFileName(), "");
}

}  // namespace
}  // namespace upd::net
