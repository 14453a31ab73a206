#pragma once
// The addresses of the web-mail site: the front page that carries the login
// challenge, the login form's target, and the mail domain whose suffix marks a
// signed-in page title.
//
// The compiled-in defaults lie under the reserved ".example" domain, so an
// unconfigured plug-in never sends anyone's credentials to a real server. The
// settings file can override them in its section "Site" with the keys
// "FrontPage", "LoginPage" and "MailDomain". A missing or empty value keeps the
// default, and so does an address that begins with neither "http://" nor
// "https://" (every address of the site is an absolute URL of one of the two).
// The section is only ever read.

#include <functional>
#include <string>

namespace quill {

struct SiteConfig {
    static constexpr const char* kSection = "Site";
    static constexpr const char* kDefaultFrontPage = "http://mail.vurel.example/";
    static constexpr const char* kDefaultLoginPage = "http://login.vurel.example/config/login";
    static constexpr const char* kDefaultMailDomain = "vurel.example";

    std::string frontPage = kDefaultFrontPage;
    std::string loginPage = kDefaultLoginPage;
    std::string mailDomain = kDefaultMailDomain;

    // "@" + mailDomain: what follows the user's name in a signed-in title.
    std::string mailSuffix() const { return "@" + mailDomain; }
    // True when the front page or the login page is https: then nothing of a
    // session may travel in clear text.
    bool secure() const {
        return frontPage.compare(0, 8, "https://") == 0 || loginPage.compare(0, 8, "https://") == 0;
    }

    // Builds the addresses from a key reader (key name -> value, empty when
    // the key is missing), applying the rules above.
    using KeyReader = std::function<std::string(const char* key)>;
    static SiteConfig fromKeys(const KeyReader& read);
    // The same from section "Site" of a settings file, read with the platform's
    // profile functions; a missing file gives the defaults.
    static SiteConfig fromIni(const std::string& iniPath);

    // The process-wide addresses that new web-mail clients take; the defaults
    // until replaced. Safe from any thread.
    static SiteConfig current();
    static void setCurrent(const SiteConfig& site);
    // setCurrent(fromIni(iniPath)): the plug-in calls it with the other
    // settings at start-up.
    static void load(const std::string& iniPath);
};

} // namespace quill
