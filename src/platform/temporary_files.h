// Temporary files in flight: every file written beside its target before it
// replaces the target. They are known here so that a close signal can remove
// them all before the process ends, whichever thread is writing them.
#pragma once

#include <string>

namespace kestrune {

// A new empty file beside target (in the same folder, so that publishing it
// is a rename within one file system), registered like CreateTemporaryFile;
// "" with errno set when none can be made. Its name is hidden and ends in
// ".part", so that no folder import takes it for an input, and it names its
// writer: ".kestrune-<pid>-<start>-<boot>-<random>.part". The first time a
// folder gets one, the staging files left there by writers of this user
// that are gone (a run killed outright) are removed.
std::string CreateTemporaryBeside(const std::string& target);
// Removes those stale staging files from folder now,
// unless this process did so already: a run does it for its output folder
// before it starts, whether or not it comes to write there.
void RemoveStaleTemporaryFiles(const std::string& folder);

// Creates the file exclusively (it must not exist yet) and keeps its path.
// False, with errno set, when it cannot be created; EEXIST when the name is
// taken; ECANCELED once the process is ending.
bool CreateTemporaryFile(const std::string& path);
// Renames the finished temporary file over target and forgets it. Once the
// process is ending nothing is renamed any more: the file is already gone.
bool PublishTemporaryFile(const std::string& temporary, const std::string& target);
// Deletes the temporary file (writable or not) and forgets it.
void DiscardTemporaryFile(const std::string& temporary);

// Removes every temporary file still in flight and refuses new ones and
// renames from then on. Runs on the thread that ends the process after a
// close signal (never inside the signal handler), before the process ends.
void RemoveTemporaryFilesForExit();

}  // namespace kestrune
