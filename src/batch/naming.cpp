#include "batch/naming.h"

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <random>

#include "settings/mask_tokens.h"
#include "platform/files.h"
#include "platform/text.h"

namespace kestrune {
namespace {

// One generator for the process. Its numbers are drawn in a fixed order (a
// new batch, then every converted file in input order, on the one thread
// that reports the files), so $KESTRUNE_RANDOM_SEED makes "%rnd%" repeat
// from run to run.
int32_t DrawRandomNumber() {
    static std::mutex lock;
    static std::mt19937 generator = [] {
        if (const char* asked = std::getenv("KESTRUNE_RANDOM_SEED")) {
            char* end = nullptr;
            const unsigned long long seed = std::strtoull(asked, &end, 10);
            if (end != asked && *end == '\0') return std::mt19937(static_cast<std::mt19937::result_type>(seed));
        }
        std::random_device device;
        const auto clock = static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        std::seed_seq seed{device(), device(), clock};
        return std::mt19937(seed);
    }();
    std::uniform_int_distribution<int32_t> range(1, 99999);
    std::lock_guard guard(lock);
    return range(generator);
}

}  // namespace

TokenValues FileTokens(const BatchState& state) {
    return {state.current_input,   state.conversion,   state.target_bpp,      state.output_width,
            state.output_height,   state.random_number, state.sequence_number};
}

std::string BuildOutputName(const BatchState& state, const Settings& s) {
    const TokenValues values = FileTokens(state);
    // The whole mask is lower-cased first, literal text included; only the
    // token values can bring capitals back.
    std::string name = ToLower(s.filename_mask);
    if (name.empty()) name = kDefaultFilenameMask;
    // The presence test is exact while the replacement ignores case, so a
    // value that contains a later token in lower case ("x%n%") is expanded
    // again and one in capitals ("x%N%") is not. Kept: names depend on it.
    for (const MaskTokenRow& token : kMaskTokens) {
        if (name.find(token.text) == std::string::npos) continue;
        name = ReplaceAllIgnoreCase(name, token.text, MaskTokenValue(token.token, values));
    }
    return name;
}

std::string BuildOutputPath(const BatchState& state, const Settings& s) {
    std::string path = state.output_folder;
    if (s.keep_subfolders == 1) path += state.current_subfolder;
    return path + BuildOutputName(state, s);
}

std::string FramePath(const std::string& path, int index, const std::string& extension) {
    // Appended rather than "[" + ...: GCC 12 reports a false -Wrestrict
    // overlap in the optimised operator+ of a literal and a temporary.
    std::string number = "[";
    number += std::to_string(index + 1);
    number += ']';
    // In front of "." + extension for a name that ends with it. The position
    // is counted in characters, so a name ending in non-ASCII text never has
    // a UTF-8 sequence split by the number.
    const size_t tail = extension.size() + 1;
    const size_t name_start = [&] {
        const size_t slash = path.find_last_of('/');
        return slash == std::string::npos ? 0 : slash + 1;
    }();
    size_t at = path.size();
    size_t counted = 0;
    while (counted < tail && at > 0) {
        --at;
        // Continuation bytes belong to the character that starts before them.
        if ((static_cast<unsigned char>(path[at]) & 0xC0) != 0x80) ++counted;
    }
    // A name too short to carry the extension would get the number inside
    // its folder part, which names another folder and fails every frame;
    // such a name gets the number at its end instead.
    if (counted < tail || at < name_start) return path + number;
    return path.substr(0, at) + number + path.substr(at);
}

void EnsureOutputSubfolder(const BatchState& state) {
    if (IsFolder(state.output_folder + state.current_subfolder)) return;
    // One level at a time, so that every missing parent is created; a
    // failure shows later as a failed save.
    std::string path = state.output_folder;
    size_t start = 0;
    for (;;) {
        const size_t slash = state.current_subfolder.find('/', start);
        if (slash == std::string::npos) break;
        path += state.current_subfolder.substr(start, slash - start) + "/";
        if (!IsFolder(path)) CreateFolder(path);
        start = slash + 1;
    }
}

void FinishOutputFile(bool ok, BatchState& state, const Settings& s,
                      const std::vector<std::string>& written) {
    // A failed file leaves both numbers alone, so the next successful file
    // takes them and the counter numbers only real outputs.
    if (!ok) return;
    state.random_number = DrawRandomNumber();
    state.sequence_number += 1;

    switch (s.file_timestamp) {
        case kOriginalTimestamp: {
            // The instant is copied as it is: a round trip through a local
            // count would land an hour off in the repeated daylight-saving
            // hour.
            int64_t instant = 0;
            if (!GetLastWriteInstant(state.current_input, instant)) return;
            // Every file saved for the input is stamped: with numbered frames
            // these are the frame files, not the unnumbered name that was
            // never written.
            for (const std::string& path : written) SetLastWriteInstant(path, instant);
            return;
        }
        case kCustomTimestamp:
            for (const std::string& path : written) SetLastWriteTime(path, s.custom_timestamp);
            return;
        default:  // the save already gave the file the present time
            return;
    }
}

void ResetNaming(BatchState& state) {
    state.random_number = DrawRandomNumber();
    state.sequence_number = 1;
}

}  // namespace kestrune
