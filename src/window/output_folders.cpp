#include "window/output_folders.h"

#include <algorithm>

namespace kestrune {

std::string OutFolderKey(std::string_view folder) {
    std::string key;
    for (char c : folder)
        if (!(c == '/' && !key.empty() && key.back() == '/')) key += c;
    while (key.size() > 1 && key.back() == '/') key.pop_back();
    return key;
}

std::vector<std::string> SplitOutFolders(const std::string& stored) {
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= stored.size() && static_cast<int>(folders.size()) < kMaxOutFolders) {
        size_t end = stored.find(kOutFolderSeparator, start);
        if (end == std::string::npos) end = stored.size();
        std::string folder = stored.substr(start, end - start);
        const std::string key = OutFolderKey(folder);
        const bool known = std::any_of(folders.begin(), folders.end(),
                                       [&](const std::string& f) { return OutFolderKey(f) == key; });
        if (!folder.empty() && !known) folders.push_back(std::move(folder));
        start = end + 1;
    }
    return folders;
}

std::string JoinOutFolders(const std::vector<std::string>& folders) {
    std::string joined;
    for (const auto& f : folders) {
        if (!joined.empty()) joined += kOutFolderSeparator;
        joined += f;
    }
    return joined;
}

int OutFoldersLimit(const Settings& s) {
    return std::clamp(static_cast<int>(s.out_folders_number), 1, kMaxOutFolders);
}

void RememberOutFolder(Settings& s, const std::string& folder) {
    if (!s.out_folders_history) {
        s.recent_out_folders.clear();
        return;
    }
    std::vector<std::string> folders = SplitOutFolders(s.recent_out_folders);
    if (!folder.empty() && folder.find(kOutFolderSeparator) == std::string::npos) {
        const std::string key = OutFolderKey(folder);
        std::erase_if(folders, [&](const std::string& f) { return OutFolderKey(f) == key; });
        folders.insert(folders.begin(), folder);
    }
    const size_t limit = static_cast<size_t>(OutFoldersLimit(s));
    if (folders.size() > limit) folders.resize(limit);
    s.recent_out_folders = JoinOutFolders(folders);
}

}  // namespace kestrune
