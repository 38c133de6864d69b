#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/files.h"
#include "platform/process.h"
#include "support/harness.h"

namespace kestrune {
namespace {

using testing_support::TempDir;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

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
    EXPECT_EQ(FileSize(tmp / ("kestrune-" + std::to_string(getuid())) + "/lock test two.lock"), 0);
}

TEST(SingleInstanceLock, MissingRuntimeFolderFallsBackToTempFolder) {
    TempDir tmp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", (tmp / "does-not-exist").c_str());
    ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    EXPECT_EQ(TryLockInChild("lock test three"), 0);
    EXPECT_EQ(FileSize(tmp / ("kestrune-" + std::to_string(getuid())) + "/lock test three.lock"), 0);
}

// Like TryLockInChild, with what the child wrote to standard error.
int TryLockInChildCapturing(const std::string& name, std::string& err) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipe_fds[1], STDERR_FILENO);
        close(pipe_fds[0]);
        _exit(AcquireSingleInstanceLock(name) ? 0 : 1);
    }
    close(pipe_fds[1]);
    err.clear();
    char buffer[512];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) > 0;) err.append(buffer, static_cast<size_t>(n));
    close(pipe_fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What another user of the machine may have put where the fallback lock's
// folder goes, and what the run must do about it: only another copy holding
// the lock stops it; anything else is one line on standard error, and the
// run goes on.
struct PlantedCase {
    const char* what;
    bool needs_root;
    void (*plant)(const std::string& folder, const std::string& elsewhere);
    int exit_code;          // 0 runs, 1 refused
    bool says_why;          // one line on standard error
    bool lock_in_folder;    // the lock file is then in the private folder
};

class FallbackLock : public testing::TestWithParam<PlantedCase> {};

TEST_P(FallbackLock, OnlyAnotherCopyStopsTheRun) {
    const PlantedCase c = GetParam();
    if (c.needs_root && geteuid() != 0) GTEST_SKIP() << "needs root to plant a folder owned by another user";
    TempDir tmp;
    ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
    ScopedEnv tmpdir("TMPDIR", tmp.path().c_str());
    const std::string folder = tmp / ("kestrune-" + std::to_string(getuid()));
    const std::string elsewhere = tmp / "elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0777), 0);
    c.plant(folder, elsewhere);
    std::string err;
    EXPECT_EQ(TryLockInChildCapturing("planted", err), c.exit_code) << c.what;
    if (c.says_why) {
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what << ": " << err;
        EXPECT_NE(err.find("single-instance lock"), std::string::npos) << c.what << ": " << err;
    } else {
        EXPECT_EQ(err, "") << c.what;
    }
    EXPECT_EQ(FileSize(folder + "/planted.lock") == 0, c.lock_in_folder) << c.what;
    EXPECT_EQ(FileSize(elsewhere + "/planted.lock"), -1) << c.what << ": nothing is created through a link";
    struct stat st {};
    if (c.lock_in_folder) {
        ASSERT_EQ(lstat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << c.what;
    }
}

int held_lock = -1;  // kept open by the "another copy" case for the child to meet

INSTANTIATE_TEST_SUITE_P(
    Planted, FallbackLock,
    testing::Values(
        PlantedCase{"nothing there", false, [](const std::string&, const std::string&) {}, 0, false, true},
        PlantedCase{"a link to a folder of someone else", false,
                    [](const std::string& folder, const std::string& elsewhere) {
                        ASSERT_EQ(symlink(elsewhere.c_str(), folder.c_str()), 0);
                    },
                    0, true, false},
        PlantedCase{"a file in place of the folder", false,
                    [](const std::string& folder, const std::string&) { WriteFileBytes(folder, "x"); }, 0, true,
                    false},
        PlantedCase{"a folder owned by another user", true,
                    [](const std::string& folder, const std::string&) {
                        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
                        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
                        // And a lock file of the name this user's lock once had.
                        const std::string lock = fs::path(folder).parent_path() /
                                                 ("planted-" + std::to_string(getuid()) + ".lock");
                        const int fd = open(lock.c_str(), O_RDWR | O_CREAT, 0644);
                        ASSERT_GE(fd, 0);
                        close(fd);
                        ASSERT_EQ(chown(lock.c_str(), 65534, 65534), 0);
                    },
                    0, true, false},
        PlantedCase{"our own folder left open to others", false,
                    [](const std::string& folder, const std::string&) {
                        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
                        ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
                    },
                    0, false, true},
        PlantedCase{"another copy holding the lock", false,
                    [](const std::string& folder, const std::string&) {
                        ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
                        held_lock = open((folder + "/planted.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
                        ASSERT_GE(held_lock, 0);
                        ASSERT_EQ(flock(held_lock, LOCK_EX), 0);
                    },
                    1, false, true}),
    [](const auto& info) { return testing_support::ParamName({info.param.what}); });

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
