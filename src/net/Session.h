#pragma once
// One conversation with a local mail client: the accepted connection plus the
// conversation's web-mail client. The listener runs it on its service thread.

namespace quill {

class Session {
public:
    virtual ~Session() = default;
    // The whole conversation; returns when it has ended. May throw anything:
    // the listener catches it and goes on accepting.
    virtual void run() = 0;
    // Called from another thread (the Cancel button): closes the web-mail
    // client's connection in flight and the session's own connection, so the
    // blocked call on the service thread fails at once. Never throws.
    virtual void abort() noexcept = 0;
};

} // namespace quill
