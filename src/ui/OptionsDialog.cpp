#include "ui/OptionsDialog.h"

#include <cctype>
#include <climits>

namespace quill {

const char* const OptionsDialog::caption = "Quillmere 1.64";
const char* const OptionsDialog::aboutText =
    "Quillmere 1.64 (July 7th, 2004)\n"
    "Reads and sends your Vurel Web mail through local POP3 and SMTP servers.\n"
    "Written by the Quillmere developers. Free software, no warranty.";

namespace {

// Which proxy fields each proxy kind uses, indexed by kind.
struct ProxyFieldUse {
    bool serverAndPort;
    bool userAndPassword;
};
constexpr ProxyFieldUse proxyFieldUse[] = {
    {false, false}, // 0 no proxy
    {true, true},   // 1 HTTP
    {true, false},  // 2 SOCKS4
    {true, true},   // 3 SOCKS5
};
constexpr int proxyKinds = sizeof proxyFieldUse / sizeof proxyFieldUse[0];

// The radio button of each proxy kind, indexed by kind.
constexpr int proxyRadio[proxyKinds] = {OptionsDialog::NoProxy, OptionsDialog::HttpProxy,
                                        OptionsDialog::Socks4, OptionsDialog::Socks5};

// The check boxes and the settings field each one shows.
struct CheckBinding {
    int id;
    bool SettingsValues::*field;
};
constexpr CheckBinding checkBindings[] = {
    {OptionsDialog::Inbox, &SettingsValues::inbox},
    {OptionsDialog::Bulk, &SettingsValues::bulk},
    {OptionsDialog::EmptyTrash, &SettingsValues::emptyTrash},
    {OptionsDialog::Popup, &SettingsValues::popup},
    {OptionsDialog::SaveCookie, &SettingsValues::saveCookie},
    {OptionsDialog::SaveSent, &SettingsValues::saveSent},
};

} // namespace

void OptionsDialog::open(const SettingsValues& v) {
    controls_.setCaption(caption);
    controls_.setText(Pop3Port, std::to_string(v.pop3Port));
    controls_.setText(SmtpPort, std::to_string(v.smtpPort));

    proxyKind_ = v.proxyType;
    for (int kind = 0; kind < proxyKinds; ++kind)
        controls_.setChecked(proxyRadio[kind], kind == proxyKind_);
    enableProxyFields(proxyKind_);

    controls_.setText(ProxyServer, v.proxy);
    controls_.setText(ProxyPort, std::to_string(v.proxyPort));
    controls_.setText(ProxyUser, v.username);
    controls_.setText(ProxyPassword, v.password);

    for (const CheckBinding& b : checkBindings)
        controls_.setChecked(b.id, v.*b.field);

    controls_.setText(About, aboutText);
}

void OptionsDialog::clicked(int id) {
    for (int kind = 0; kind < proxyKinds; ++kind) {
        if (proxyRadio[kind] != id)
            continue;
        if (kind != proxyKind_) {
            proxyKind_ = kind;
            enableProxyFields(kind);
        }
        return;
    }
}

SettingsValues OptionsDialog::ok() const {
    SettingsValues v;
    v.pop3Port = readNumber(controls_.text(Pop3Port));
    v.smtpPort = readNumber(controls_.text(SmtpPort));
    v.proxy = controls_.text(ProxyServer);
    v.proxyPort = readNumber(controls_.text(ProxyPort));
    v.username = controls_.text(ProxyUser);
    v.password = controls_.text(ProxyPassword);
    for (const CheckBinding& b : checkBindings)
        v.*b.field = controls_.checkState(b.id) > 0;
    v.proxyType = proxyKind_;
    return v;
}

int OptionsDialog::readNumber(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    long long value = 0;
    std::size_t digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            return 0; // too big for an int: not a number we can use
    }
    if (digits == 0)
        return 0;
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        return 0;
    return static_cast<int>(value);
}

void OptionsDialog::enableProxyFields(int kind) {
    if (kind < 0 || kind >= proxyKinds)
        return;
    const ProxyFieldUse& use = proxyFieldUse[kind];
    controls_.setEnabled(ProxyServer, use.serverAndPort);
    controls_.setEnabled(ProxyPort, use.serverAndPort);
    controls_.setEnabled(ProxyUser, use.userAndPassword);
    controls_.setEnabled(ProxyPassword, use.userAndPassword);
}

} // namespace quill
