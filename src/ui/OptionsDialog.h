#pragma once
// The options dialog's behaviour, independent of any window system: what the
// dialog shows when it opens, how the proxy radio buttons enable the proxy
// fields, and what OK reads back. A front end (the Win32 dialog, the console)
// owns the controls and forwards clicks; the caller stores the result of ok()
// in the settings. Cancel needs nothing here: the settings are only touched by
// whoever takes ok()'s values.

#include "net/ServiceSettings.h"
#include "ui/OptionsControls.h"

#include <string>

namespace quill {

class OptionsDialog {
public:
    // Control ids of dialog template 131.
    enum ControlId {
        Ok = 1,
        Cancel = 2,
        Pop3Port = 1000,
        SmtpPort = 1001,
        ProxyServer = 1002,
        ProxyPort = 1004,
        Inbox = 1005,
        Bulk = 1007,
        ProxyUser = 1009,
        ProxyPassword = 1010,
        EmptyTrash = 3001,
        Popup = 3002,
        SaveCookie = 3003,
        SaveSent = 3004,
        NoProxy = 3006,
        HttpProxy = 3007,
        Socks4 = 3008,
        Socks5 = 3009,
        About = 3012,
    };

    static const char* const caption;   // "Quillmere 1.64"
    static const char* const aboutText; // lines separated by "\n"

    // The controls must outlive the dialog object.
    explicit OptionsDialog(OptionsControls& controls) : controls_(controls) {}

    // Fills every control from the values and enables the proxy fields for
    // the stored proxy type. A type outside 0..3 checks no radio button and
    // leaves the proxy fields as they are (enabled in the template).
    void open(const SettingsValues& values);

    // A click on a control. Radio buttons 3006..3009 select proxy kind 0..3
    // and re-enable the proxy fields; every other id is ignored here (check
    // boxes toggle themselves, OK and Cancel belong to the front end).
    void clicked(int id);

    // The values the controls hold now, with proxyType = proxyKind(). Ports
    // are read as signed decimals (non-numbers as 0); replacing a local port
    // of 0 or less by its default is the settings' business.
    SettingsValues ok() const;

    int proxyKind() const { return proxyKind_; }

    // Leading blanks, an optional sign and decimal digits, up to the first
    // other character; no digits at all, or a value outside int, read as 0.
    static int readNumber(const std::string& text);

private:
    void enableProxyFields(int kind);

    OptionsControls& controls_;
    int proxyKind_ = 0;
};

} // namespace quill
