#pragma once

#include <string>
#include <vector>

namespace kestrune {

// The command-line main. Returns true when the process continues in window
// mode (no parameters, or parameters without an input); otherwise it has
// done its work and the process ends with code 0.
bool CommandLineMain(const std::vector<std::string>& args);

}  // namespace kestrune
