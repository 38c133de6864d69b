// Profile bytes through the profile reader ("CLI" group of options).
#include "fuzz_support.h"
#include "settings/preferences.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::InitialiseOnce();
    fuzzing::ResetRun();
    const std::string path = fuzzing::ScratchFolder() + "/profile.ini";
    if (!fuzzing::WriteBytes(path, data, size)) return 0;
    kestrune::LoadProfile(path);
    return 0;
}
