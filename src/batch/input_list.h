// The input list: every GIF to convert, once, with its subfolder below the
// input folder.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

namespace kestrune {

struct InputEntry {
    int32_t added = 0;
    std::string subfolder;  // relative to the input folder, ends with "/", or empty
};

using InputList = std::unordered_map<std::string, InputEntry>;
InputList& TheInputList();

// Extension part of a path (text after the last "." of the name, up to a
// double quote), empty when there is none.
std::string ExtensionPart(const std::string& path);
// Up to and including the last "/" or "\"; empty when there is none.
std::string FolderPart(const std::string& path);

int AddInputFile(const std::string& path);
std::string RelativeSubfolder(const std::string& path, const std::string& folder);
int ScanFolder(const std::string& folder);
// Thread procedures: folder and list-file imports, reading batch_state.
void ImportFolder();
void ImportListFile();

}  // namespace kestrune
