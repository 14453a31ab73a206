#include "platform/HostSymbols.h"

#include <dlfcn.h>

namespace quill::platform {

void* hostModule() {
    // The handle of the main program; it stays valid for the life of the
    // process, so it is opened once and never closed.
    static void* const self = ::dlopen(nullptr, RTLD_NOW);
    return self;
}

void* hostSymbol(void* module, const char* name) {
    if (module == nullptr || name == nullptr)
        return nullptr;
    return ::dlsym(module, name);
}

} // namespace quill::platform
