#include "platform/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <new>
#include <random>
#include <sstream>
#include <thread>
#include <unordered_set>

#include "platform/files.h"

namespace kestrune {
namespace {

// Creating, publishing and forgetting a temporary file each happen under
// this lock, and so does the removal at exit: a file is therefore either
// known here (and removed at exit) or already renamed over its target, and
// no file can be created or renamed after the removal has run. The slow
// part, writing the file, happens outside the lock.
struct Registry {
    std::mutex lock;
    std::unordered_set<std::string> paths;
    bool ending = false;
};

Registry& TheRegistry() {
    // Never destroyed: a close signal may arrive while static destructors run.
    static Registry* registry = new Registry;
    return *registry;
}

constexpr const char* kStagingPrefix = ".kestrune-";
constexpr const char* kStagingSuffix = ".part";

// When a process started, in clock ticks since boot (the 22nd field of its
// stat line, counted after the command name, which may hold spaces and
// parentheses); "" when unknown. With the boot, it tells a writer from a
// later process that was given the same id.
std::string ProcessStart(const std::string& pid) {
    std::ifstream file("/proc/" + pid + "/stat");
    std::string line;
    if (!std::getline(file, line)) return std::string();
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return std::string();
    std::istringstream fields(line.substr(close + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) return field;
    return std::string();
}

// The first 8 hex digits of an id file; "0" when unknown.
std::string IdTag(const char* path) {
    std::ifstream file(path);
    std::string id;
    file >> id;
    std::string digits;
    for (char c : id)
        if (std::isxdigit(static_cast<unsigned char>(c)) && digits.size() < 8) digits += c;
    return digits.empty() ? "0" : digits;
}

// The process id namespace, whose ids /proc shows; "0" when unknown.
std::string PidNamespace() {
    struct stat info {};
    if (stat("/proc/self/ns/pid", &info) != 0) return "0";
    return std::to_string(info.st_ino);
}

// Who wrote a staging file: the machine, its boot, the process id namespace,
// the process id and when that process started.
struct Writer {
    std::string machine, boot, pids, pid, start;
};

const Writer& ThisWriter() {
    static const Writer writer = [] {
        std::string machine = IdTag("/etc/machine-id");
        if (machine == "0") {
            char host[256] = {};
            gethostname(host, sizeof host - 1);
            char hashed[9];
            std::snprintf(hashed, sizeof hashed, "%08zx", std::hash<std::string>()(host) & 0xffffffffu);
            machine = hashed;
        }
        const std::string start = ProcessStart("self");
        return Writer{machine, IdTag("/proc/sys/kernel/random/boot_id"), PidNamespace(),
                      std::to_string(getpid()), start.empty() ? "0" : start};
    }();
    return writer;
}

std::string StagingName() {
    thread_local std::mt19937 generator(static_cast<std::mt19937::result_type>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count() ^
        std::hash<std::thread::id>()(std::this_thread::get_id())));
    std::uniform_int_distribution<int> letter(0, 25);
    const Writer& w = ThisWriter();
    std::string name = kStagingPrefix + w.machine + "-" + w.boot + "-" + w.pids + "-" + w.pid + "-" + w.start + "-";
    for (int i = 0; i < 8; ++i) name += static_cast<char>('a' + letter(generator));
    return name + kStagingSuffix;
}

// The writer a staging name names; false for any other name.
bool ParseStagingName(const std::string& name, Writer& writer) {
    const std::string prefix = kStagingPrefix, suffix = kStagingSuffix;
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    std::istringstream parts(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()));
    std::string random;
    for (std::string* field : {&writer.machine, &writer.boot, &writer.pids, &writer.pid, &writer.start})
        if (!std::getline(parts, *field, '-') || field->empty()) return false;
    if (!std::getline(parts, random) || random.empty()) return false;
    for (char c : writer.pid + writer.start)
        if (c < '0' || c > '9') return false;
    return true;
}

// True only when the writer is surely gone: this machine in another boot,
// or, in this boot and process id namespace, no such process or one of that
// id that started at another time. Files of other machines (a shared
// folder) or namespaces stay: their writers cannot be seen from here.
bool WriterGone(const Writer& writer) {
    const Writer& self = ThisWriter();
    if (writer.machine != self.machine) return false;
    if (writer.boot != self.boot) return writer.boot != "0" && self.boot != "0";
    if (writer.pids != self.pids || self.pids == "0") return false;
    if (writer.pid == self.pid && writer.start == self.start) return false;
    struct stat info {};
    if (stat(("/proc/" + writer.pid).c_str(), &info) != 0) return errno == ENOENT;
    const std::string start = ProcessStart(writer.pid);
    return !start.empty() && writer.start != "0" && start != writer.start;
}

// Removes the staging files in folder (ending with "/", or "" for the
// current one) that this user's writers left behind when they were killed.
void RemoveStaleStagingFiles(const std::string& folder) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    const uid_t user = geteuid();
    while (const dirent* entry = readdir(dir)) {
        Writer writer;
        if (!ParseStagingName(entry->d_name, writer)) continue;
        const std::string path = folder + entry->d_name;
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != user) continue;
        if (WriterGone(writer)) unlink(path.c_str());
    }
    closedir(dir);
}

}  // namespace

void RemoveStaleTemporaryFiles(const std::string& folder) {
    // Once per folder per process, before its first staging file.
    static std::mutex lock;
    static auto* swept = new std::unordered_set<std::string>;
    const std::string key = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    std::lock_guard guard(lock);
    if (!swept->insert(key).second) return;
    RemoveStaleStagingFiles(key);
}

std::string CreateTemporaryBeside(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    try {
        RemoveStaleTemporaryFiles(folder);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = folder + StagingName();
            if (CreateTemporaryFile(candidate)) return candidate;
            if (errno != EEXIST) break;
        }
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
    }
    return std::string();
}

bool CreateTemporaryFile(const std::string& path) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    if (r.ending) {
        errno = ECANCELED;
        return false;
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    close(fd);
    try {
        r.paths.insert(path);
    } catch (...) {
        unlink(path.c_str());
        errno = ENOMEM;
        return false;
    }
    return true;
}

bool PublishTemporaryFile(const std::string& temporary, const std::string& target) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    if (r.ending) return false;
    const bool renamed = RenameFile(temporary, target);
    if (renamed) r.paths.erase(temporary);
    return renamed;
}

void DiscardTemporaryFile(const std::string& temporary) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    if (r.ending) return;
    ForceDeleteFile(temporary);
    r.paths.erase(temporary);
}

void RemoveTemporaryFilesForExit() {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    r.ending = true;
    for (const std::string& path : r.paths) unlink(path.c_str());
    r.paths.clear();
}

}  // namespace kestrune
