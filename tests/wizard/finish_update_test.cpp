// What the finish page does with the plan's rows, and a program that cannot be started:
// the files stay installed and the failure is reported, never taken for a start.
#include "wizard/finish_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/env_guard.h"
#include "tests/support/temp_dir.h"

namespace upd::wizard {
namespace {

// Schemes and names compare without case: these rows are the updater's. The other kinds: the
// test below, auto_update_test.sh and the GUI.
TEST(FinishUpdate, TheNewUpdaterIsInstalledWithItsRunBitAndStarted) {
    const test::TempDir dir;
    const std::vector<FinishRow> rows = {{"HTTP://h/UPDATE.EXE", "UPDATE.EXE"},
                                         {"http://h/FileMove.exe", "FileMove.exe"}};
    // A script that records its start; then a Windows program, which this system cannot run.
    dir.write("update/UPDATE.EXE", "#!/bin/sh\ntouch started\n");
    dir.write("update/FileMove.exe", "mover");
    FinishResult result = finishUpdate(dir.path(), rows);
    EXPECT_TRUE(bool(result));
    EXPECT_EQ(test::readFile(dir.file("FileMove.exe")), "mover");
    struct stat info {};
    ASSERT_EQ(::stat(dir.file("reupdate.exe").c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);
    for (int i = 0; i < 200 && ::access(dir.file("started").c_str(), F_OK) != 0; ++i) {
        ::usleep(10'000);
    }
    EXPECT_EQ(::access(dir.file("started").c_str(), F_OK), 0);

    dir.write("update/UPDATE.EXE", std::string("MZ\x90\0\3\0\0\0", 8));
    result = finishUpdate(dir.path(), {rows[0]});
    EXPECT_FALSE(bool(result));
    EXPECT_FALSE(result.failure);
    EXPECT_EQ(result.startError, ENOEXEC);
    EXPECT_EQ(test::readFile(dir.file("reupdate.exe")).substr(0, 2), "MZ");
}

TEST(FinishUpdate, NoOpenerIsAFailureNotAnOpenedPackage) {
    const test::TempDir dir;
    dir.write("update/Setup.zip", "PK");
    test::EnvGuard env;
    env.set("PATH", dir.path().c_str());
    const FinishResult result = finishUpdate(dir.path(), {{"http://h/Setup.zip", "Setup.zip"}});
    EXPECT_EQ(result.kind, FinishKind::FullPackage);
    EXPECT_EQ(result.startError, ENOENT);
}

}  // namespace
}  // namespace upd::wizard
