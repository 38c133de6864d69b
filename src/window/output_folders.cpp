#include "window/output_folders.h"

#include <algorithm>

namespace kestrune {

std::vector<std::string> SplitOutFolders(const std::string& stored) {
    std::vector<std::string> folders;
    size_t start = 0;
    while (start <= stored.size() && static_cast<int>(folders.size()) < kMaxOutFolders) {
        size_t end = stored.find(kOutFolderSeparator, start);
        if (end == std::string::npos) end = stored.size();
        std::string folder = stored.substr(start, end - start);
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(std::move(folder));
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
        std::erase(folders, folder);
        folders.insert(folders.begin(), folder);
    }
    const size_t limit = static_cast<size_t>(OutFoldersLimit(s));
    if (folders.size() > limit) folders.resize(limit);
    s.recent_out_folders = JoinOutFolders(folders);
}

}  // namespace kestrune
