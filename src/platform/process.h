// Process services: single-instance lock, program folder and name, the
// application-data folder.
#pragma once

#include <string>

namespace kestrune {

// Takes an exclusive, non-blocking flock on "<name>.lock" in $XDG_RUNTIME_DIR
// (or the temporary folder with the user id in the name). Held until the
// process ends. False when another process holds it.
bool AcquireSingleInstanceLock(const std::string& name);

// Folder of the running executable, ending with "/".
std::string ProgramFolder();
// File name of the running executable without folder and extension.
std::string ProgramName();
// $XDG_CONFIG_HOME, else $HOME/.config; no trailing "/".
std::string AppDataFolder();

}  // namespace kestrune
