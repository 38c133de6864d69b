#pragma once

#include <cstdint>
#include <functional>

#include "batch/file_result.h"
#include "batch/input_list.h"

namespace kestrune {

// How a run ended, in the terms of its console lines.
struct BatchOutcome {
    bool refused = false;  // an "Error: " line: no file was read
    int32_t total = 0;     // files found
    int32_t converted = 0;
};

// What a caller may hear of the run as it goes: the input list once it is
// complete, before the first file starts (it stays as it is until the run
// ends), and each file's result as the run reports it.
struct BatchListener {
    std::function<void(const InputList&)> inputs_collected;
    FileResultHook file_reported;
};

// One command-line conversion run: checks, debug listing, import,
// conversion, summary. Prints through the console.
BatchOutcome RunBatch(bool quiet, const BatchListener& listener = {});

}  // namespace kestrune
