#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

#include "platform/console.h"
#include "support/harness.h"

namespace kestrune {
namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

// Runs `body` with file descriptor `fd` pointing at `target`, then puts the
// old one back.
void WithFd(int fd, int target, const std::function<void()>& body) {
    std::fflush(nullptr);
    const int saved = dup(fd);
    ASSERT_GE(saved, 0);
    ASSERT_GE(dup2(target, fd), 0);
    body();
    dup2(saved, fd);
    close(saved);
}

std::string Utf16Le(std::u16string_view units) {
    std::string bytes;
    for (char16_t u : units) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    return bytes;
}

TEST(ConsoleRedirected, LinesAreUtf16LeWithCrLfAndNoTitle) {
    TempDir dir;
    const int file = open((dir / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    WithFd(STDOUT_FILENO, file, [] {
        SetConsoleTitle("Some Title");
        PrintLine("2.5");
        PrintLine(" ");
        PrintLine("caf\xC3\xA9 \xF0\x9F\x98\x80");
        PrintLine("");
    });
    close(file);
    const std::string expected = Utf16Le(u"2.5\r\n \r\ncaf\u00E9 \U0001F600\r\n\r\n");
    EXPECT_EQ(ReadFileBytes(dir / "out"), expected);
}

// A pseudo-terminal pair with output post-processing off, so the bytes the
// program writes arrive unchanged.
struct Pty {
    int master = -1;
    int slave = -1;
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        termios t;
        if (slave >= 0 && tcgetattr(slave, &t) == 0) {
            t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
            tcsetattr(slave, TCSANOW, &t);
        }
    }
    ~Pty() {
        if (slave >= 0) close(slave);
        if (master >= 0) close(master);
    }
    std::string ReadAvailable() const {
        std::string out;
        char buf[256];
        const int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
        fcntl(master, F_SETFL, flags);
        return out;
    }
};

TEST(ConsoleTerminal, LinesAreUtf8AndTheTitleIsAnXtermEscape) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    WithFd(STDOUT_FILENO, pty.slave, [] {
        SetConsoleTitle("Tarvel GIF to IMAGE 2.5");
        PrintLine("caf\xC3\xA9");
    });
    EXPECT_EQ(pty.ReadAvailable(), "\x1b]0;Tarvel GIF to IMAGE 2.5\x07" "caf\xC3\xA9\r\n");
}

TEST(ConsoleKeyWait, EndsAtOnceWhenInputIsNotATerminal) {
    const int null_fd = open("/dev/null", O_RDONLY);
    ASSERT_GE(null_fd, 0);
    WithFd(STDIN_FILENO, null_fd, [] { WaitForKey(); });
    close(null_fd);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    WithFd(STDIN_FILENO, fds[0], [] { WaitForKey(); });
    // A pipe is not a terminal: the pending byte is left for whoever reads next.
    char c = 0;
    EXPECT_EQ(read(fds[0], &c, 1), 1);
    close(fds[0]);
    close(fds[1]);
}

TEST(ConsoleKeyWait, TakesOneKeyOnATerminalAndRestoresItsSettings) {
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    termios before;
    ASSERT_EQ(tcgetattr(pty.slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);
    ASSERT_TRUE(before.c_lflag & ECHO);
    WithFd(STDIN_FILENO, pty.slave, [&] {
        std::thread waiter([] { WaitForKey(); });
        // Type only once the wait has switched the terminal, so that the echo
        // setting in force is the wait's own.
        termios now{};
        for (int i = 0; i < 10000; ++i) {
            tcgetattr(pty.slave, &now);
            if (!(now.c_lflag & ICANON)) break;
            usleep(1000);
        }
        EXPECT_FALSE(now.c_lflag & (ICANON | ECHO));
        // Without canonical mode one key is enough; with it, the wait would
        // need a whole line and never end.
        EXPECT_EQ(write(pty.master, "ab", 2), 2);
        waiter.join();
    });
    termios after;
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    // The key taken was not echoed.
    EXPECT_EQ(pty.ReadAvailable().find('a'), std::string::npos);
    // Exactly one key taken: "b" is still pending.
    termios raw = after;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 10;
    tcsetattr(pty.slave, TCSANOW, &raw);
    char rest[4] = {};
    EXPECT_EQ(read(pty.slave, rest, sizeof rest), 1);
    EXPECT_EQ(rest[0], 'b');
}

// Forks a child that installs the close handlers and a shutdown routine,
// sends itself `sig` and would exit with 3 if it survived.
void ExpectCleanEndOn(int sig) {
    TempDir dir;
    const std::string marker = dir / "shutdown-ran";
    const pid_t pid = fork();
    if (pid == 0) {
        static std::string marker_path;
        marker_path = marker;
        InstallCloseHandlers();
        at_quick_exit([] {
            const int fd = open(marker_path.c_str(), O_WRONLY | O_CREAT, 0600);
            if (fd >= 0) close(fd);
        });
        kill(getpid(), sig);
        for (int i = 0; i < 600; ++i) usleep(100000);
        _exit(3);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(access(marker.c_str(), F_OK), 0) << "shutdown routine did not run";
}

TEST(ConsoleClose, HangupInterruptAndTerminateEndWithCodeZero) {
    ExpectCleanEndOn(SIGHUP);
    ExpectCleanEndOn(SIGINT);
    ExpectCleanEndOn(SIGTERM);
}

TEST(ConsoleClose, AReaderThatWentAwayDoesNotKillTheProcess) {
    const pid_t pid = fork();
    if (pid == 0) {
        int fds[2];
        if (pipe(fds) != 0) _exit(4);
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        InstallCloseHandlers();
        PrintLine("nobody reads this");
        PrintLine("nor this");
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace kestrune
