#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

// Sets (or unsets, for nullptr) one environment variable for the life of the guard.
class EnvGuard {
  public:
    EnvGuard(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (m_old) {
            setenv(m_name, m_old->c_str(), 1);
        } else {
            unsetenv(m_name);
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

  private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(LockFolder, PrefersTheRuntimeFolderThenTheTemporaryFolder) {
    {
        EnvGuard runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EnvGuard tmp("TMPDIR", "/var/tmp");
        EXPECT_EQ(lockFolder(), "/run/user/1000");
    }
    {
        EnvGuard runtime("XDG_RUNTIME_DIR", nullptr);
        EnvGuard tmp("TMPDIR", "/var/tmp");
        EXPECT_EQ(lockFolder(), "/var/tmp");
    }
    {
        EnvGuard runtime("XDG_RUNTIME_DIR", "relative/dir");
        EnvGuard tmp("TMPDIR", "");
        EXPECT_EQ(lockFolder(), "/tmp");
    }
}

TEST(LockFilePath, NamesTheProgramAndHashesItsPath) {
    const std::string path = lockFilePath("/run/user/1000", "/opt/app/update");
    EXPECT_EQ(path.rfind("/run/user/1000/update-", 0), 0u) << path;
    EXPECT_EQ(path.size(), std::string("/run/user/1000/update-").size() + 16 + 5) << path;
    EXPECT_EQ(path.substr(path.size() - 5), ".lock");
    EXPECT_EQ(path, lockFilePath("/run/user/1000/", "/opt/app/update"));
    EXPECT_NE(path, lockFilePath("/run/user/1000", "/opt/other/update"));
}

TEST(LockFilePath, KeepsOnlyPlainCharactersOfTheName) {
    const std::string path = lockFilePath("/tmp", "/opt/my app/up date:1");
    EXPECT_EQ(path.rfind("/tmp/up_date_1-", 0), 0u) << path;
    const std::string longName(300, 'x');
    const std::string shortened = lockFilePath("/tmp", "/opt/" + longName);
    EXPECT_EQ(shortened.rfind("/tmp/" + std::string(64, 'x') + "-", 0), 0u) << shortened;
}

class SingleInstanceLock : public ::testing::Test {
  protected:
    test::TempDir m_dir;
    EnvGuard m_runtime{"XDG_RUNTIME_DIR", m_dir.path().c_str()};
    std::string m_program = m_dir.write("bin/update", "program");
};

TEST_F(SingleInstanceLock, SecondStartFindsTheFirstRunning) {
    SingleInstance first = SingleInstance::acquire(m_program);
    EXPECT_EQ(first.state(), SingleInstance::State::First);
    EXPECT_EQ(first.lockPath().rfind(m_dir.path(), 0), 0u) << first.lockPath();

    const SingleInstance second = SingleInstance::acquire(m_program);
    EXPECT_TRUE(second.alreadyRunning());
    EXPECT_EQ(second.lockPath(), first.lockPath());
}

TEST_F(SingleInstanceLock, TheLockEndsWithItsHolder) {
    {
        const SingleInstance first = SingleInstance::acquire(m_program);
        ASSERT_EQ(first.state(), SingleInstance::State::First);
    }
    const SingleInstance again = SingleInstance::acquire(m_program);
    EXPECT_EQ(again.state(), SingleInstance::State::First);
}

TEST_F(SingleInstanceLock, MovingKeepsTheLock) {
    SingleInstance first = SingleInstance::acquire(m_program);
    SingleInstance moved = std::move(first);
    EXPECT_TRUE(SingleInstance::acquire(m_program).alreadyRunning());
    SingleInstance target = SingleInstance::acquire(m_dir.write("bin/other", "other"));
    target = std::move(moved);
    EXPECT_TRUE(SingleInstance::acquire(m_program).alreadyRunning());
}

TEST_F(SingleInstanceLock, AnotherProgramFileHasItsOwnLock) {
    const SingleInstance first = SingleInstance::acquire(m_program);
    const SingleInstance other = SingleInstance::acquire(m_dir.write("copy/update", "program"));
    EXPECT_EQ(first.state(), SingleInstance::State::First);
    EXPECT_EQ(other.state(), SingleInstance::State::First);
}

TEST_F(SingleInstanceLock, EveryPathToTheSameFileSharesTheLock) {
    const std::string link = m_dir.file("link-to-update");
    ASSERT_EQ(symlink(m_program.c_str(), link.c_str()), 0);
    const SingleInstance first = SingleInstance::acquire(m_program);
    EXPECT_TRUE(SingleInstance::acquire(link).alreadyRunning());
    EXPECT_TRUE(SingleInstance::acquire(m_dir.path() + "bin/../bin/update").alreadyRunning());
}

TEST_F(SingleInstanceLock, AnUnusableLockFolderLetsTheProgramRun) {
    EnvGuard runtime("XDG_RUNTIME_DIR", (m_dir.path() + "missing").c_str());
    EnvGuard tmp("TMPDIR", (m_dir.path() + "missing-too").c_str());
    ASSERT_NE(lockFolder(), "/tmp");
    const SingleInstance first = SingleInstance::acquire(m_program);
    EXPECT_EQ(first.state(), SingleInstance::State::Unchecked);
    EXPECT_FALSE(first.alreadyRunning());
}

TEST_F(SingleInstanceLock, APlantedSymbolicLinkIsNotFollowed) {
    const std::string lockPath = SingleInstance::acquire(m_program).lockPath();
    ASSERT_EQ(unlink(lockPath.c_str()), 0);
    const std::string victim = m_dir.write("victim", "keep me");
    ASSERT_EQ(symlink(victim.c_str(), lockPath.c_str()), 0);
    EXPECT_EQ(SingleInstance::acquire(m_program).state(), SingleInstance::State::Unchecked);
    EXPECT_EQ(test::readFile(victim), "keep me");
}

}  // namespace
}  // namespace upd::app
