#pragma once

#include <string>
#include <vector>

namespace kestrune {

// The command-line main. Returns true when the process continues in window
// mode (no parameters, or parameters without an input); otherwise it has
// done its work and the process ends, with code 0 unless exit statuses are
// wanted: then with `exit_status`, which says how the run went.
bool CommandLineMain(const std::vector<std::string>& args, int& exit_status);

}  // namespace kestrune
