#pragma once

#include <string>
#include <vector>

namespace kestrune {

// The parameters of a window-mode start that name existing files or folders
// (the desktop's "Open with"), leaving out options and the values of -o and -c.
std::vector<std::string> PathsToOpen(const std::vector<std::string>& params);

// In a copy started while another holds the single-instance lock, with
// parameters that would open the window: the files they name (made
// absolute) go to the open window, which adds them as a drop. False when no
// window took them (none is open, or nothing was named).
bool HandFilesToOpenWindow(const std::vector<std::string>& params);

// The screenshot aid (-T folder [picture.png]): the main window with sample
// file names and `folder` as output folder, written as a PNG file
// (default "kestrune-window.png" in the current directory).
bool WriteScreenshot(const std::vector<std::string>& params);

// Runs the window mode until the main window closes. Returns the exit code
// (always 0).
int RunWindowMode(int argc, char** argv);

}  // namespace kestrune
