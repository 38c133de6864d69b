// Preference files: profiles (group "CLI" of command-line options) and the
// window mode's "config.ini" holding the whole settings record.
#pragma once

#include <string>

namespace kestrune {

// Applies the "CLI" group of a profile to `settings`; false when the name is
// empty or the file cannot be opened.
bool LoadProfile(const std::string& path);

// "<app data>/Tarvel/kestrune/config.ini"; creates both folders.
std::string PreferencesPath();
// Reads every key (defaults for absent ones) and migrates old layouts; the
// window-mode defaults when the file cannot be opened.
void LoadPreferences(const std::string& path);
// False when the file cannot be written.
bool SavePreferences(const std::string& path);

}  // namespace kestrune
