#include "plugin/PluginPaths.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(PluginPathsTest, SettingsAndCookieFilesBesideTheLibrary) {
    struct Case {
        const char* module;
        const char* separators;
        const char* settings;
        const char* cookies;
    } cases[] = {
        {"/opt/becky/plugin/Quillmere.so", "/", "/opt/becky/plugin/Quillmere.ini",
         "/opt/becky/plugin/VurelCookie.dat"},
        {"C:\\Becky!\\PlugIns\\Quillmere.dll", "\\/", "C:\\Becky!\\PlugIns\\Quillmere.ini",
         "C:\\Becky!\\PlugIns\\VurelCookie.dat"},
        // No extension: ".ini" is appended to the whole name.
        {"/opt/plugin/Quillmere", "/", "/opt/plugin/Quillmere.ini", "/opt/plugin/VurelCookie.dat"},
        // A dot in a folder name is not an extension.
        {"/home/a.b/Quillmere", "/", "/home/a.b/Quillmere.ini", "/home/a.b/VurelCookie.dat"},
        // Only the last extension is replaced.
        {"/x/Quill.mere.so", "/", "/x/Quill.mere.ini", "/x/VurelCookie.dat"},
        // A copy under another name is another installation.
        {"/x/Second.so", "/", "/x/Second.ini", "/x/VurelCookie.dat"},
        // Both separators count on Windows; the path's own one is kept.
        {"Z:\\work/build\\Quillmere.dll", "\\/", "Z:\\work/build\\Quillmere.ini",
         "Z:\\work/build\\VurelCookie.dat"},
        {"Z:/work/Quillmere.dll", "\\/", "Z:/work/Quillmere.ini", "Z:/work/VurelCookie.dat"},
        // A backslash is an ordinary character on Linux.
        {"/x/a\\b.so", "/", "/x/a\\b.ini", "/x/VurelCookie.dat"},
        {"Quillmere.so", "/", "Quillmere.ini", "VurelCookie.dat"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const PluginPaths p = PluginPaths::fromModule(cases[i].module, cases[i].separators);
        EXPECT_EQ(p.settingsFile, cases[i].settings) << "case " << i;
        EXPECT_EQ(p.cookieFile, cases[i].cookies) << "case " << i;
    }
}

} // namespace
} // namespace quill
