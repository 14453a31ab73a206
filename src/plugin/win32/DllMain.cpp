// The library's entry point on Windows. Returning 0 at process attach makes the
// host's LoadLibrary fail: the plug-in is refused. The initialisation starts
// no thread and loads no library, so it is safe under the loader lock.

#include "plugin/Plugin.h"

namespace {
const unsigned long kProcessAttach = 1; // DLL_PROCESS_ATTACH
}

extern "C" int __attribute__((stdcall))
DllMain(void* /*instance*/, unsigned long reason, void* /*reserved*/) {
    if (reason == kProcessAttach) {
        return quill::Plugin::instance().attach() ? 1 : 0;
    }
    return 1;
}
