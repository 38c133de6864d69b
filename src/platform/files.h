// File-system services on UTF-8 paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// Size in bytes; -1 when nothing exists at the path; -2 for a folder.
int64_t FileSize(const std::string& path);
bool IsFolder(const std::string& path);

struct FolderEntry {
    std::string name;
    bool is_folder = false;
};
// Every entry but "." and "..", hidden ones included, in readdir order.
// False when the folder cannot be opened.
bool ListFolder(const std::string& folder, std::vector<FolderEntry>& entries);

// Device and inode of a folder (following links), to detect folder links
// that lead back to a folder already being scanned. False when unknown.
struct FolderIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FolderIdentity&) const = default;
};
bool GetFolderIdentity(const std::string& path, FolderIdentity& id);

// True for a folder (links followed) on a file system the kernel makes up
// (proc, sysfs, cgroup, debugfs, /dev and the like): their trees are
// endless, hold every other process's folders or change while walked, and
// hold no pictures.
bool IsOnKernelFileSystem(const std::string& path);

// The absolute path with every link, "." and ".." resolved; "" when some
// part of it does not exist.
std::string ResolvedPath(const std::string& path);

bool CreateFolder(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// Makes the file writable, then unlinks it.
bool ForceDeleteFile(const std::string& path);
// True when nothing is left at the path (including when nothing was there).
bool DeleteFileIfExists(const std::string& path);

// Last-write time as a local-time count (see clock.h); false on error.
bool GetLastWriteTime(const std::string& path, int64_t& local_seconds);
// Sets the last-write time from a local-time count, access time unchanged.
bool SetLastWriteTime(const std::string& path, int64_t local_seconds);
// The last-write instant itself (nanoseconds since 1970-01-01 UTC), with no
// local-time count in between: copying it never depends on the time zone or
// on which of two repeated daylight-saving hours it lies in.
bool GetLastWriteInstant(const std::string& path, int64_t& nanoseconds);
bool SetLastWriteInstant(const std::string& path, int64_t nanoseconds);

// A regular file opened for reading (its descriptor, blocking, closed on
// exec); -1 for anything else. A FIFO or device put where a file was listed
// is refused at once instead of waiting for a writer that may never come.
int OpenRegularFile(const std::string& path);

// A regular file of at most max_bytes, whole, into memory; false when it
// cannot be read, is not a regular file or is larger.
bool ReadWholeFile(const std::string& path, std::string& bytes, size_t max_bytes = SIZE_MAX);
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes, size_t max_bytes = SIZE_MAX);

}  // namespace kestrune
