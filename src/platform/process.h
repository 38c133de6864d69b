// Process services: single-instance lock, program folder and name, the
// application-data folder.
#pragma once

#include <string>
#include <vector>

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

// A window that is open takes files from later copies through a local
// socket beside the single-instance lock, "<name>.socket" in the folder
// where AcquireSingleInstanceLock found the lock. That folder is the user's
// own, and every connection is checked to come from this user.
//
// Listens on the socket; the listening descriptor (non-blocking), or -1
// when there is no lock folder or the socket cannot be made.
int ListenForOtherCopies(const std::string& name);
// Takes one connection from the listening descriptor: true, with the paths
// it sent, when it came from a process of this user.
bool ReceiveFromOtherCopy(int listen_fd, std::vector<std::string>& paths);
// Closes the listening descriptor and removes the socket.
void StopListening(int listen_fd, const std::string& name);
// Sends the paths to the copy holding the lock; false when none listens.
bool SendToFirstCopy(const std::string& name, const std::vector<std::string>& paths);

// Folder of the running executable, ending with "/".
std::string ProgramFolder();
// File name of the running executable without folder and extension.
std::string ProgramName();
// $HOME, else the user's home in the password database, else "/"; no
// trailing "/" unless it is the root.
std::string HomeFolder();
// $XDG_CONFIG_HOME, else $HOME/.config; no trailing "/".
std::string AppDataFolder();

}  // namespace kestrune
