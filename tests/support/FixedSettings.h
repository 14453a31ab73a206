#pragma once
// The one settings fake of the tests: the values in v, set by the test before
// the service or conversation starts; change() alters them while one runs
// (each read takes the same lock, as the real settings do).

#include "net/ServiceSettings.h"

#include <mutex>
#include <string>

namespace quill {

class FixedSettings : public ServiceSettings {
public:
    FixedSettings() = default;
    explicit FixedSettings(const SettingsValues& values) : v(values) {}

    SettingsValues v;

    template <class Edit> void change(Edit edit) {
        std::lock_guard<std::mutex> lock(mutex_);
        edit(v);
    }
    // Proxy type HTTP: host:port, with the proxy's Basic credentials.
    void useHttpProxy(const std::string& host, int port, const std::string& user,
                      const std::string& password) {
        change([&](SettingsValues& values) {
            values.proxyType = 1;
            values.proxy = host;
            values.proxyPort = port;
            values.username = user;
            values.password = password;
        });
    }

    bool inbox() const override { return get(&SettingsValues::inbox); }
    bool bulk() const override { return get(&SettingsValues::bulk); }
    bool emptyTrash() const override { return get(&SettingsValues::emptyTrash); }
    bool popup() const override { return get(&SettingsValues::popup); }
    bool saveCookie() const override { return get(&SettingsValues::saveCookie); }
    bool saveSent() const override { return get(&SettingsValues::saveSent); }
    int pop3Port() const override { return get(&SettingsValues::pop3Port); }
    int smtpPort() const override { return get(&SettingsValues::smtpPort); }
    int proxyType() const override { return get(&SettingsValues::proxyType); }
    int proxyPort() const override { return get(&SettingsValues::proxyPort); }
    std::string proxy() const override { return get(&SettingsValues::proxy); }
    std::string username() const override { return get(&SettingsValues::username); }
    std::string password() const override { return get(&SettingsValues::password); }

private:
    template <class T> T get(T SettingsValues::*field) const {
        std::lock_guard<std::mutex> lock(mutex_);
        return v.*field;
    }

    mutable std::mutex mutex_;
};

} // namespace quill
