#pragma once
// Options for session and server tests: fixed values, set by the test before
// the conversation starts and only read after that.

#include "net/ServiceSettings.h"

#include <string>

namespace quill {

class FixedSettings : public ServiceSettings {
public:
    FixedSettings() = default;
    explicit FixedSettings(const SettingsValues& values) : v(values) {}

    SettingsValues v;

    bool inbox() const override { return v.inbox; }
    bool bulk() const override { return v.bulk; }
    bool emptyTrash() const override { return v.emptyTrash; }
    bool popup() const override { return v.popup; }
    bool saveCookie() const override { return v.saveCookie; }
    bool saveSent() const override { return v.saveSent; }
    int pop3Port() const override { return v.pop3Port; }
    int smtpPort() const override { return v.smtpPort; }
    int proxyType() const override { return v.proxyType; }
    int proxyPort() const override { return v.proxyPort; }
    std::string proxy() const override { return v.proxy; }
    std::string username() const override { return v.username; }
    std::string password() const override { return v.password; }
};

} // namespace quill
