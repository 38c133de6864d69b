// Preference files: profiles (group "CLI" of command-line options) and the
// window mode's "config.ini" holding the whole settings record.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// Applies the "CLI" group of a profile to `settings`; false when the name is
// empty or the file cannot be opened.
bool LoadProfile(const std::string& path);

// "<app data>/Tarvel/kestrune/config.ini"; creates both folders.
std::string PreferencesPath();
// Reads every key (defaults for absent ones) and migrates old layouts; the
// window-mode defaults when the file cannot be opened.
void LoadPreferences(const std::string& path);
// The same, with the desktop size that centres the window when the file
// cannot be opened.
void LoadPreferences(const std::string& path, int desktop_width, int desktop_height);
// False when the file cannot be written.
bool SavePreferences(const std::string& path);

// One key line of a preference file, with the group it stands in ("" before
// the first group line).
struct PreferenceEntry {
    std::string group;
    std::string key;
    std::string value;
};

// The key lines of a file's text, in file order: byte-order mark or
// ISO-8859-1, any line end, comments and blank lines dropped.
std::vector<PreferenceEntry> ParsePreferenceText(std::string_view bytes);
// The key lines of a file; false when it cannot be opened (a folder cannot).
bool ReadPreferenceFile(const std::string& path, std::vector<PreferenceEntry>& entries);

}  // namespace kestrune
