#include "platform/process.h"

#include <fcntl.h>
#include <pwd.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

namespace kestrune {
namespace {

std::string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string TemporaryFolder() {
    std::error_code ec;
    const std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : tmp.string();
}

// Why a lock could not be taken: another copy holds it, or something else
// (a missing or foreign folder, no space, a planted file) stands in the way.
enum class LockOutcome { Taken, HeldByAnotherCopy, Failed };

// Opens the lock file and takes the lock. O_NOFOLLOW keeps a planted link
// from redirecting us, and O_CLOEXEC keeps programs we start (a browser, a
// mail client) from inheriting the lock and outliving us with it.
// Until `deadline` the lock is tried again and again: polling rather than a
// blocking flock, which a signal or an alarm would have to break.
LockOutcome OpenAndLock(const std::string& path, std::chrono::steady_clock::time_point deadline,
                        std::string& problem) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        problem = path + ": " + std::strerror(errno);
        return LockOutcome::Failed;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        if (error == EINTR) continue;
        const auto now = std::chrono::steady_clock::now();
        if (error == EWOULDBLOCK && now < deadline) {
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                deadline - now, std::chrono::milliseconds(50)));
            continue;
        }
        close(fd);
        if (error == EWOULDBLOCK) {
            problem = path;
            return LockOutcome::HeldByAnotherCopy;
        }
        problem = path + ": " + std::strerror(error);
        return LockOutcome::Failed;
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return LockOutcome::Taken;
}

// The folder of the fallback lock: in the shared temporary folder, but one
// only this user can write to. Anyone may create names there first, so a
// folder that is a link, belongs to someone else or lets others write into
// it is refused rather than trusted.
bool PrivateLockFolder(const std::string& folder, std::string& problem) {
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        problem = folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) {
        problem = folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        problem = folder + ": not a folder";
        return false;
    }
    if (st.st_uid != getuid()) {
        problem = folder + ": owned by another user";
        return false;
    }
    if ((st.st_mode & 077) != 0 && chmod(folder.c_str(), 0700) != 0) {
        problem = folder + ": open to other users";
        return false;
    }
    return true;
}

// Where AcquireSingleInstanceLock took the lock or found it held.
std::string& LockFolder() {
    static std::string folder;
    return folder;
}

bool SocketAddress(const std::string& name, sockaddr_un& address, std::string& path) {
    if (LockFolder().empty()) return false;
    path = LockFolder() + "/" + name + ".socket";
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// The paths one connection may carry: far more than any "Open with" hands
// over, little enough to hold.
constexpr size_t kMaxHandedBytes = 64u << 20;
// A connection of this user that sends nothing is not waited for longer.
constexpr int kReceiveMilliseconds = 2000;

std::string ExecutablePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

}  // namespace

bool AcquireSingleInstanceLock(const std::string& name, double wait_seconds, std::string* held_at) {
    // A wait beyond a year is taken as a year: the clock's arithmetic must
    // not overflow.
    const double wait = std::isfinite(wait_seconds) && wait_seconds > 0 ? std::min(wait_seconds, 3.2e7) : 0.0;
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(wait));
    std::string problem;
    const auto held = [&] {
        if (held_at) *held_at = problem;
        return false;
    };
    const std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR");
    if (!runtime.empty()) {
        LockFolder() = runtime;
        switch (OpenAndLock(runtime + "/" + name + ".lock", deadline, problem)) {
            case LockOutcome::Taken: return true;
            case LockOutcome::HeldByAnotherCopy: return held();
            case LockOutcome::Failed: break;  // an unusable runtime folder: the fallback below
        }
    }
    // Without a usable runtime folder (cron, ssh without a desktop session,
    // containers) the lock lives in a private folder of the temporary folder,
    // named with the user id.
    const std::string folder = TemporaryFolder() + "/kestrune-" + std::to_string(getuid());
    LockFolder().clear();
    if (PrivateLockFolder(folder, problem)) {
        LockFolder() = folder;
        switch (OpenAndLock(folder + "/" + name + ".lock", deadline, problem)) {
            case LockOutcome::Taken: return true;
            case LockOutcome::HeldByAnotherCopy: return held();
            case LockOutcome::Failed: break;
        }
    }
    LockFolder().clear();
    // Only another copy may stop a run. Anything else in the way must not
    // end it silently with nothing converted: say so, and run without the
    // lock.
    const std::string line = "kestrunecmd: cannot take the single-instance lock (" + problem +
                             "); running without it\n";
    [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, line.data(), line.size());
    return true;
}

int ListenForOtherCopies(const std::string& name) {
    sockaddr_un address;
    std::string path;
    if (!SocketAddress(name, address, path)) return -1;
    // This copy holds the lock, so a socket found there was left by one that
    // ended without removing it. Anything else by that name is not ours to
    // remove.
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode) || st.st_uid != getuid() || unlink(path.c_str()) != 0) return -1;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return -1;
    // Owner only before anyone can connect (a connection is refused until
    // listen); the peer check below is what keeps other users out in any
    // case.
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        chmod(path.c_str(), 0600) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool ReceiveFromOtherCopy(int listen_fd, std::vector<std::string>& paths) {
    paths.clear();
    const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return false;
    // The kernel's word on who connected: a process of another user (one
    // that reached the socket anyhow) is refused before anything is read.
    ucred peer {};
    socklen_t size = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof peer || peer.uid != getuid()) {
        close(fd);
        return false;
    }
    std::string data;
    char buffer[65536];
    bool complete = false;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        if (poll(&ready, 1, kReceiveMilliseconds) <= 0) break;
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            complete = got == 0;
            break;
        }
        data.append(buffer, static_cast<size_t>(got));
        if (data.size() > kMaxHandedBytes) break;
    }
    close(fd);
    if (!complete) return false;
    // Paths end with a NUL each, the one byte no path can hold.
    size_t start = 0;
    for (size_t end; (end = data.find('\0', start)) != std::string::npos; start = end + 1)
        if (end > start) paths.push_back(data.substr(start, end - start));
    return true;
}

void StopListening(int listen_fd, const std::string& name) {
    if (listen_fd < 0) return;
    close(listen_fd);
    sockaddr_un address;
    std::string path;
    if (SocketAddress(name, address, path)) unlink(path.c_str());
}

bool SendToFirstCopy(const std::string& name, const std::vector<std::string>& paths) {
    sockaddr_un address;
    std::string path;
    if (!SocketAddress(name, address, path)) return false;
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return false;
    }
    std::string data;
    for (const std::string& p : paths) data += p + '\0';
    size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    close(fd);
    return sent == data.size();
}

std::string ProgramFolder() {
    const std::string exe = ExecutablePath();
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos) return "./";
    return exe.substr(0, slash + 1);
}

std::string ProgramName() {
    const std::string exe = ExecutablePath();
    std::string name = exe.substr(exe.rfind('/') + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.resize(dot);
    return name;
}

std::string HomeFolder() {
    std::string home = EnvironmentValue("HOME");
    if (home.empty()) {
        if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
    }
    while (home.size() > 1 && home.back() == '/') home.pop_back();
    return home.empty() ? "/" : home;
}

std::string AppDataFolder() {
    std::string folder = EnvironmentValue("XDG_CONFIG_HOME");
    if (folder.empty()) {
        std::string home = EnvironmentValue("HOME");
        if (home.empty()) {
            if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) home = pw->pw_dir;
        }
        folder = home + "/.config";
    }
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

}  // namespace kestrune
