#include "plugin/Settings.h"

#include "net/DiagnosticLog.h"
#include "platform/Profile.h"

#include <cstdio>

namespace quill {

namespace {

const char* const kSetup = "Setup";
const char* const kMailBox = "MailBox";
// The INI reader's buffer: one byte more than the longest text kept.
constexpr std::size_t kTextBuffer = Settings::kMaxText + 1;

std::string cut(const std::string& s) {
    return s.size() > Settings::kMaxText ? s.substr(0, Settings::kMaxText) : s;
}

int readInt(const char* section, const char* key, int defaultValue, const std::string& path) {
    return platform::profileInt(section, key, defaultValue, path);
}

bool readBool(const char* section, const char* key, bool defaultValue, const std::string& path) {
    return platform::profileInt(section, key, defaultValue ? 1 : 0, path) != 0;
}

std::string readText(const char* key, const std::string& path) {
    return platform::profileString(kSetup, key, "", kTextBuffer, path);
}

bool writeInt(const char* section, const char* key, int value, const std::string& path) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return platform::writeProfileString(section, key, text, path);
}

} // namespace

Settings& Settings::instance() {
    static Settings* const settings = new Settings();
    return *settings;
}

void Settings::load(const std::string& iniPath) {
    SettingsValues v;
    v.bulk = readBool(kMailBox, "Bulk", false, iniPath);
    v.inbox = readBool(kMailBox, "Inbox", true, iniPath);
    v.pop3Port = readInt(kSetup, "POP3Port", kDefaultPop3Port, iniPath);
    v.smtpPort = readInt(kSetup, "SMTPPort", kDefaultSmtpPort, iniPath);
    v.emptyTrash = readBool(kSetup, "EmptyTrash", true, iniPath);
    v.popup = readBool(kSetup, "Popup", true, iniPath);
    v.saveCookie = readBool(kSetup, "SaveCookie", true, iniPath);
    v.saveSent = readBool(kSetup, "SaveSent", true, iniPath);
    v.proxyType = readInt(kSetup, "ProxyType", 0, iniPath);
    v.proxy = readText("Proxy", iniPath);
    v.proxyPort = readInt(kSetup, "Port", 0, iniPath);
    v.username = readText("Username", iniPath);
    v.password = readText("Password", iniPath);
    apply(v);
    const bool log = readBool(kSetup, "Log", false, iniPath);
    std::lock_guard<std::mutex> hold(lock_);
    log_ = log;
}

void Settings::save(const std::string& iniPath) {
    // Taking the mark and clearing it in one step: an update that comes while
    // the file is written marks the values again instead of being forgotten.
    {
        std::lock_guard<std::mutex> hold(changedLock_);
        if (!changed_)
            return;
        changed_ = false;
    }
    const SettingsValues v = values();
    bool written = writeInt(kSetup, "POP3Port", v.pop3Port, iniPath);
    written &= writeInt(kSetup, "SMTPPort", v.smtpPort, iniPath);
    written &= writeInt(kSetup, "EmptyTrash", v.emptyTrash, iniPath);
    written &= writeInt(kSetup, "Popup", v.popup, iniPath);
    written &= writeInt(kSetup, "SaveCookie", v.saveCookie, iniPath);
    written &= writeInt(kSetup, "SaveSent", v.saveSent, iniPath);
    written &= writeInt(kSetup, "ProxyType", v.proxyType, iniPath);
    written &= platform::writeProfileString(kSetup, "Proxy", v.proxy, iniPath);
    written &= writeInt(kSetup, "Port", v.proxyPort, iniPath);
    written &= platform::writeProfileString(kSetup, "Username", v.username, iniPath);
    written &= platform::writeProfileString(kSetup, "Password", v.password, iniPath);
    written &= writeInt(kMailBox, "Bulk", v.bulk, iniPath);
    written &= writeInt(kMailBox, "Inbox", v.inbox, iniPath);
    logEvent((written ? "settings file written: " : "settings file could not be written: ") +
             iniPath);
}

void Settings::apply(bool bulk, bool inbox, int smtpPort, int pop3Port, bool emptyTrash, bool popup,
                     bool saveCookie, bool saveSent, int proxyType, const std::string& proxy,
                     int proxyPort, const std::string& username, const std::string& password) {
    SettingsValues v;
    v.bulk = bulk;
    v.inbox = inbox;
    v.smtpPort = smtpPort;
    v.pop3Port = pop3Port;
    v.emptyTrash = emptyTrash;
    v.popup = popup;
    v.saveCookie = saveCookie;
    v.saveSent = saveSent;
    v.proxyType = proxyType;
    v.proxy = proxy;
    v.proxyPort = proxyPort;
    v.username = username;
    v.password = password;
    apply(v);
}

void Settings::apply(const SettingsValues& values) {
    SettingsValues v = values;
    if (v.smtpPort <= 0)
        v.smtpPort = kDefaultSmtpPort;
    if (v.pop3Port <= 0)
        v.pop3Port = kDefaultPop3Port;
    v.proxy = cut(v.proxy);
    v.username = cut(v.username);
    v.password = cut(v.password);
    std::lock_guard<std::mutex> hold(lock_);
    values_ = std::move(v);
}

void Settings::update(bool bulk, bool inbox, int smtpPort, int pop3Port, bool emptyTrash,
                      bool popup, bool saveCookie, bool saveSent, int proxyType,
                      const std::string& proxy, int proxyPort, const std::string& username,
                      const std::string& password) {
    apply(bulk, inbox, smtpPort, pop3Port, emptyTrash, popup, saveCookie, saveSent, proxyType,
          proxy, proxyPort, username, password);
    markChanged(true);
}

void Settings::update(const SettingsValues& values) {
    apply(values);
    markChanged(true);
}

void Settings::markChanged(bool on) {
    std::lock_guard<std::mutex> hold(changedLock_);
    changed_ = on;
}

SettingsValues Settings::values() const {
    std::lock_guard<std::mutex> hold(lock_);
    return values_;
}

bool Settings::changed() const {
    std::lock_guard<std::mutex> hold(changedLock_);
    return changed_;
}

bool Settings::inbox() const {
    return read(&SettingsValues::inbox);
}
bool Settings::bulk() const {
    return read(&SettingsValues::bulk);
}
bool Settings::emptyTrash() const {
    return read(&SettingsValues::emptyTrash);
}
bool Settings::log() const {
    std::lock_guard<std::mutex> hold(lock_);
    return log_;
}

bool Settings::popup() const {
    return read(&SettingsValues::popup);
}
bool Settings::saveCookie() const {
    return read(&SettingsValues::saveCookie);
}
bool Settings::saveSent() const {
    return read(&SettingsValues::saveSent);
}
int Settings::pop3Port() const {
    return read(&SettingsValues::pop3Port);
}
int Settings::smtpPort() const {
    return read(&SettingsValues::smtpPort);
}
int Settings::proxyType() const {
    return read(&SettingsValues::proxyType);
}
int Settings::proxyPort() const {
    return read(&SettingsValues::proxyPort);
}
std::string Settings::proxy() const {
    return read(&SettingsValues::proxy);
}
std::string Settings::username() const {
    return read(&SettingsValues::username);
}
std::string Settings::password() const {
    return read(&SettingsValues::password);
}

} // namespace quill
