#include "plugin/PluginPaths.h"

namespace quill {

namespace {
const char kCookieFileName[] = "VurelCookie.dat";
}

PluginPaths PluginPaths::fromModule(const std::string& modulePath, const std::string& separators) {
    PluginPaths paths;
    const std::string::size_type slash = modulePath.find_last_of(separators);
    const std::string::size_type nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string::size_type dot = modulePath.rfind('.');
    if (dot != std::string::npos && dot >= nameStart) {
        paths.settingsFile = modulePath.substr(0, dot) + ".ini";
    } else {
        paths.settingsFile = modulePath + ".ini";
    }
    paths.logFile = paths.settingsFile.substr(0, paths.settingsFile.size() - 4) + ".log";
    if (slash == std::string::npos) {
        paths.cookieFile = kCookieFileName; // a bare name: the current folder
    } else {
        paths.cookieFile = modulePath.substr(0, slash + 1) + kCookieFileName;
    }
    return paths;
}

} // namespace quill
