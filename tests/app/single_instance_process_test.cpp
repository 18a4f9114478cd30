// The built program started twice: the second start ends at once, silently, with status 0,
// while the first runs on. The first then ends cleanly when the system asks it to.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QProcess>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/single_instance.h"
#include "tests/support/temp_dir.h"

namespace upd::app {
namespace {

// Whether some process holds a flock on the lock file, as the kernel lists it in
// /proc/locks ("1: FLOCK  ADVISORY  WRITE <pid> <major>:<minor>:<inode> 0 EOF"). Looking
// never takes the lock: a probe that held it, however briefly, could make the instance
// starting at that moment believe that another one runs, and end.
bool lockIsHeld(const std::string& path) {
    struct stat file {};
    if (stat(path.c_str(), &file) != 0) {
        return false;
    }
    char device[64];
    std::snprintf(device, sizeof device, " %02x:%02x:%llu ", major(file.st_dev), minor(file.st_dev),
                  static_cast<unsigned long long>(file.st_ino));
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        if (line.find("FLOCK") != std::string::npos && line.find("->") == std::string::npos &&
            line.find(device) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST(ProgramInstances, TheSecondStartEndsAtOnceWithStatusZero) {
    // A private copy in a private folder with a private lock folder, whatever else runs here.
    const test::TempDir dir;
    const std::string program = dir.path() + "update";
    std::filesystem::copy_file(UPD_UPDATE_EXECUTABLE, program);
    const std::string lockPath =
        lockFilePath(dir.path(), std::filesystem::canonical(program).string());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(dir.path()));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("LANG", "en_US.UTF-8");
    QProcess first;  // a QProcess still running when destroyed is killed
    QProcess second;
    for (QProcess* process : {&first, &second}) {
        process->setProgram(QString::fromStdString(program));
        process->setProcessEnvironment(environment);
    }

    first.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lockIsHeld(lockPath) || first.state() == QProcess::NotRunning; }, 20000))
        << "the first instance did not take its lock";
    ASSERT_EQ(first.state(), QProcess::Running) << first.readAllStandardError().toStdString();

    second.start();
    ASSERT_TRUE(second.waitForFinished(20000)) << "the second instance keeps running";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(second.readAllStandardError().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    // The session ending: the program closes its windows and ends normally.
    first.terminate();
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_FALSE(lockIsHeld(lockPath));
}

}  // namespace
}  // namespace upd::app
