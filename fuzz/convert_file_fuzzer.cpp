// GIF bytes through the whole per-file pipeline: load, every frame through
// the operations, named and saved into a scratch output folder.
#include <filesystem>

#include "batch/worker.h"
#include "formats/saving.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Screens past 512 x 512 are refused here: every frame composes and
    // rotates the whole screen, and under the sanitizers a few hundred frames
    // of a large screen take long enough to pass for a hang. The guards for
    // large screens have tests of their own.
    if (size >= 10 && uint32_t(data[6] | data[7] << 8) * uint32_t(data[8] | data[9] << 8) > 512u * 512u) return 0;
    fuzzing::InitialiseOnce();
    fuzzing::ResetRun();
    namespace fs = std::filesystem;
    using namespace kestrune;
    const std::string folder = fuzzing::ScratchFolder();
    const std::string input = folder + "/input.gif";
    const std::string output = folder + "/out/";
    std::error_code ec;
    fs::create_directories(output, ec);
    if (!fuzzing::WriteBytes(input, data, size)) return 0;

    // A few transformations on, so that odd frame sizes reach them too.
    settings.do_image_rotation = 1;
    settings.image_rotation = 30;
    settings.do_frame = 1;
    settings.solid_left = 2;
    BatchState& state = batch_state;
    state.command_line = true;
    state.input_file = input;
    state.output_folder = output;
    state.conversion = "bmp";
    state.input_format = "gif";
    PrepareOutputFormat(state, settings);
    state.current_input = input;
    state.current_subfolder.clear();
    batch_progress.keep_running.store(1);
    ConvertFile();

    fs::remove_all(output, ec);
    return 0;
}
