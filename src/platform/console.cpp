#include "platform/console.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/temporary_files.h"
#include "platform/text.h"

namespace kestrune {
namespace {

// The run's threads print their own lines while the main thread may print
// too: one lock keeps every line whole.
std::mutex& PrintMutex() {
    static std::mutex m;
    return m;
}

void WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // a closed pipe or a full disk: the line is lost, the run goes on
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

// Terminal settings saved while a key wait has the terminal in raw mode, so
// that a close signal arriving meanwhile can put them back.
struct termios saved_terminal;
std::atomic<bool> terminal_changed{false};

void RestoreTerminal() {
    if (terminal_changed.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
}

int close_pipe[2] = {-1, -1};

// Only async-signal-safe calls here; the real work happens on the watcher
// thread, outside the signal context.
void OnCloseSignal(int) {
    const int saved_errno = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(close_pipe[1], &byte, 1);
    errno = saved_errno;
}

// A reader that went away (a pager quit early) must not kill the process:
// the write fails with EPIPE and the line is dropped. A handler rather than
// SIG_IGN, so that programs we start get the default disposition back.
void OnBrokenPipe(int) {}

std::atomic<void (*)()> close_request_handler{nullptr};

void WatchCloseSignals() {
    bool handed_over = false;
    for (;;) {
        char byte = 0;
        const ssize_t n = read(close_pipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) return;  // the pipe is gone: nothing left to watch
        // The first signal goes to the handler when one is set; a second one
        // ends the process even if the handler has not got round to it.
        void (*handler)() = close_request_handler.load();
        if (handler && !handed_over) {
            handed_over = true;
            handler();
            continue;
        }
        EndProcessAfterClose();
    }
}

void ShutdownConsole() {
    RestoreTerminal();
    std::fflush(nullptr);
}

// KESTRUNE_CONSOLE_UTF8 set to anything but "" or "0": redirected lines are
// UTF-8 with LF, for grep, less and log collectors. Read at every line, not
// once, so that tests in one process can switch it.
bool RedirectedAsUtf8() {
    const char* value = std::getenv("KESTRUNE_CONSOLE_UTF8");
    return value && *value && std::string_view(value) != "0";
}

}  // namespace

void PrintLine(const std::string& text) {
    std::lock_guard lock(PrintMutex());
    if (isatty(STDOUT_FILENO)) {
        const std::string line = text + "\r\n";
        WriteAll(STDOUT_FILENO, line.data(), line.size());
        return;
    }
    if (RedirectedAsUtf8()) {
        const std::string line = text + "\n";
        WriteAll(STDOUT_FILENO, line.data(), line.size());
        return;
    }
    const std::u16string units = Utf8ToUtf16(text) + u"\r\n";
    std::string bytes;
    bytes.reserve(units.size() * 2);
    for (char16_t u : units) {
        bytes.push_back(static_cast<char>(u & 0xFF));
        bytes.push_back(static_cast<char>(u >> 8));
    }
    WriteAll(STDOUT_FILENO, bytes.data(), bytes.size());
}

void SetConsoleTitle(const std::string& title) {
    if (!isatty(STDOUT_FILENO)) return;
    std::lock_guard lock(PrintMutex());
    const std::string escape = "\x1b]0;" + title + "\x07";
    WriteAll(STDOUT_FILENO, escape.data(), escape.size());
}

void WaitForKey() {
    if (!isatty(STDIN_FILENO)) return;
    struct termios current;
    if (tcgetattr(STDIN_FILENO, &current) != 0) return;
    saved_terminal = current;
    struct termios raw = current;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    terminal_changed = true;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) {
        terminal_changed = false;
        return;
    }
    // A blocking read: it returns with the first key, or with 0 at end of input.
    char key = 0;
    ssize_t n;
    do {
        n = read(STDIN_FILENO, &key, 1);
    } while (n < 0 && errno == EINTR);
    RestoreTerminal();
}

void EndProcessAfterClose() {
    // Other threads may still be converting, so the static destructors must
    // not run under them: quick_exit runs the registered shutdown routines
    // (at_quick_exit), among them the removal of the temporary files still
    // being written, and ends the process.
    std::quick_exit(0);
}

void SetCloseRequestHandler(void (*handler)()) { close_request_handler.store(handler); }

void InstallCloseHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        // A write past the file-size limit then fails (EFBIG) and fails its
        // file, instead of ending the whole run.
        signal(SIGXFSZ, SIG_IGN);
        if (pipe2(close_pipe, O_CLOEXEC) != 0) return;
        try {
            std::thread(WatchCloseSignals).detach();
        } catch (const std::system_error&) {
            // No thread to be had: close signals keep their default action,
            // and the next run removes the staging files they leave.
            close(close_pipe[0]);
            close(close_pipe[1]);
            close_pipe[0] = close_pipe[1] = -1;
            return;
        }
        at_quick_exit(ShutdownConsole);
        // Registered last, so it runs first.
        at_quick_exit(RemoveTemporaryFilesForExit);
        struct sigaction action {};
        action.sa_handler = OnCloseSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGHUP, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        action.sa_handler = OnBrokenPipe;
        sigaction(SIGPIPE, &action, nullptr);
    });
}

}  // namespace kestrune
