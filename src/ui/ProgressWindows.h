#pragma once
// The visible windows of the two process-wide progress windows (pop3Progress,
// smtpProgress). In the Windows build these are modeless dialogs owned by the
// thread that opens them, which must pump messages (the host's user-interface
// thread); on a console host each window writes its changes to standard error.
//
// Called only from the host's user-interface thread. Never throw.

namespace quill {

class ProgressWindows {
public:
    // Creates both windows, hidden, and attaches them to their ProgressWindow
    // (POP3 first). A second open while they exist does nothing. Returns
    // whether the windows exist afterwards.
    static bool open() noexcept;
    // Detaches and destroys both windows (POP3 first); the ProgressWindow
    // objects keep their texts and flags, and a conversation still running
    // simply shows nothing any more. Nothing happens when none are open.
    static void close() noexcept;
    static bool isOpen() noexcept;
};

} // namespace quill
