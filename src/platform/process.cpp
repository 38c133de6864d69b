#include "platform/process.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

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

// Opens the lock file and takes the lock; -1 when either fails. O_NOFOLLOW
// keeps a planted link in a shared temporary folder from redirecting us, and
// O_CLOEXEC keeps programs we start (a browser, a mail client) from
// inheriting the lock and outliving us with it.
int OpenAndLock(const std::string& path, bool* busy) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        *busy = errno == EWOULDBLOCK;
        close(fd);
        return -1;
    }
    return fd;
}

std::string ExecutablePath() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.string();
}

}  // namespace

bool AcquireSingleInstanceLock(const std::string& name) {
    bool busy = false;
    const std::string runtime = EnvironmentValue("XDG_RUNTIME_DIR");
    int fd = -1;
    if (!runtime.empty()) {
        fd = OpenAndLock(runtime + "/" + name + ".lock", &busy);
        if (fd < 0 && busy) return false;
    }
    // Without a usable runtime folder the lock lives in the shared temporary
    // folder, where the user id in its name keeps users apart.
    if (fd < 0) {
        busy = false;
        fd = OpenAndLock(TemporaryFolder() + "/" + name + "-" + std::to_string(getuid()) + ".lock", &busy);
    }
    // The descriptor stays open, and the lock held, until the process ends.
    return fd >= 0;
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
