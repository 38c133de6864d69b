// kestrunecmd: one program, a command line for batch runs and a window mode.
#include <IL/il.h>
#include <IL/ilu.h>

#include <clocale>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/scripting.h"
#include "app/version.h"
#include "platform/console.h"
#include "platform/process.h"
#ifdef KESTRUNE_HAS_WINDOW
#include "window/window_mode.h"
#endif

int main(int argc, char** argv) {
    using namespace kestrune;
    // Only the character-type part of the locale: numbers keep "." whatever
    // the user's locale says.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    InstallCloseHandlers();
    ilInit();
    iluInit();
    // A second copy ends at once and silently, in every run mode, unless a
    // script asked to wait for the lock or to be told.
    std::string lock_path;
    if (!AcquireSingleInstanceLock(TitleWithVersion(), LockWaitSeconds(), &lock_path))
        return EndAsSecondCopy(lock_path);

    const std::vector<std::string> args(argv + 1, argv + argc);
    int exit_status = 0;
    if (!CommandLineMain(args, exit_status)) return ExitStatusWanted() ? exit_status : 0;
#ifdef KESTRUNE_HAS_WINDOW
    return RunWindowMode(argc, argv);
#else
    return 0;
#endif
}
