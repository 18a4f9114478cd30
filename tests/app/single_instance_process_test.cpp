// The built program started twice: the second start ends at once, silently, with status 0,
// while the first runs on. The first then ends cleanly when the system asks it to.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QProcess>
#include <QProcessEnvironment>
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

class ProgramInstances : public ::testing::Test {
  protected:
    ProgramInstances() {
        // A private copy: its own folder and its own lock, whatever else runs here.
        std::filesystem::copy_file(UPD_UPDATE_EXECUTABLE, m_program);
        std::filesystem::create_directories(m_runtime);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(m_runtime));
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("LANG", "en_US.UTF-8");
        for (QProcess* process : {&m_first, &m_second}) {
            process->setProgram(QString::fromStdString(m_program));
            process->setProcessEnvironment(environment);
        }
    }
    ~ProgramInstances() override {
        for (QProcess* process : {&m_first, &m_second}) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
        }
    }

    test::TempDir m_dir;
    std::string m_program = m_dir.path() + "update";
    std::string m_runtime = m_dir.path() + "run";
    QProcess m_first;
    QProcess m_second;
};

TEST_F(ProgramInstances, TheSecondStartEndsAtOnceWithStatusZero) {
    const std::string lockPath =
        lockFilePath(m_runtime, std::filesystem::canonical(m_program).string());

    m_first.start();
    ASSERT_TRUE(m_first.waitForStarted(10000));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return lockIsHeld(lockPath) || m_first.state() == QProcess::NotRunning; }, 20000))
        << "the first instance did not take its lock";
    ASSERT_EQ(m_first.state(), QProcess::Running) << m_first.readAllStandardError().toStdString();

    m_second.start();
    ASSERT_TRUE(m_second.waitForFinished(20000)) << "the second instance keeps running";
    EXPECT_EQ(m_second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_second.exitCode(), 0);
    EXPECT_TRUE(m_second.readAllStandardOutput().isEmpty());
    EXPECT_TRUE(m_second.readAllStandardError().isEmpty());

    EXPECT_EQ(m_first.state(), QProcess::Running);

    // The session ending: the program closes its windows and ends normally.
    m_first.terminate();
    ASSERT_TRUE(m_first.waitForFinished(20000));
    EXPECT_EQ(m_first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(m_first.exitCode(), 0);
    EXPECT_FALSE(lockIsHeld(lockPath));
}

}  // namespace
}  // namespace upd::app
