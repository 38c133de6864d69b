#pragma once

namespace kestrune {

// One command-line conversion run: checks, debug listing, import,
// conversion, summary. Prints through the console.
void RunBatch(bool quiet);

}  // namespace kestrune
