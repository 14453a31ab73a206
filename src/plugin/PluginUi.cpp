#include "plugin/PluginUi.h"

#include "ui/OptionsFrontEnd.h"
#include "ui/ProgressWindow.h"
#include "ui/ProgressWindows.h"

namespace quill {
namespace pluginui {

void openWindows() noexcept {
    ProgressWindows::open();
}

void closeWindows() noexcept {
    ProgressWindows::close();
}

bool runOptionsDialog(SettingsValues& values) noexcept {
    // The Win32 dialog in the Windows build, the console dialog elsewhere.
    return ::quill::runOptionsDialog(values);
}

bool consoleCommand(const std::string& line) noexcept {
    try {
        if (line == "cancel pop3") {
            pop3Progress().cancel();
            return true;
        }
        if (line == "cancel smtp") {
            smtpProgress().cancel();
            return true;
        }
    } catch (...) {
    }
    return false;
}

} // namespace pluginui
} // namespace quill
