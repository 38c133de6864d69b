#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"

namespace kestrune {
namespace {

std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

// Closes the directory stream on every path out of ListFolder.
struct DirCloser {
    DIR* dir;
    ~DirCloser() {
        if (dir) closedir(dir);
    }
};

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) close(fd);
    }
};

}  // namespace

int64_t FileSize(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return -1;
    if (S_ISDIR(st.st_mode)) return -2;
    return static_cast<int64_t>(st.st_size);
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
    DirCloser closer{opendir(folder.c_str())};
    if (!closer.dir) return false;
    for (;;) {
        errno = 0;
        const dirent* entry = readdir(closer.dir);
        if (!entry) break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry e;
        e.name = name;
        if (entry->d_type == DT_DIR) {
            e.is_folder = true;
        } else if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            // A link to a folder is walked like a folder; the caller guards
            // against links that lead back up the tree.
            e.is_folder = IsFolder(JoinPath(folder, name));
        }
        entries.push_back(std::move(e));
    }
    return errno == 0;
}

bool GetFolderIdentity(const std::string& path, FolderIdentity& id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    id.device = static_cast<uint64_t>(st.st_dev);
    id.inode = static_cast<uint64_t>(st.st_ino);
    return true;
}

bool IsOnKernelFileSystem(const std::string& path) {
    struct statfs fs {};
    if (statfs(path.c_str(), &fs) != 0) return false;
    static constexpr unsigned long kKernelTypes[] = {
        0x9fa0,      // proc
        0x62656572,  // sysfs
        0x64626720,  // debugfs
        0x74726163,  // tracefs
        0x0027e0eb,  // cgroup
        0x63677270,  // cgroup2
        0x73636673,  // securityfs
        0x6165676c,  // pstore
        0xcafe4a11,  // bpf
        0x62656570,  // configfs
        0x65735543,  // fusectl
        0xf97cff8c,  // selinuxfs
        0x42494e4d,  // binfmt_misc
        0x00001cd1,  // devpts
        0x19800202,  // mqueue
        0xde5e81e4,  // efivarfs
        0x6e736673,  // nsfs
    };
    const unsigned long type = static_cast<unsigned long>(fs.f_type) & 0xffffffffUL;
    for (const unsigned long kernel : kKernelTypes)
        if (type == kernel) return true;
    // devtmpfs says it is a tmpfs, like any /tmp; it is told by being the
    // file system mounted on /dev.
    struct stat st {}, dev {}, root {};
    return stat(path.c_str(), &st) == 0 && stat("/dev", &dev) == 0 && stat("/", &root) == 0 &&
           dev.st_dev != root.st_dev && st.st_dev == dev.st_dev;
}

std::string ResolvedPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved) return std::string();
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool CreateFolder(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool RenameFile(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool ForceDeleteFile(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return false;
    // Only a regular file's own mode is touched; the mode of a link's target
    // is none of our business.
    if (S_ISREG(st.st_mode) && !(st.st_mode & S_IWUSR)) chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
    return unlink(path.c_str()) == 0;
}

bool DeleteFileIfExists(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    return unlink(path.c_str()) == 0;
}

bool GetLastWriteTime(const std::string& path, int64_t& local_seconds) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    local_seconds = ToLocalCount(st.st_mtim.tv_sec);
    return true;
}

bool SetLastWriteTime(const std::string& path, int64_t local_seconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // the access time stays as it is
    times[1].tv_sec = FromLocalCount(local_seconds);
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool GetLastWriteInstant(const std::string& path, int64_t& nanoseconds) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    nanoseconds = static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    return true;
}

bool SetLastWriteInstant(const std::string& path, int64_t nanoseconds) {
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    // Floor division, so instants before 1970 keep a valid nanosecond part.
    int64_t seconds = nanoseconds / 1'000'000'000;
    int64_t rest = nanoseconds % 1'000'000'000;
    if (rest < 0) {
        rest += 1'000'000'000;
        seconds -= 1;
    }
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(rest);
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

int OpenRegularFile(const std::string& path) {
    // Not blocking, so that a FIFO is refused below instead of waiting for a
    // writer; regular files ignore the flag, which is cleared once the file
    // is known to be one.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

namespace {

template <typename Bytes>
bool ReadAll(const std::string& path, Bytes& bytes, size_t max_bytes) {
    bytes.clear();
    // Devices, FIFOs and sockets never end or never start: /dev/zero would
    // fill the memory, a FIFO would hang the run.
    FdCloser file{OpenRegularFile(path)};
    if (file.fd < 0) return false;
    struct stat st;
    if (fstat(file.fd, &st) != 0) return false;
    if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > max_bytes) return false;
    bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(file.fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            bytes.clear();
            return false;
        }
        // A file still growing is held to the same bound.
        if (static_cast<size_t>(n) > max_bytes - bytes.size()) {
            bytes.clear();
            return false;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
}

}  // namespace

bool ReadWholeFile(const std::string& path, std::string& bytes, size_t max_bytes) {
    return ReadAll(path, bytes, max_bytes);
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, size_t max_bytes) {
    return ReadAll(path, bytes, max_bytes);
}

}  // namespace kestrune
