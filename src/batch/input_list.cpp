#include "batch/input_list.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include "batch/batch_state.h"
#include "formats/registry.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrune {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Every real folder met by one import, by device and inode. A folder is
// listed only the first time any path reaches it: links that lead back up
// the tree would make the scan endless, and two links to the same folder at
// every level would make it exponential. The first path, in the scan's
// order, is the one whose subfolder the outputs get.
using VisitedFolders = std::set<std::pair<uint64_t, uint64_t>>;

int ScanFolderBelow(const std::string& folder, VisitedFolders& visited);

// Asked before every entry at every depth: an import of "/" spends most of
// its time far below the top, so a pause or a break taken only between
// top-level entries would come seconds late. The window holds the gate shut
// while it asks whether to break.
bool KeepScanning() {
    pause_gate.Wait();
    return batch_progress.keep_running.load() == 1;
}

// Files first, then folders, each by name in byte order: the order of
// conversion is then the same on every file system and every machine, and
// the files of one folder stand together.
void SortForScan(std::vector<FolderEntry>& entries) {
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        if (a.is_folder != b.is_folder) return !a.is_folder;
        return a.name < b.name;
    });
}

// One entry of a listing: a folder is scanned at all depths, a file is
// offered to the input list.
int AddListedEntry(const std::string& folder, const FolderEntry& entry, VisitedFolders& visited) {
    if (!entry.is_folder) return AddInputFile(folder + entry.name);
    std::string name = entry.name;
    if (name.empty() || name.back() != '/') name += '/';
    return ScanFolderBelow(folder + name, visited);
}

// False when the folder was already visited by this import, or lies on a
// kernel file system: a link into /proc would reach every process's folders
// (and through their roots the whole machine).
bool FirstVisit(const std::string& folder, VisitedFolders& visited) {
    if (IsOnKernelFileSystem(folder)) return false;
    FolderIdentity id;
    if (!GetFolderIdentity(folder, id)) return true;
    return visited.insert({id.device, id.inode}).second;
}

int ScanFolderBelow(const std::string& folder, VisitedFolders& visited) {
    if (!FirstVisit(folder, visited)) return 0;
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) return 0;
    SortForScan(entries);
    int count = 0;
    for (const FolderEntry& entry : entries) {
        if (!KeepScanning()) break;
        count += AddListedEntry(folder, entry, visited);
    }
    return count;
}

void StoreTaken(int32_t taken) {
    std::lock_guard lock(batch_lock);
    batch_progress.taken = taken;
}

void AddToFileCount(int32_t added) {
    std::lock_guard lock(batch_lock);
    batch_progress.file_count += added;
}

// A list file's lines, read a block at a time so that a list of any size
// costs the memory of one line. A UTF-16 mark is honoured: reading such a
// file as UTF-8 would give lines that name nothing. The UTF-8 and UTF-32
// marks are only skipped.
class ListFileLines {
  public:
    explicit ListFileLines(const std::string& path) : file_(std::fopen(path.c_str(), "rb")) {}
    ~ListFileLines() {
        if (file_) std::fclose(file_);
    }
    ListFileLines(const ListFileLines&) = delete;
    ListFileLines& operator=(const ListFileLines&) = delete;

    bool IsOpen() const { return file_ != nullptr; }

    // The next line as UTF-8; false at the end of the file. A line longer
    // than any path can be is given as empty, and so names nothing.
    bool Next(std::string& line) {
        if (!started_) Start();
        line.clear();
        return utf16_ ? NextUtf16(line) : NextBytes(line);
    }

  private:
    // Far beyond any path the system accepts (4096 bytes).
    static constexpr size_t kMaxLineBytes = 65536;

    // Lines of UTF-8 (or unmarked) text, a block at a time.
    bool NextBytes(std::string& line) {
        bool any = false, too_long = false;
        for (;;) {
            if (position_ == length_ && !Fill()) return any;
            if (after_cr_) {
                after_cr_ = false;
                if (buffer_[position_] == '\n') {
                    ++position_;
                    continue;
                }
            }
            any = true;
            const char* begin = buffer_ + position_;
            const char* end = buffer_ + length_;
            const char* stop = std::find_if(begin, end, [](char c) { return c == '\n' || c == '\r'; });
            if (!too_long) {
                line.append(begin, stop);
                if (line.size() > kMaxLineBytes) {
                    too_long = true;
                    line.clear();
                }
            }
            position_ = static_cast<size_t>(stop - buffer_);
            if (stop == end) continue;
            // CR LF is one line end, also across two blocks; a lone CR ends
            // the line too.
            after_cr_ = *stop == '\r';
            ++position_;
            return true;
        }
    }

    bool NextUtf16(std::string& line) {
        bool too_long = false, any = false;
        for (;;) {
            char16_t unit = 0;
            if (!NextUnit(unit)) {
                if (!any) return false;
                break;
            }
            any = true;
            if (after_cr_) {
                after_cr_ = false;
                if (unit == u'\n') {
                    any = false;
                    continue;
                }
            }
            if (unit == u'\n') break;
            if (unit == u'\r') {
                after_cr_ = true;
                break;
            }
            if (too_long) continue;
            units_.push_back(unit);
            if (units_.size() > kMaxLineBytes) {
                too_long = true;
                units_.clear();
            }
        }
        line = Utf16ToUtf8(units_);
        units_.clear();
        return true;
    }

    bool Fill() {
        if (!file_) return false;
        length_ = std::fread(buffer_, 1, sizeof buffer_, file_);
        position_ = 0;
        return length_ > 0;
    }
    bool NextByte(unsigned char& byte) {
        if (position_ == length_ && !Fill()) return false;
        byte = static_cast<unsigned char>(buffer_[position_++]);
        return true;
    }
    // One UTF-16 unit; an odd last byte is dropped.
    bool NextUnit(char16_t& unit) {
        unsigned char first = 0, second = 0;
        if (!NextByte(first) || !NextByte(second)) return false;
        unit = static_cast<char16_t>(big_endian_ ? (first << 8) | second : (second << 8) | first);
        return true;
    }
    void Start() {
        started_ = true;
        Fill();
        const std::string_view head(buffer_, length_);
        // The UTF-32LE mark begins with the UTF-16LE one, so it is tested first.
        if (head.starts_with(std::string_view("\xFF\xFE\0\0", 4)) ||
            head.starts_with(std::string_view("\0\0\xFE\xFF", 4))) {
            position_ = 4;
        } else if (head.starts_with("\xEF\xBB\xBF")) {
            position_ = 3;
        } else if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF")) {
            utf16_ = true;
            big_endian_ = head[0] == '\xFE';
            position_ = 2;
        }
    }

    std::FILE* file_;
    char buffer_[65536];
    size_t length_ = 0, position_ = 0;
    bool started_ = false, utf16_ = false, big_endian_ = false;
    bool after_cr_ = false;
    std::u16string units_;
};

}  // namespace

InputEntry& InputList::operator[](const std::string& path) {
    if (const auto found = index_.find(path); found != index_.end()) return found->second->second;
    entries_.emplace_back(path, InputEntry{});
    const auto added = std::prev(entries_.end());
    index_.emplace(added->first, added);
    return added->second;
}

const InputEntry& InputList::at(const std::string& path) const {
    const auto found = index_.find(path);
    if (found == index_.end()) throw std::out_of_range("not in the input list: " + path);
    return found->second->second;
}

size_t InputList::erase(const std::string& path) {
    const auto found = index_.find(path);
    if (found == index_.end()) return 0;
    const auto entry = found->second;
    index_.erase(found);
    entries_.erase(entry);
    return 1;
}

void InputList::clear() {
    index_.clear();
    entries_.clear();
}

InputList& TheInputList() {
    static InputList list;
    return list;
}

std::string ExtensionPart(const std::string& path) {
    for (size_t i = path.size(); i-- > 0;) {
        const char c = path[i];
        if (IsSeparator(c) || c == ' ') return {};
        if (c != '.') continue;
        // A leading dot names a hidden file or folder, not an extension.
        if (i == 0 || IsSeparator(path[i - 1])) return {};
        const std::string after = path.substr(i + 1);
        return after.substr(0, after.find('"'));
    }
    return {};
}

std::string FolderPart(const std::string& path) {
    const size_t last = path.find_last_of("/\\");
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

int AddInputFile(const std::string& path) {
    if (FileSize(path) == 0) return 0;
    const std::string extension = ToLower(ExtensionPart(path));
    const auto& accepted = AcceptedInputExtensions();
    if (std::find(accepted.begin(), accepted.end(), extension) == accepted.end()) return 0;
    InputEntry& entry = TheInputList()[path];
    if (entry.added != 0) return 0;
    entry.added = 1;
    entry.subfolder = RelativeSubfolder(path, batch_state.input_folder);
    return 1;
}

std::string RelativeSubfolder(const std::string& path, const std::string& folder) {
    if (path.empty() || folder.empty()) return {};
    const std::string part = FolderPart(path);
    // A file found by the scan always lies below the input folder, so only
    // that leading part is removed. Removing every occurrence would also cut
    // a deeper folder that repeats the input folder's text ("/in/x/in/"),
    // which absolute paths make easy, and the subfolder would lose its "/".
    if (part.starts_with(folder)) return part.substr(folder.size());
    return ReplaceAll(part, folder, "");
}

int ScanFolder(const std::string& folder) {
    VisitedFolders visited;
    return ScanFolderBelow(folder, visited);
}

void ImportFolder() {
    int32_t taken = 0;
    int32_t added = 0;
    const std::string& folder = batch_state.input_folder;
    std::vector<FolderEntry> entries;
    VisitedFolders visited;
    if (FirstVisit(folder, visited) && ListFolder(folder, entries)) {
        SortForScan(entries);
        for (const FolderEntry& entry : entries) {
            if (!KeepScanning()) break;
            StoreTaken(++taken);
            added += AddListedEntry(folder, entry, visited);
        }
    }
    AddToFileCount(added);
}

void ImportListFile() {
    int32_t taken = 0;
    int32_t added = 0;
    ListFileLines lines(batch_state.input_file);
    // Folders named by several lines, or reached again below another, are
    // scanned once for the whole list.
    VisitedFolders visited;
    std::string line;
    while (lines.IsOpen() && KeepScanning() && lines.Next(line)) {
        // Only blanks are trimmed: a tab is part of the path, so a line that
        // starts with one names nothing.
        line = Trim(line, " ");
        // A NUL cannot be part of a path; such a line (a UTF-32 file read as
        // UTF-8) names nothing either.
        if (line.empty() || line.find('\0') != std::string::npos) continue;
        const int64_t size = FileSize(line);
        if (size == -1) continue;
        StoreTaken(++taken);
        if (size == -2) {
            if (line.back() != '/') line += '/';
            added += ScanFolderBelow(line, visited);
        } else {
            added += AddInputFile(line);
        }
    }
    AddToFileCount(added);
}

}  // namespace kestrune
