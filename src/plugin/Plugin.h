#pragma once
// The plug-in's life inside the host: the library's initialisation when it is
// loaded, and the work behind each BKC_ callback. The exports only translate
// the host's calls into these and keep every exception on this side.
//
// Threads: every call comes from the host's thread (the initialisation from
// the loader's). The local servers run on threads of their own, which this
// object starts and, at exit, stops and joins.

#include "net/ListenerService.h"
#include "plugin/PluginPaths.h"

#include <memory>
#include <string>

namespace quill {

class Plugin {
public:
    // The four texts of the host's plug-in information record.
    static constexpr const char* kName = "Quillmere";
    static constexpr const char* kVendor =
        "The Quillmere developers <quillmere@users.noreply.example>";
    static constexpr const char* kVersion = "1.64";
    static constexpr const char* kDescription =
        "Enables Becky! to access your Vurel Web mail accounts.";
    // Byte offsets of the texts in the record.
    static constexpr int kNameOffset = 0;
    static constexpr int kVendorOffset = 80;
    static constexpr int kVersionOffset = 160;
    static constexpr int kDescriptionOffset = 240;

    static Plugin& instance();

    // The library's initialisation: starts the sockets, binds the host's
    // service table and works out the paths beside the library. False means
    // the library must not stay loaded. Does nothing that is unsafe while the
    // system's loader runs (no threads, no library loads). Never throws.
    bool attach() noexcept;

    // Loads the settings, opens the diagnostic log when they ask for it, loads
    // the site addresses and the cookie file, then starts the POP3 and the
    // SMTP server. A second call while they run does nothing.
    void start();
    // Destroys the progress windows, stops and joins both servers, then saves
    // the cookie file when the SaveCookie setting is on, and closes the log.
    void exit();
    // Kind 0 creates the progress windows; any other kind does nothing.
    void menuInit(int kind);
    // Runs the options dialog; the settings file is written only after OK.
    void setup();
    // Fills the host's plug-in information record (at least 320 bytes); each
    // text with its terminating zero and nothing else.
    void plugInInfo(char* record) const;

    const PluginPaths& paths() const { return paths_; }
    bool attached() const { return attached_; }

private:
    Plugin() = default;
    // Opens the diagnostic log: to standard error when the stand-in host asks
    // for it (QUILLMERE_LOG=stderr), else to the log file when on is set.
    void openLog(bool on);

    bool attached_ = false;
    PluginPaths paths_;
    std::unique_ptr<ListenerService> pop3_;
    std::unique_ptr<ListenerService> smtp_;
};

} // namespace quill
