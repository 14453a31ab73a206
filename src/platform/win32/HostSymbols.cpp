#include "platform/HostSymbols.h"

#include <windows.h>

namespace quill::platform {

void* hostModule() {
    return reinterpret_cast<void*>(::GetModuleHandleA(nullptr));
}

void* hostSymbol(void* module, const char* name) {
    if (module == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

} // namespace quill::platform
