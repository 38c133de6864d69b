#include "platform/temporary_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
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

}  // namespace

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
