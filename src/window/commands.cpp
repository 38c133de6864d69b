#include "window/commands.h"

#include <array>

namespace kestrune {
namespace {

constexpr std::array kMenuTable = {
    MenuEntry{"File", kCommandNew, "New", "Ctrl+N", true},
    MenuEntry{"File", kCommandSelectInputFiles, "Select Input Files", nullptr, false},
    MenuEntry{"File", kCommandSelectOutputFolder, "Select Output Folder", nullptr, true},
    MenuEntry{"File", kCommandImportInputFiles, "Import Input Files", nullptr, false},
    MenuEntry{"File", kCommandExportInputFiles, "Export Input Files", nullptr, true},
    MenuEntry{"File", kCommandExit, "Exit", "Alt+X", false},
    MenuEntry{"Edit", kCommandCopy, "Copy", "Ctrl+C", false},
    MenuEntry{"Edit", kCommandDelete, "Delete", "Ctrl+Del", true},
    MenuEntry{"Edit", kCommandSelectAll, "Select All", "Ctrl+A", false},
    MenuEntry{"Converter", kCommandConvert, "Convert", "F5", true},
    MenuEntry{"Converter", kCommandCustomConverter, "Custom Converter", nullptr, true},
    MenuEntry{"Converter", kCommandPreferences, "Preferences", nullptr, false},
    MenuEntry{"Help", kCommandManual, "Manual", "F1", true},
    MenuEntry{"Help", kCommandSendFeedback, "Send Feedback", nullptr, false},
    MenuEntry{"Help", kCommandVisitHomepage, "Visit Homepage", nullptr, false},
    MenuEntry{"Help", kCommandCheckForNewVersion, "Check For New Version", nullptr, true},
    MenuEntry{"Help", kCommandAbout, "About", nullptr, false},
};

}  // namespace

std::span<const MenuEntry> MenuTable() { return kMenuTable; }

const MenuEntry* FindMenuEntry(int command) {
    for (const auto& e : kMenuTable)
        if (e.command == command) return &e;
    return nullptr;
}

}  // namespace kestrune
