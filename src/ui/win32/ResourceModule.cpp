#include "ui/win32/ResourceModule.h"

namespace quill {

HINSTANCE resourceModule() {
    HMODULE module = nullptr;
    // The address of this very function lies inside the module we want.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&resourceModule), &module))
        return GetModuleHandleA(nullptr);
    return module;
}

} // namespace quill
