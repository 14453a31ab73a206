#pragma once
// The visible side of one progress window: a real dialog, a console, or a
// recorder in tests. ProgressWindow decides what to show; the back-end only
// shows it.
//
// Threads: every call comes with the ProgressWindow's lock held, from a service
// thread (status, detail, hide) or from the user-interface thread (Cancel). An
// implementation must return promptly without waiting for the window's own
// thread (post the change, never send it) and must not call back into the
// ProgressWindow.

#include <string>

namespace quill {

class WindowBackEnd {
public:
    virtual ~WindowBackEnd() = default;
    // Pops the window up and brings it to the foreground.
    virtual void show() = 0;
    virtual void hide() = 0;
    // The caption shows the current step.
    virtual void setCaption(const std::string& text) = 0;
    // The line under the animation shows the URL being requested.
    virtual void setDetail(const std::string& text) = 0;
};

} // namespace quill
