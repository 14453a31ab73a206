#include "platform/ModulePath.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>

namespace quill::platform {

namespace {
void anchor() {}
} // namespace

std::string modulePath() {
    Dl_info info{};
    // The object that contains this function: the plug-in when linked into it.
    if (::dladdr(reinterpret_cast<void*>(&anchor), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    // The loader reports the name it was given, which may be relative to a
    // working folder that changes later: make it absolute.
    char resolved[PATH_MAX];
    if (info.dli_fname[0] != '/' && ::realpath(info.dli_fname, resolved) != nullptr)
        return resolved;
    return info.dli_fname;
}

const char* pathSeparators() {
    return "/";
}

} // namespace quill::platform
