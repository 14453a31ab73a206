#pragma once
// The two files that sit beside the plug-in library: its settings file (the
// library's name with the extension ".ini") and the cookie file
// "VurelCookie.dat". Copying the library into another folder, with its own
// settings file, therefore gives an independent installation.

#include <string>

namespace quill {

struct PluginPaths {
    std::string settingsFile;
    std::string cookieFile;
    // The diagnostic log: the settings file's name with ".log" for ".ini".
    std::string logFile;

    // Works the paths out from the library's full path. separators lists the
    // characters that end a folder name ("/" on Linux, "\\/" on Windows); the
    // cookie file is joined with the separator that the path itself uses.
    // Only a dot in the file name counts as the start of an extension: a dot
    // in a folder name is kept, and a name without one gets ".ini" appended.
    static PluginPaths fromModule(const std::string& modulePath, const std::string& separators);
};

} // namespace quill
