// Process services: single-instance lock, program folder and name, the
// application-data folder.
#pragma once

#include <string>

namespace kestrune {

// Takes an exclusive, non-blocking flock on "<name>.lock" in $XDG_RUNTIME_DIR,
// or else in "kestrune-<uid>", a folder of the temporary folder private to
// the user. Held until the process ends. False only when another process
// holds it; when the lock cannot be taken for any other reason, one line on
// standard error says so and the result is true (run without it).
// With `wait_seconds` above 0, a lock held by another process is waited for
// that long before giving up. When it gives up, `held_at` (if given) receives
// the path of the lock file.
bool AcquireSingleInstanceLock(const std::string& name, double wait_seconds = 0,
                               std::string* held_at = nullptr);

// Folder of the running executable, ending with "/".
std::string ProgramFolder();
// File name of the running executable without folder and extension.
std::string ProgramName();
// $XDG_CONFIG_HOME, else $HOME/.config; no trailing "/".
std::string AppDataFolder();

}  // namespace kestrune
