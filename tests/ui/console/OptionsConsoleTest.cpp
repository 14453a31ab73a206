#include "ui/console/OptionsConsole.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quill {
namespace {

SettingsValues defaults() {
    SettingsValues v;
    v.inbox = v.emptyTrash = v.popup = v.saveCookie = v.saveSent = true;
    return v;
}

struct Outcome {
    bool confirmed;
    SettingsValues values;
    std::string output;
};

Outcome runWith(const std::string& input, SettingsValues start = defaults()) {
    std::istringstream in(input);
    std::ostringstream out;
    OptionsConsole console;
    bool ok = console.run(in, out, start);
    return {ok, start, out.str()};
}

TEST(OptionsConsoleTest, ShowsEveryControlWithItsValueAndState) {
    SettingsValues v = defaults();
    v.password = "secret";
    Outcome o = runWith("cancel\n", v);
    const std::string& s = o.output;
    for (const char* expected :
         {"Quillmere 1.64\n", "1000\tPOP3 port: \"5110\"", "1001\tSMTP port: \"5025\"",
          "3006\t(*) No Proxy", "3008\t( ) SOCK4", "1002\tProxy server: \"\" (disabled)",
          "1010\tPassword: \"******\" (disabled)", "1005\t[x] Inbox", "1007\t[ ] Bulk (disabled)",
          "3003\t[x] Save cookies to disk, expires in 8 hours", "Quillmere 1.64 (July 7th, 2004)"})
        EXPECT_NE(s.find(expected), std::string::npos) << expected << "\n" << s;
    EXPECT_EQ(s.find("secret"), std::string::npos) << "the password must be masked";
}

TEST(OptionsConsoleTest, ScriptsEndWithTheRightValues) {
    struct Case {
        const char* input;
        bool confirmed;
        int pop3, proxyType, proxyPort;
        const char* proxy;
        bool inbox;
    } cases[] = {
        {"ok\n", true, 5110, 0, 0, "", true},
        {"1\n", true, 5110, 0, 0, "", true},
        {"1000=6000\r\nok\r\n", true, 6000, 0, 0, "", true},
        {"1000=\nok\n", true, 0, 0, 0, "", true}, // the settings turn 0 into 5110
        {"1000=6000\ncancel\n", false, 5110, 0, 0, "", true},
        {"1000=6000\n2\n", false, 5110, 0, 0, "", true},
        {"1000=6000\n", false, 5110, 0, 0, "", true}, // end of input: Cancel
        {"", false, 5110, 0, 0, "", true},
        {"3007\n1002=gate\n1004=3128\n3006\nok\n", true, 5110, 0, 3128, "gate", true},
        {"3008\n1002=s\nok\n", true, 5110, 2, 0, "s", true},
        {"1002=refused while disabled\nok\n", true, 5110, 0, 0, "", true},
        {"1005\nok\n", true, 5110, 0, 0, "", false},
        {"1005\n1005\nok\n", true, 5110, 0, 0, "", true},
        {"1005=x\nbogus\n42\n3012\nok\n", true, 5110, 0, 0, "", true},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& k = cases[i];
        Outcome o = runWith(k.input);
        EXPECT_EQ(o.confirmed, k.confirmed) << "case " << i;
        EXPECT_EQ(o.values.pop3Port, k.pop3) << "case " << i;
        EXPECT_EQ(o.values.proxyType, k.proxyType) << "case " << i;
        EXPECT_EQ(o.values.proxyPort, k.proxyPort) << "case " << i;
        EXPECT_EQ(o.values.proxy, k.proxy) << "case " << i;
        EXPECT_EQ(o.values.inbox, k.inbox) << "case " << i;
        if (!k.confirmed) {
            EXPECT_EQ(o.values, defaults()) << "case " << i << ": Cancel must not change anything";
        }
    }
}

TEST(OptionsConsoleTest, RefusalsAreReported) {
    Outcome o = runWith("1007\n1004=1\n1005=x\n3012\nnope\nok\n");
    EXPECT_NE(o.output.find("control 1007 is disabled"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("control 1004 is disabled"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("control 1005 is not an edit field"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("control 3012 cannot be clicked"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("no such control or command: nope"), std::string::npos) << o.output;
    EXPECT_FALSE(o.values.bulk);
}

TEST(OptionsConsoleTest, ShowListsTheChangedStateAgain) {
    Outcome o = runWith("3009\nshow\ncancel\n");
    EXPECT_NE(o.output.find("3009\t(*) SOCK5"), std::string::npos) << o.output;
    EXPECT_NE(o.output.find("1010\tPassword: \"\"\n"), std::string::npos) << o.output;
}

} // namespace
} // namespace quill
