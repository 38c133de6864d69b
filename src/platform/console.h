// Console lines. Each line is the text then CR LF, flushed at once: UTF-8 on a
// terminal, UTF-16LE bytes (no byte-order mark) when standard output is
// redirected to a file or a pipe.
#pragma once

#include <string>

namespace kestrune {

void PrintLine(const std::string& text);
// xterm title escape on a terminal; nothing when output is redirected.
void SetConsoleTitle(const std::string& title);
// One keypress on a terminal (non-canonical, no echo, settings restored).
// Ends at once when standard input is not a terminal or at end of input.
void WaitForKey();
// SIGHUP (console closed), SIGINT and SIGTERM end the process with code 0
// after the shutdown routines. Those are the at_quick_exit handlers: the
// process ends through quick_exit from a watcher thread, because a worker may
// still be running and static destructors must not run under it.
void InstallCloseHandlers();
// Where a close signal goes instead, while set: the handler is called on the
// watcher thread (not in the signal context) and must see to the end of the
// process itself; a further signal ends the process at once. nullptr puts
// the default back.
void SetCloseRequestHandler(void (*handler)());
// The end after a close signal: the shutdown routines, then exit code 0.
[[noreturn]] void EndProcessAfterClose();

}  // namespace kestrune
