// What every fuzz target shares: the process set up as the command line sets
// it up, and a private scratch folder that is the current directory, so that
// relative paths in fuzz data cannot reach anything else.
#pragma once

#include <IL/il.h>
#include <IL/ilu.h>
#include <unistd.h>

#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings/text_table.h"
#include "batch/batch_state.h"
#include "batch/naming.h"
#include "settings/run_request.h"
#include "settings/settings.h"

namespace fuzzing {

inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        char name[] = "/tmp/kestrune-fuzz-XXXXXX";
        if (!mkdtemp(name)) std::abort();
        if (chdir(name) != 0) std::abort();
        return std::string(name);
    }();
    return folder;
}

inline void InitialiseOnce() {
    static const bool done = [] {
        std::setlocale(LC_CTYPE, "C.UTF-8");
        kestrune::BuildTextTable();
        ilInit();
        iluInit();
        ScratchFolder();
        return true;
    }();
    (void)done;
}

// The fresh state of a command-line run.
inline void ResetRun() {
    kestrune::batch_state = kestrune::BatchState{};
    kestrune::batch_state.program_folder = ScratchFolder() + "/";
    kestrune::ResetNaming(kestrune::batch_state);
    kestrune::run_request = kestrune::RunRequest{};
    kestrune::SetDefaultSettings(kestrune::settings, true);
}

inline bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace fuzzing
