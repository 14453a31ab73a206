#include "plugin/Plugin.h"

#include "ui/ProgressWindows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace quill {
namespace {

TEST(PluginTest, InformationRecordHoldsFourTextsAndNothingElse) {
    char record[400];
    std::memset(record, 0x5a, sizeof record);
    Plugin::instance().plugInInfo(record);
    struct Field {
        int offset;
        std::string text;
    } fields[] = {
        {0, "Quillmere"},
        {80, Plugin::kVendor},
        {160, "1.64"},
        {240, "Enables Becky! to access your Vurel Web mail accounts."},
    };
    std::string expected(sizeof record, '\x5a');
    for (const Field& f : fields) {
        ASSERT_LT(f.text.size(), 80u) << f.offset;
        expected.replace(f.offset, f.text.size() + 1, f.text + '\0');
    }
    EXPECT_EQ(std::string(record, sizeof record), expected);
    Plugin::instance().plugInInfo(nullptr); // a host without a record: nothing happens
}

TEST(PluginTest, ProgressWindowsFollowMenuInitAndExit) {
    Plugin& plugin = Plugin::instance();
    plugin.menuInit(1);
    EXPECT_FALSE(ProgressWindows::isOpen());
    plugin.menuInit(0);
    if (!ProgressWindows::isOpen()) {
        GTEST_SKIP() << "the progress windows cannot be created here (no display)";
    }
    plugin.menuInit(0); // a second kind-0 call keeps the windows
    EXPECT_TRUE(ProgressWindows::isOpen());
    plugin.exit(); // never started: only the windows go
    EXPECT_FALSE(ProgressWindows::isOpen());
}

} // namespace
} // namespace quill
