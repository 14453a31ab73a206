// The options dialog of hosts without a window system: the console dialog on
// the process's standard streams.
#include "ui/OptionsFrontEnd.h"

#include "ui/console/OptionsConsole.h"

#include <iostream>

namespace quill {

bool runOptionsDialog(SettingsValues& values) noexcept {
    try {
        OptionsConsole console;
        SettingsValues edited = values;
        if (!console.run(std::cin, std::cout, edited))
            return false;
        values = edited;
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace quill
