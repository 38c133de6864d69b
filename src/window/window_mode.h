#pragma once

namespace kestrune {

// Runs the window mode until the main window closes. Returns the exit code
// (always 0).
int RunWindowMode(int argc, char** argv);

}  // namespace kestrune
