// kestrunecmd: one program, a command line for batch runs and a window mode.
#include <IL/il.h>
#include <IL/ilu.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
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

namespace {

// Started with standard input, output or error closed (as some daemons and
// cron set-ups do), the next file opened would take their number: the
// close-signal pipe would become standard output and the console lines would
// go into it. Each closed one is opened on /dev/null first.
void OpenClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = open("/dev/null", O_RDWR);
        if (opened < 0) continue;
        // The lowest free number is taken, which is this one: the lower ones
        // are open by now.
        if (opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace kestrune;
    OpenClosedStandardStreams();
    // Only the character-type part of the locale: numbers keep "." whatever
    // the user's locale says.
    std::setlocale(LC_CTYPE, "C.UTF-8");
    InstallCloseHandlers();
    ilInit();
    iluInit();
    const std::vector<std::string> args(argv + 1, argv + argc);
    // A second copy ends at once and silently, in every run mode, unless a
    // script asked to wait for the lock or to be told. Files it was started
    // with for the window (a file manager's "Open with") go to the window
    // that is open, as a drop would bring them.
    std::string lock_path;
    if (!AcquireSingleInstanceLock(TitleWithVersion(), LockWaitSeconds(), &lock_path)) {
#ifdef KESTRUNE_HAS_WINDOW
        if (OpensMainWindow(args)) HandFilesToOpenWindow(args);
#endif
        return EndAsSecondCopy(lock_path);
    }

    int exit_status = 0;
    if (!CommandLineMain(args, exit_status)) return ExitStatusWanted() ? exit_status : 0;
#ifdef KESTRUNE_HAS_WINDOW
    return RunWindowMode(argc, argv);
#else
    return 0;
#endif
}
