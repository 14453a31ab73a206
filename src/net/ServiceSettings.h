#pragma once
// The user's options as the services read them. The plug-in's Settings object
// implements this; tests use fixed values. Every getter is one locked read of
// the current value, so a change from the options dialog is seen by the next use.

#include <string>

namespace quill {

// All thirteen options at once, in their declaration order.
struct SettingsValues {
    bool bulk = false;
    bool inbox = false;
    int smtpPort = 5025;
    int pop3Port = 5110;
    bool emptyTrash = false;
    bool popup = false;
    bool saveCookie = false;
    bool saveSent = false;
    int proxyType = 0; // 0 none, 1 HTTP proxy, 2 SOCKS4, 3 SOCKS5 (only 1 is used)
    std::string proxy;
    int proxyPort = 0;
    std::string username;
    std::string password;

    bool operator==(const SettingsValues& o) const {
        return bulk == o.bulk && inbox == o.inbox && smtpPort == o.smtpPort &&
               pop3Port == o.pop3Port && emptyTrash == o.emptyTrash && popup == o.popup &&
               saveCookie == o.saveCookie && saveSent == o.saveSent && proxyType == o.proxyType &&
               proxy == o.proxy && proxyPort == o.proxyPort && username == o.username &&
               password == o.password;
    }
};

class ServiceSettings {
public:
    virtual ~ServiceSettings() = default;
    virtual bool inbox() const = 0;
    virtual bool bulk() const = 0;
    virtual bool emptyTrash() const = 0;
    virtual bool popup() const = 0;
    virtual bool saveCookie() const = 0;
    virtual bool saveSent() const = 0;
    virtual int pop3Port() const = 0;
    virtual int smtpPort() const = 0;
    virtual int proxyType() const = 0;
    virtual int proxyPort() const = 0;
    virtual std::string proxy() const = 0;
    virtual std::string username() const = 0;
    virtual std::string password() const = 0;
};

} // namespace quill
