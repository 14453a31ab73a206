#include "webmail/SiteConfig.h"

#include "platform/Profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace quill {
namespace {

namespace fs = std::filesystem;

TEST(SiteConfig, DefaultsStayUnderTheReservedExampleDomain) {
    const SiteConfig site;
    EXPECT_EQ(site.frontPage, "http://mail.vurel.example/");
    EXPECT_EQ(site.loginPage, "http://login.vurel.example/config/login");
    EXPECT_EQ(site.mailDomain, "vurel.example");
    EXPECT_EQ(site.mailSuffix(), "@vurel.example");
}

TEST(SiteConfig, SettingsFileOverridesOnlyUsableValues) {
    const fs::path ini = fs::temp_directory_path() / "quill-siteconfig-test.ini";
    const std::string content = "[Setup]\r\nPOP3Port=5110\r\n"
                                "[Site]\r\n"
                                "FrontPage=https://127.0.0.7:8443/\r\n"
                                "LoginPage=ftp://wrong/config/login\r\n"
                                "MailDomain=\r\n";
    {
        std::ofstream out(ini, std::ios::binary | std::ios::trunc);
        out << content;
    }
    const SiteConfig site = SiteConfig::fromIni(ini.string());
    EXPECT_EQ(site.frontPage, "https://127.0.0.7:8443/");
    EXPECT_EQ(site.loginPage,
              "http://login.vurel.example/config/login"); // neither http:// nor https://
    EXPECT_EQ(site.mailDomain, "vurel.example");          // empty

    ASSERT_TRUE(platform::writeProfileString("site", "maildomain", "corp.example", ini.string()));
    EXPECT_EQ(SiteConfig::fromIni(ini.string()).mailDomain, "corp.example");

    // Reading never writes the file.
    std::ifstream in(ini, std::ios::binary);
    const std::string after((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    EXPECT_NE(after.find("FrontPage=https://127.0.0.7:8443/\r\n"), std::string::npos);
    fs::remove(ini);
}

TEST(SiteConfig, MissingFileGivesTheDefaults) {
    const SiteConfig site =
        SiteConfig::fromIni((fs::temp_directory_path() / "quill-no-such-file-here.ini").string());
    EXPECT_EQ(site.frontPage, SiteConfig::kDefaultFrontPage);
    EXPECT_EQ(site.loginPage, SiteConfig::kDefaultLoginPage);
    EXPECT_EQ(site.mailDomain, SiteConfig::kDefaultMailDomain);
}

} // namespace
} // namespace quill
