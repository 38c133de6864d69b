// The input list: every GIF to convert, once, with its subfolder below the
// input folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace kestrune {

struct InputEntry {
    int32_t added = 0;
    std::string subfolder;  // relative to the input folder, ends with "/", or empty
};

// Keyed by the path exactly as composed, so that a duplicate is found by one
// lookup; visited in the order the paths were first added, because "%n%",
// the order of the console lines and which of two files mapped to one name
// wins all follow that order, and it must be the one the user gave.
class InputList {
  public:
    using value_type = std::pair<const std::string, InputEntry>;
    using const_iterator = std::list<value_type>::const_iterator;

    // The entry of path, appended at the end when it is new.
    InputEntry& operator[](const std::string& path);
    // The entry of path; throws std::out_of_range when there is none.
    const InputEntry& at(const std::string& path) const;
    bool contains(const std::string& path) const { return index_.contains(path); }
    size_t erase(const std::string& path);
    void clear();
    bool empty() const { return entries_.empty(); }
    size_t size() const { return entries_.size(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }

  private:
    std::list<value_type> entries_;
    // Keys view the strings held by entries_, whose nodes never move.
    std::unordered_map<std::string_view, std::list<value_type>::iterator> index_;
};
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
