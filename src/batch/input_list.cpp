#include "batch/input_list.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "batch/batch_state.h"
#include "formats/registry.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrune {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The folders on the path from the scan's root down to the folder being
// listed. A folder link that leads to one of them would make the scan
// endless, so such a link is not followed.
using ScanPath = std::vector<FolderIdentity>;

int ScanFolderBelow(const std::string& folder, ScanPath& on_path);

// One entry of a listing: a folder is scanned at all depths, a file is
// offered to the input list.
int AddListedEntry(const std::string& folder, const FolderEntry& entry, ScanPath& on_path) {
    if (!entry.is_folder) return AddInputFile(folder + entry.name);
    std::string name = entry.name;
    if (name.empty() || name.back() != '/') name += '/';
    return ScanFolderBelow(folder + name, on_path);
}

int ScanFolderBelow(const std::string& folder, ScanPath& on_path) {
    FolderIdentity id;
    const bool known = GetFolderIdentity(folder, id);
    if (known && std::find(on_path.begin(), on_path.end(), id) != on_path.end()) return 0;
    std::vector<FolderEntry> entries;
    if (!ListFolder(folder, entries)) return 0;
    if (known) on_path.push_back(id);
    int count = 0;
    for (const FolderEntry& entry : entries) count += AddListedEntry(folder, entry, on_path);
    if (known) on_path.pop_back();
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

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::u16string Utf16Units(const std::string& bytes, size_t start, bool big_endian) {
    std::u16string units;
    units.reserve((bytes.size() - start) / 2);
    for (size_t i = start; i + 1 < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<char16_t>(big_endian ? (first << 8) | second
                                                         : (second << 8) | first));
    }
    return units;
}

// The text of a list file as UTF-8. A UTF-16 mark is honoured: reading such
// a file as UTF-8 would give lines that name nothing. The UTF-8 and UTF-32
// marks are only skipped.
std::string ListFileText(const std::string& bytes) {
    // The UTF-32LE mark begins with the UTF-16LE one, so it is tested first.
    if (StartsWith(bytes, std::string("\xFF\xFE\0\0", 4)) ||
        StartsWith(bytes, std::string("\0\0\xFE\xFF", 4)))
        return bytes.substr(4);
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return bytes.substr(3);
    if (StartsWith(bytes, "\xFF\xFE")) return Utf16ToUtf8(Utf16Units(bytes, 2, false));
    if (StartsWith(bytes, "\xFE\xFF")) return Utf16ToUtf8(Utf16Units(bytes, 2, true));
    return bytes;
}

}  // namespace

InputList& TheInputList() {
    static InputList list = [] {
        InputList fresh;
        fresh.reserve(512);
        return fresh;
    }();
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
    if (StartsWith(part, folder)) return part.substr(folder.size());
    return ReplaceAll(part, folder, "");
}

int ScanFolder(const std::string& folder) {
    ScanPath on_path;
    return ScanFolderBelow(folder, on_path);
}

void ImportFolder() {
    int32_t taken = 0;
    int32_t added = 0;
    const std::string& folder = batch_state.input_folder;
    std::vector<FolderEntry> entries;
    if (ListFolder(folder, entries)) {
        ScanPath on_path;
        FolderIdentity id;
        if (GetFolderIdentity(folder, id)) on_path.push_back(id);
        for (const FolderEntry& entry : entries) {
            if (batch_progress.keep_running.load() != 1) break;
            StoreTaken(++taken);
            added += AddListedEntry(folder, entry, on_path);
        }
    }
    AddToFileCount(added);
}

void ImportListFile() {
    int32_t taken = 0;
    int32_t added = 0;
    std::string bytes;
    if (ReadWholeFile(batch_state.input_file, bytes)) {
        const std::string text = ListFileText(bytes);
        size_t pos = 0;
        while (pos < text.size() && batch_progress.keep_running.load() == 1) {
            // A line ends at LF, CR LF or a lone CR.
            size_t end = text.find_first_of("\r\n", pos);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ++pos;

            // Only blanks are trimmed: a tab is part of the path, so a line
            // that starts with one names nothing.
            line = Trim(line, " ");
            // A NUL cannot be part of a path; such a line (a UTF-32 file read
            // as UTF-8) names nothing either.
            if (line.empty() || line.find('\0') != std::string::npos) continue;
            const int64_t size = FileSize(line);
            if (size == -1) continue;
            StoreTaken(++taken);
            if (size == -2) {
                if (line.back() != '/') line += '/';
                added += ScanFolder(line);
            } else {
                added += AddInputFile(line);
            }
        }
    }
    AddToFileCount(added);
}

}  // namespace kestrune
