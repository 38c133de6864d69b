// Bytes split into parameters (at NUL and line feed) through the option
// parser. A profile named by a parameter is read from the scratch folder;
// inputs naming one by an absolute path or with ".." are passed over, so
// that the parser is never pointed at a device or a large file.
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "settings/options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::InitialiseOnce();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.find('/') != std::string_view::npos || text.find("..") != std::string_view::npos) return 0;
    std::vector<std::string> params;
    std::string current;
    for (char c : text) {
        if (c == '\0' || c == '\n') {
            params.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    params.push_back(current);
    fuzzing::ResetRun();
    kestrune::ParseOptions(params);
    return 0;
}
