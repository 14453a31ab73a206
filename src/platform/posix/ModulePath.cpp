#include "platform/ModulePath.h"

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
    return info.dli_fname;
}

const char* pathSeparators() { return "/"; }

} // namespace quill::platform
