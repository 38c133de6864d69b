// What the command line asked for: filled by the option parser, read by the
// batch driver.
#pragma once

#include <string>

namespace kestrune {

struct RunRequest {
    std::string input_path;
    std::string output_folder;
    std::string conversion;
    bool input_given = false;
    std::string mode;  // "DEBUG", "T" or empty
};

inline RunRequest run_request;

}  // namespace kestrune
