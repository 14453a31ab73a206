// On a console host the progress windows are lines on standard error.
#include "ui/ProgressWindows.h"

#include "ui/ProgressWindow.h"
#include "ui/console/ConsoleWindowBackEnd.h"

#include <memory>

namespace quill {

namespace {
bool windowsOpen = false; // user-interface thread only
} // namespace

bool ProgressWindows::open() noexcept {
    if (windowsOpen)
        return true;
    try {
        for (ProgressWindow* w : {&pop3Progress(), &smtpProgress()})
            w->attach(std::make_shared<ConsoleWindowBackEnd>(w->name()));
        windowsOpen = true;
    } catch (...) {
        close();
    }
    return windowsOpen;
}

void ProgressWindows::close() noexcept {
    pop3Progress().attach(nullptr);
    smtpProgress().attach(nullptr);
    windowsOpen = false;
}

bool ProgressWindows::isOpen() noexcept {
    return windowsOpen;
}

} // namespace quill
