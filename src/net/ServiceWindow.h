#pragma once
// The progress window of one service as the service side sees it: the listener
// attaches each conversation to it, the web-mail client reports its steps.
// Implementations must never block the calling service thread on the window's
// thread, and must be callable whether or not a real window exists.

#include <string>

namespace quill {

class Session;

class ServiceWindow {
public:
    virtual ~ServiceWindow() = default;
    // Shows a step as the caption; pops the window up when allowed.
    virtual void setStatus(const std::string& text) = 0;
    // Shows the URL being requested.
    virtual void setDetail(const std::string& text) = 0;
    // Hides the window if setStatus popped it up.
    virtual void hide() = 0;
    // Whether the window may pop up during this conversation.
    virtual void setPopup(bool on) = 0;
    virtual bool popup() const = 0;
    // The session that Cancel aborts; null when no conversation runs. Setting a
    // new target (or null) waits for an abort in progress on the old one, so a
    // session is never aborted while it is being destroyed.
    virtual void setCancelTarget(Session* session) = 0;
};

} // namespace quill
