#pragma once
// What the plug-in's callbacks ask of the user interface. Kept in one place so
// that the interface of each build (console lines for the stand-in host, the
// Win32 dialogs in the Windows build) plugs in here without touching the
// exports. Called on the host's thread only; never throw.

#include "net/ServiceSettings.h"

#include <string>

namespace quill {
namespace pluginui {

// BKC_OnMenuInit with kind 0: creates the two progress windows, hidden.
void openWindows() noexcept;
// BKC_OnExit: destroys them; conversations still running then show nothing.
void closeWindows() noexcept;
// BKC_OnPlugInSetup: runs the options dialog over values. True when the user
// confirmed with OK and values hold the new options; false changes nothing.
bool runOptionsDialog(SettingsValues& values) noexcept;
// A console host's command line such as "cancel pop3" or "cancel smtp":
// presses that window's Cancel. False for a line it does not know.
bool consoleCommand(const std::string& line) noexcept;

} // namespace pluginui
} // namespace quill
