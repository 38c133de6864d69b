// List-file bytes through the list import. Lines may name the scratch
// folder's own files and folders by relative path; inputs with absolute
// paths or ".." are passed over, so that a line cannot send the import
// scanning the whole file system.
#include <sys/stat.h>

#include <string_view>

#include "batch/input_list.h"
#include "fuzz_support.h"

namespace {

void MakeFixtures() {
    static const bool made = [] {
        const std::string f = fuzzing::ScratchFolder();
        mkdir((f + "/sub").c_str(), 0700);
        mkdir((f + "/sub/deeper").c_str(), 0700);
        const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0, ';'};
        fuzzing::WriteBytes(f + "/a.gif", gif, sizeof gif);
        fuzzing::WriteBytes(f + "/sub/b.GIF", gif, sizeof gif);
        fuzzing::WriteBytes(f + "/sub/deeper/c.gif", gif, sizeof gif);
        fuzzing::WriteBytes(f + "/empty.gif", gif, 0);
        return true;
    }();
    (void)made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::InitialiseOnce();
    MakeFixtures();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (text.find('/') != std::string_view::npos || text.find("..") != std::string_view::npos) return 0;
    fuzzing::ResetRun();
    kestrune::TheInputList().clear();
    const std::string path = fuzzing::ScratchFolder() + "/inputs.lst";
    if (!fuzzing::WriteBytes(path, data, size)) return 0;
    kestrune::batch_state.input_file = path;
    kestrune::batch_progress.keep_running.store(1);
    kestrune::ImportListFile();
    return 0;
}
