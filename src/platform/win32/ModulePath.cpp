#include "platform/ModulePath.h"

#include <windows.h>

namespace quill::platform {

namespace {
void anchor() {}
} // namespace

std::string modulePath() {
    HMODULE module = nullptr;
    // The module that contains this function: the plug-in DLL when linked into it.
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCSTR>(&anchor), &module))
        return std::string();
    char path[MAX_PATH + 1];
    DWORD n = ::GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string(path, n == 0 ? 0 : n);
    return std::string(path, n);
}

const char* pathSeparators() {
    return "\\/";
}

} // namespace quill::platform
