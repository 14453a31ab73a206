#include "ui/OptionsDialog.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace quill {
namespace {

using D = OptionsDialog;

// Controls as plain maps; every control starts enabled, as in the template
// (except Bulk, which the template disables).
class FakeControls : public OptionsControls {
public:
    FakeControls() { enabled[D::Bulk] = false; }
    void setCaption(const std::string& t) override { caption = t; }
    void setText(int id, const std::string& t) override { texts[id] = t; }
    std::string text(int id) const override {
        auto it = texts.find(id);
        return it == texts.end() ? std::string() : it->second;
    }
    void setChecked(int id, bool c) override { checks[id] = c ? 1 : 0; }
    int checkState(int id) const override {
        auto it = checks.find(id);
        return it == checks.end() ? 0 : it->second;
    }
    void setEnabled(int id, bool e) override { enabled[id] = e; }
    bool isEnabled(int id) const {
        auto it = enabled.find(id);
        return it == enabled.end() || it->second;
    }
    // What an auto radio button does by itself when clicked.
    void clickRadio(int id) {
        for (int r : {D::NoProxy, D::HttpProxy, D::Socks4, D::Socks5})
            checks[r] = r == id;
    }

    std::string caption;
    std::map<int, std::string> texts;
    std::map<int, int> checks;
    std::map<int, bool> enabled;
};

// The values a missing INI file produces.
SettingsValues defaults() {
    SettingsValues v;
    v.bulk = false;
    v.inbox = true;
    v.emptyTrash = v.popup = v.saveCookie = v.saveSent = true;
    return v;
}

struct Enabling {
    bool server, port, user, password;
};

Enabling enablingOf(const FakeControls& c) {
    return {c.isEnabled(D::ProxyServer), c.isEnabled(D::ProxyPort), c.isEnabled(D::ProxyUser),
            c.isEnabled(D::ProxyPassword)};
}

TEST(OptionsDialogTest, OpeningWithDefaultsShowsPortsNoProxyAndTheBoxes) {
    FakeControls c;
    D dialog(c);
    dialog.open(defaults());
    EXPECT_EQ(c.caption, "Quillmere 1.64");
    EXPECT_EQ(c.text(D::Pop3Port), "5110");
    EXPECT_EQ(c.text(D::SmtpPort), "5025");
    EXPECT_EQ(c.text(D::ProxyPort), "0");
    EXPECT_EQ(c.checkState(D::NoProxy), 1);
    for (int r : {D::HttpProxy, D::Socks4, D::Socks5})
        EXPECT_EQ(c.checkState(r), 0) << r;
    Enabling e = enablingOf(c);
    EXPECT_FALSE(e.server || e.port || e.user || e.password);
    for (int box : {D::Inbox, D::EmptyTrash, D::Popup, D::SaveCookie, D::SaveSent})
        EXPECT_EQ(c.checkState(box), 1) << box;
    EXPECT_EQ(c.checkState(D::Bulk), 0);
    EXPECT_FALSE(c.isEnabled(D::Bulk));
    EXPECT_EQ(c.text(D::About).rfind("Quillmere 1.64 (July 7th, 2004)\n", 0), 0u);
    EXPECT_EQ(dialog.proxyKind(), 0);
}

TEST(OptionsDialogTest, EachStoredProxyTypeChecksItsRadioAndEnablesItsFields) {
    struct Case {
        int type;
        int checkedRadio; // 0: none
        Enabling expected;
    } cases[] = {
        {0, D::NoProxy, {false, false, false, false}},
        {1, D::HttpProxy, {true, true, true, true}},
        {2, D::Socks4, {true, true, false, false}},
        {3, D::Socks5, {true, true, true, true}},
        // Out of range: no radio, and the template's enabled fields stay so.
        {4, 0, {true, true, true, true}},
        {-1, 0, {true, true, true, true}},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& k = cases[i];
        FakeControls c;
        D dialog(c);
        SettingsValues v = defaults();
        v.proxyType = k.type;
        dialog.open(v);
        for (int r : {D::NoProxy, D::HttpProxy, D::Socks4, D::Socks5})
            EXPECT_EQ(c.checkState(r), r == k.checkedRadio ? 1 : 0)
                << "case " << i << " radio " << r;
        Enabling e = enablingOf(c);
        EXPECT_EQ(e.server, k.expected.server) << "case " << i;
        EXPECT_EQ(e.port, k.expected.port) << "case " << i;
        EXPECT_EQ(e.user, k.expected.user) << "case " << i;
        EXPECT_EQ(e.password, k.expected.password) << "case " << i;
        EXPECT_EQ(dialog.ok().proxyType, k.type) << "case " << i;
    }
}

TEST(OptionsDialogTest, RadioClicksFollowTheEnablingTable) {
    // A sequence of clicks from No Proxy, with the fields after each one.
    struct Step {
        int radio;
        int kind;
        Enabling expected;
    } steps[] = {
        {D::Socks4, 2, {true, true, false, false}},
        {D::Socks5, 3, {true, true, true, true}},
        {D::Socks4, 2, {true, true, false, false}},
        {D::HttpProxy, 1, {true, true, true, true}},
        {D::NoProxy, 0, {false, false, false, false}},
        {D::NoProxy, 0, {false, false, false, false}},
        {D::HttpProxy, 1, {true, true, true, true}},
    };
    FakeControls c;
    D dialog(c);
    dialog.open(defaults());
    for (std::size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        c.clickRadio(steps[i].radio);
        dialog.clicked(steps[i].radio);
        EXPECT_EQ(dialog.proxyKind(), steps[i].kind) << "step " << i;
        Enabling e = enablingOf(c);
        EXPECT_EQ(e.server, steps[i].expected.server) << "step " << i;
        EXPECT_EQ(e.port, steps[i].expected.port) << "step " << i;
        EXPECT_EQ(e.user, steps[i].expected.user) << "step " << i;
        EXPECT_EQ(e.password, steps[i].expected.password) << "step " << i;
    }
}

TEST(OptionsDialogTest, ClickingTheSelectedKindOrAnotherControlChangesNothing) {
    FakeControls c;
    D dialog(c);
    SettingsValues v = defaults();
    v.proxyType = 2;
    dialog.open(v);
    // Someone enabled the user field behind the dialog's back: a click on the
    // radio that is already selected must not re-apply the table.
    c.setEnabled(D::ProxyUser, true);
    dialog.clicked(D::Socks4);
    EXPECT_TRUE(c.isEnabled(D::ProxyUser));
    for (int id :
         {int(D::Inbox), int(D::Popup), int(D::Ok), int(D::Cancel), int(D::Pop3Port), 0, 9999}) {
        dialog.clicked(id);
        EXPECT_EQ(dialog.proxyKind(), 2) << id;
    }
}

TEST(OptionsDialogTest, OkReadsEveryControlBack) {
    FakeControls c;
    D dialog(c);
    dialog.open(defaults());
    c.setText(D::Pop3Port, "6110");
    c.setText(D::SmtpPort, "-3");
    c.setText(D::ProxyServer, "proxy.example");
    c.setText(D::ProxyPort, "8080");
    c.setText(D::ProxyUser, "joe");
    c.setText(D::ProxyPassword, "se cret");
    c.checks[D::Inbox] = 0;
    c.checks[D::Bulk] = 1;
    c.checks[D::EmptyTrash] = 2; // indeterminate counts as checked
    c.checks[D::Popup] = 0;
    c.checks[D::SaveCookie] = 0;
    c.checks[D::SaveSent] = 1;
    c.clickRadio(D::Socks5);
    dialog.clicked(D::Socks5);

    SettingsValues v = dialog.ok();
    EXPECT_EQ(v.pop3Port, 6110);
    EXPECT_EQ(v.smtpPort, -3); // the settings put their default in its place
    EXPECT_EQ(v.proxy, "proxy.example");
    EXPECT_EQ(v.proxyPort, 8080);
    EXPECT_EQ(v.username, "joe");
    EXPECT_EQ(v.password, "se cret");
    EXPECT_FALSE(v.inbox);
    EXPECT_TRUE(v.bulk);
    EXPECT_TRUE(v.emptyTrash);
    EXPECT_FALSE(v.popup);
    EXPECT_FALSE(v.saveCookie);
    EXPECT_TRUE(v.saveSent);
    EXPECT_EQ(v.proxyType, 3);
}

TEST(OptionsDialogTest, FieldsTypedUnderHttpAreKeptWhenNoProxyIsChosen) {
    FakeControls c;
    D dialog(c);
    dialog.open(defaults());
    c.clickRadio(D::HttpProxy);
    dialog.clicked(D::HttpProxy);
    c.setText(D::ProxyServer, "gate");
    c.setText(D::ProxyPort, "3128");
    c.setText(D::ProxyUser, "u");
    c.setText(D::ProxyPassword, "p");
    c.clickRadio(D::NoProxy);
    dialog.clicked(D::NoProxy);
    EXPECT_FALSE(c.isEnabled(D::ProxyServer));
    SettingsValues v = dialog.ok();
    EXPECT_EQ(v.proxyType, 0);
    EXPECT_EQ(v.proxy, "gate");
    EXPECT_EQ(v.proxyPort, 3128);
    EXPECT_EQ(v.username, "u");
    EXPECT_EQ(v.password, "p");
}

TEST(OptionsDialogTest, OpenThenOkGivesTheOpeningValuesBack) {
    SettingsValues v = defaults();
    v.bulk = true;
    v.pop3Port = 1;
    v.smtpPort = 65535;
    v.proxyType = 1;
    v.proxy = "h";
    v.proxyPort = -7;
    v.username = "user name";
    v.password = "pw";
    FakeControls c;
    D dialog(c);
    dialog.open(v);
    EXPECT_EQ(dialog.ok(), v);
}

TEST(OptionsDialogTest, NumbersAreSignedDecimalsAndAnythingElseIsZero) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"5110", 5110},
        {"", 0},
        {"abc", 0},
        {"-5", -5},
        {"+42", 42},
        {"  17", 17},
        {"12abc", 12},
        {"0x10", 0},
        {"-", 0},
        {"+", 0},
        {" - 3", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"2147483648", 0},
        {"-2147483649", 0},
        {"99999999999999999999", 0},
        {"\t8", 8},
        {"1 2", 1},
        {"--1", 0},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i)
        EXPECT_EQ(D::readNumber(cases[i].text), cases[i].value)
            << "case " << i << ": \"" << cases[i].text << "\"";
}

} // namespace
} // namespace quill
