// Preference-file bytes through the window mode's reader and its migrations,
// then written back out.
#include "fuzz_support.h"
#include "settings/preferences.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::InitialiseOnce();
    fuzzing::ResetRun();
    const std::string path = fuzzing::ScratchFolder() + "/config.ini";
    if (!fuzzing::WriteBytes(path, data, size)) return 0;
    kestrune::LoadPreferences(path, 1920, 1080);
    kestrune::SavePreferences(fuzzing::ScratchFolder() + "/written.ini");
    return 0;
}
