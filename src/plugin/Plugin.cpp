#include "plugin/Plugin.h"

#include "net/DiagnosticLog.h"
#include "platform/Environment.h"
#include "platform/ModulePath.h"
#include "platform/SocketStartup.h"
#include "plugin/HostServices.h"
#include "plugin/PluginUi.h"
#include "plugin/Settings.h"
#include "pop3/Pop3Server.h"
#include "smtp/SmtpServer.h"
#include "ui/ProgressWindow.h"
#include "webmail/CookieJar.h"
#include "webmail/SiteConfig.h"

#include <cstdio>
#include <cstring>

namespace quill {

Plugin& Plugin::instance() {
    static Plugin plugin;
    return plugin;
}

bool Plugin::attach() noexcept {
    try {
        if (!platform::startSockets()) {
            return false;
        }
        if (!HostServices::instance().bindProcess()) {
            return false; // a host without the services: refused without a message
        }
        paths_ = PluginPaths::fromModule(platform::modulePath(), platform::pathSeparators());
        attached_ = true;
        return true;
    } catch (...) {
        return false;
    }
}

void Plugin::openLog(bool on) {
    DiagnosticLog& log = DiagnosticLog::instance();
    if (platform::environmentValue("QUILLMERE_LOG") == "stderr") {
        log.openSink([](const std::string& line) {
            std::fwrite(line.data(), 1, line.size(), stderr);
            std::fflush(stderr);
        });
    } else if (on) {
        log.openFile(paths_.logFile);
    } else {
        return;
    }
    logEvent("starts; settings read from " + paths_.settingsFile);
}

void Plugin::start() {
    if (pop3_ || smtp_) {
        return;
    }
    Settings& settings = Settings::instance();
    settings.load(paths_.settingsFile); // before any thread reads the ports
    openLog(settings.log());
    SiteConfig::load(paths_.settingsFile);
    CookieJar::instance().load(paths_.cookieFile);
    pop3_ = makePop3Server(settings, pop3Progress(), CookieJar::instance());
    pop3_->start();
    smtp_ = makeSmtpServer(settings, smtpProgress(), CookieJar::instance());
    smtp_->start();
}

void Plugin::exit() {
    pluginui::closeWindows();
    // The host may unload the library right after: no thread may outlive it.
    if (pop3_) {
        pop3_->stop();
        pop3_.reset();
    }
    if (smtp_) {
        smtp_->stop();
        smtp_.reset();
    }
    if (Settings::instance().saveCookie()) {
        CookieJar::instance().save(paths_.cookieFile);
    }
    logEvent("ends");
    DiagnosticLog::instance().close();
}

void Plugin::menuInit(int kind) {
    if (kind == 0) {
        pluginui::openWindows();
    }
}

void Plugin::setup() {
    Settings& settings = Settings::instance();
    SettingsValues values = settings.values();
    if (pluginui::runOptionsDialog(values)) {
        settings.update(values);
        settings.save(paths_.settingsFile);
    }
}

void Plugin::plugInInfo(char* record) const {
    if (record == nullptr) {
        return;
    }
    std::strcpy(record + kNameOffset, kName);
    std::strcpy(record + kVendorOffset, kVendor);
    std::strcpy(record + kVersionOffset, kVersion);
    std::strcpy(record + kDescriptionOffset, kDescription);
}

} // namespace quill
