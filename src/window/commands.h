// The menu bar of the main window as one table: every command with its
// number, the menu it belongs to, its caption key of group "Menu", its
// shortcut and whether a separator follows it. The menus, the context menu
// and the command dispatch all read this table.
#pragma once

#include <span>

namespace kestrune {

enum Command : int {
    kCommandNew = 0,
    kCommandExit = 3,
    kCommandSelectInputFiles = 4,
    kCommandSelectInputFile = 5,
    kCommandSelectInputFolder = 6,
    kCommandSelectOutputFolder = 7,
    kCommandImportInputFiles = 9,
    kCommandExportInputFiles = 10,
    kCommandCopy = 11,
    kCommandDelete = 12,
    kCommandSelectAll = 13,
    kCommandConvert = 14,
    kCommandCustomConverter = 16,
    kCommandPreferences = 17,
    kCommandManual = 18,
    kCommandSendFeedback = 21,
    kCommandVisitHomepage = 22,
    kCommandCheckForNewVersion = 23,
    kCommandAbout = 24,
};

struct MenuEntry {
    const char* menu;         // key of the menu's own caption, group "Menu"
    int command;
    const char* caption_key;  // group "Menu"
    const char* shortcut;     // QKeySequence text, or nullptr
    bool separator_after;
};

std::span<const MenuEntry> MenuTable();
// The row of a command, nullptr for an unknown number.
const MenuEntry* FindMenuEntry(int command);

}  // namespace kestrune
