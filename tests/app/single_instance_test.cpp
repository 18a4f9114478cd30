#include "app/single_instance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

TEST(LockFolder, PrefersTheRuntimeFolderThenTheTemporaryFolder) {
    // clang-format off
    const struct { const char* runtime; const char* tmp; const char* folder; } cases[] = {
        {"/run/user/1000", "/var/tmp", "/run/user/1000"}, {nullptr, "/var/tmp", "/var/tmp"},
        {"relative/dir", "", "/tmp"},
    };
    // clang-format on
    for (const auto& c : cases) {
        test::EnvGuard env;
        env.set("XDG_RUNTIME_DIR", c.runtime).set("TMPDIR", c.tmp);
        EXPECT_EQ(lockFolder(), c.folder);
    }
}

TEST(LockFilePath, NamesTheProgramAndHashesItsPath) {
    const std::string path = lockFilePath("/run/user/1000", "/opt/app/update");
    EXPECT_EQ(path.rfind("/run/user/1000/update-", 0), 0u) << path;
    EXPECT_TRUE(path.ends_with(".lock")) << path;
    EXPECT_EQ(path, lockFilePath("/run/user/1000/", "/opt/app/update"));
    // Only plain characters of the name, and not too many of them.
    EXPECT_EQ(lockFilePath("/tmp", "/opt/my app/up date:1").rfind("/tmp/up_date_1-", 0), 0u);
    const std::string shortened = lockFilePath("/tmp", "/opt/" + std::string(300, 'x'));
    EXPECT_EQ(shortened.rfind("/tmp/" + std::string(64, 'x') + "-", 0), 0u) << shortened;
}

class SingleInstanceLock : public ::testing::Test {
  protected:
    SingleInstanceLock() { m_env.set("XDG_RUNTIME_DIR", m_dir.path().c_str()); }

    test::TempDir m_dir;
    test::EnvGuard m_env;
    std::string m_program = m_dir.write("bin/update", "program");
};

// One lock per program file, whatever the path to it, held until its holder ends.
TEST_F(SingleInstanceLock, SecondStartFindsTheFirstRunningUntilItEnds) {
    const std::string link = m_dir.file("link-to-update");
    ASSERT_EQ(symlink(m_program.c_str(), link.c_str()), 0);
    const std::string other = m_dir.write("copy/update", "program");
    SingleInstance holder = SingleInstance::acquire(other);
    ASSERT_EQ(holder.state(), SingleInstance::State::First);
    {
        SingleInstance first = SingleInstance::acquire(m_program);
        EXPECT_EQ(first.state(), SingleInstance::State::First);
        EXPECT_EQ(first.lockPath().rfind(m_dir.path(), 0), 0u) << first.lockPath();
        for (const std::string& path : {m_program, link, m_dir.path() + "bin/../bin/update"}) {
            EXPECT_TRUE(SingleInstance::acquire(path).alreadyRunning()) << path;
        }
        SingleInstance moved = std::move(first);
        holder = std::move(moved);
    }
    // The lock went along with both moves; the one it replaced was released.
    EXPECT_TRUE(SingleInstance::acquire(m_program).alreadyRunning());
    EXPECT_EQ(SingleInstance::acquire(other).state(), SingleInstance::State::First);
    holder = SingleInstance::acquire(other);
    EXPECT_EQ(SingleInstance::acquire(m_program).state(), SingleInstance::State::First);
}

TEST_F(SingleInstanceLock, AnUnusableLockFolderLetsTheProgramRun) {
    m_env.set("XDG_RUNTIME_DIR", (m_dir.path() + "missing").c_str())
        .set("TMPDIR", (m_dir.path() + "missing-too").c_str());
    ASSERT_NE(lockFolder(), "/tmp");
    EXPECT_EQ(SingleInstance::acquire(m_program).state(), SingleInstance::State::Unchecked);
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
