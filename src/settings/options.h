// The command-line options: one table serves the parser, the profile reader
// and the help of the preferences window.
#pragma once

#include <string>
#include <vector>

namespace kestrune {

struct ParseResult {
    std::string error;  // empty on success
    bool quiet = false;
    bool pause = false;
};

// Walks every parameter into `settings` and `run_request`; stops at the first
// error ("Incorrect number of parameters", "Invalid profile file").
ParseResult ParseOptions(const std::vector<std::string>& params);

}  // namespace kestrune
