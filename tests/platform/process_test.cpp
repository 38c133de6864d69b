#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/files.h"
#include "platform/process.h"
#include "support/harness.h"

namespace kestrune {
namespace {

using testing_support::TempDir;

// Sets (or clears, for nullptr) an environment variable for one test.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old, had_ = true;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~ScopedEnv() {
        if (had_) setenv(name_.c_str(), old_.c_str(), 1);
        else unsetenv(name_.c_str());
    }

  private:
    std::string name_, old_;
    bool had_ = false;
};

// Exit code of a forked child that tries to take the lock: 0 taken, 1 refused.
int TryLockInChild(const std::string& name) {
    const pid_t pid = fork();
    if (pid == 0) _exit(AcquireSingleInstanceLock(name) ? 0 : 1);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SingleInstanceLock, SecondCopyIsRefusedWhileTheFirstHoldsIt) {
    TempDir runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
    const std::string name = "lock test one";
    EXPECT_EQ(TryLockInChild(name), 0);  // nobody holds it yet; the child's lock ends with it
    ASSERT_TRUE(AcquireSingleInstanceLock(name));
    EXPECT_EQ(FileSize(runtime / (name + ".lock")), 0);
    EXPECT_EQ(TryLockInChild(name), 1);
    EXPECT_FALSE(AcquireSingleInstanceLock(name));  // a second take in the same process fails too
    EXPECT_EQ(TryLockInChild("another name"), 0);
}

TEST(SingleInstanceLock, ALockHeldByAnyoneElseRefuses) {
    TempDir runtime;
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().c_str());
    const int fd = open((runtime / "held elsewhere.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    EXPECT_EQ(TryLockInChild("held elsewhere"), 1);
    close(fd);
    EXPECT_EQ(TryLockInChild("held elsewhere"), 0);
}

TEST(SingleInstanceLock, WithoutRuntimeFolderUsesTempFolderWithUserId) {
    TempDir tmp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    EXPECT_EQ(TryLockInChild("lock test two"), 0);
    EXPECT_EQ(FileSize(tmp / ("lock test two-" + std::to_string(getuid()) + ".lock")), 0);
}

TEST(SingleInstanceLock, MissingRuntimeFolderFallsBackToTempFolder) {
    TempDir tmp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", (tmp / "does-not-exist").c_str());
    ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    EXPECT_EQ(TryLockInChild("lock test three"), 0);
    EXPECT_EQ(FileSize(tmp / ("lock test three-" + std::to_string(getuid()) + ".lock")), 0);
}

TEST(ProgramPaths, FolderAndNameOfThisExecutable) {
    const std::string folder = ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.front(), '/');
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(ProgramName(), "test_platform");
    EXPECT_GT(FileSize(folder + ProgramName()), 0);
}

TEST(ProgramPaths, AppDataFolderPrefersXdgConfigHome) {
    {
        ScopedEnv config("XDG_CONFIG_HOME", "/some/config/");
        EXPECT_EQ(AppDataFolder(), "/some/config");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", nullptr);
        ScopedEnv home("HOME", "/home/someone");
        EXPECT_EQ(AppDataFolder(), "/home/someone/.config");
    }
    {
        ScopedEnv config("XDG_CONFIG_HOME", "");
        ScopedEnv home("HOME", "/home/other");
        EXPECT_EQ(AppDataFolder(), "/home/other/.config");
    }
}

}  // namespace
}  // namespace kestrune
