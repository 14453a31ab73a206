#pragma once
// The plug-in's user options, kept in the INI file beside the library.
//
// Threads: the host thread loads, updates and saves; the two service threads
// and the host thread read. Each value is read and written under lock_, held
// only while values are copied in or out, never during file access. The
// "changed" mark has its own lock; the two locks are never held together.

#include "net/ServiceSettings.h"

#include <cstddef>
#include <mutex>
#include <string>

namespace quill {

class Settings : public ServiceSettings {
public:
    // Strings are kept to at most this many bytes (the INI reader's 256-byte
    // buffer with its terminator).
    static constexpr std::size_t kMaxText = 255;
    static constexpr int kDefaultPop3Port = 5110;
    static constexpr int kDefaultSmtpPort = 5025;

    // The process-wide object, created on first use with the values below. It
    // is never destroyed, so a service thread still running at process exit
    // can read it safely.
    static Settings& instance();

    // The values before any load: all flags off, ports 5110 and 5025, no
    // proxy, empty texts.
    Settings() = default;
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;

    // Reads every key of the file and applies the values; keys that are
    // missing (or a missing file) give their defaults. Does not mark changed.
    void load(const std::string& iniPath);
    // Writes every key when values were updated since the last save, then
    // clears the mark; does nothing otherwise. A failed write is not reported.
    void save(const std::string& iniPath);

    // Sets all values at once; ports of 0 or less become their defaults and
    // texts are cut to kMaxText bytes.
    void apply(bool bulk, bool inbox, int smtpPort, int pop3Port, bool emptyTrash, bool popup,
               bool saveCookie, bool saveSent, int proxyType, const std::string& proxy,
               int proxyPort, const std::string& username, const std::string& password);
    void apply(const SettingsValues& values);
    // apply, then mark the values changed so that the next save writes them.
    void update(bool bulk, bool inbox, int smtpPort, int pop3Port, bool emptyTrash, bool popup,
                bool saveCookie, bool saveSent, int proxyType, const std::string& proxy,
                int proxyPort, const std::string& username, const std::string& password);
    void update(const SettingsValues& values);

    // All values, copied under one hold of the lock.
    SettingsValues values() const;
    // Key "Log" of section "Setup": whether the diagnostic log is on. Read by
    // load() with the others; the options dialog neither shows nor writes it.
    bool log() const;
    bool changed() const;

    bool inbox() const override;
    bool bulk() const override;
    bool emptyTrash() const override;
    bool popup() const override;
    bool saveCookie() const override;
    bool saveSent() const override;
    int pop3Port() const override;
    int smtpPort() const override;
    int proxyType() const override;
    int proxyPort() const override;
    std::string proxy() const override;
    std::string username() const override;
    std::string password() const override;

private:
    template <typename T> T read(T SettingsValues::*field) const {
        std::lock_guard<std::mutex> hold(lock_);
        return values_.*field;
    }
    void markChanged(bool on);

    mutable std::mutex lock_;
    SettingsValues values_; // guarded by lock_
    bool log_ = false;      // guarded by lock_

    mutable std::mutex changedLock_;
    bool changed_ = false; // guarded by changedLock_
};

} // namespace quill
