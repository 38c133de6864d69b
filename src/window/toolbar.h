// The main window's toolbar and the keys that the menus alone do not give.
#pragma once

class QToolBar;

namespace kestrune {

class MainWindow;

// Add Files, Add Folder, Import List, Remove, Convert and Preferences, with
// the desktop theme's icons where it has them. The toolbar can be hidden
// from the window's context menu; "Show Toolbar" remembers the choice.
QToolBar* BuildToolBar(MainWindow* window);

// F10 opens the first menu, as on other desktop programs; Ctrl+Del in the
// output-folder field deletes the next word there instead of the selected
// rows of the list.
void InstallWindowKeys(MainWindow* window);

}  // namespace kestrune
