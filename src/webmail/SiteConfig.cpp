#include "webmail/SiteConfig.h"

#include "platform/Profile.h"

#include <mutex>

namespace quill {

namespace {

bool isHttpUrl(const std::string& text) {
    return text.compare(0, 7, "http://") == 0 || text.compare(0, 8, "https://") == 0;
}

std::mutex& currentMutex() {
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

SiteConfig& currentSite() {
    static SiteConfig* const site = new SiteConfig;
    return *site;
}

} // namespace

SiteConfig SiteConfig::fromKeys(const KeyReader& read) {
    SiteConfig site;
    std::string value = read("FrontPage");
    if (isHttpUrl(value)) {
        site.frontPage = value;
    }
    value = read("LoginPage");
    if (isHttpUrl(value)) {
        site.loginPage = value;
    }
    value = read("MailDomain");
    if (!value.empty()) {
        site.mailDomain = value;
    }
    return site;
}

SiteConfig SiteConfig::fromIni(const std::string& iniPath) {
    // 256-byte buffers, as for the other settings' strings.
    return fromKeys([&iniPath](const char* key) {
        return platform::profileString(kSection, key, std::string(), 256, iniPath);
    });
}

SiteConfig SiteConfig::current() {
    std::lock_guard<std::mutex> lock(currentMutex());
    return currentSite();
}

void SiteConfig::setCurrent(const SiteConfig& site) {
    std::lock_guard<std::mutex> lock(currentMutex());
    currentSite() = site;
}

void SiteConfig::load(const std::string& iniPath) {
    setCurrent(fromIni(iniPath));
}

} // namespace quill
