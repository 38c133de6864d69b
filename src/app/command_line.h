#pragma once

#include <string>
#include <vector>

namespace kestrune {

// The command-line main. Returns true when the process continues in window
// mode (no parameters, or parameters without an input); otherwise it has
// done its work and the process ends, with code 0 unless exit statuses are
// wanted: then with `exit_status`, which says how the run went.
bool CommandLineMain(const std::vector<std::string>& args, int& exit_status);

// True when CommandLineMain would go on to the main window with these
// parameters, without printing or running anything: no input, no help or
// version, no option error. The feedback window and the screenshot aid
// do not count.
bool OpensMainWindow(const std::vector<std::string>& args);

}  // namespace kestrune
