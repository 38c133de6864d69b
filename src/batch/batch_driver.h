#pragma once

#include <cstdint>

namespace kestrune {

// How a run ended, in the terms of its console lines.
struct BatchOutcome {
    bool refused = false;  // an "Error: " line: no file was read
    int32_t total = 0;     // files found
    int32_t converted = 0;
};

// One command-line conversion run: checks, debug listing, import,
// conversion, summary. Prints through the console.
BatchOutcome RunBatch(bool quiet);

}  // namespace kestrune
