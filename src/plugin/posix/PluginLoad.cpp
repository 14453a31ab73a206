// The library's initialisation on POSIX systems, which have no refusal at load
// time: it runs as soon as the library is loaded, and a host asks for its
// result through PlugInAttach right after loading (what a DLL's entry point
// answers on Windows).

#include "plugin/Plugin.h"

namespace {

int attachResult = 0; // written once while the library is loaded

__attribute__((constructor)) void attachOnLoad() {
    attachResult = quill::Plugin::instance().attach() ? 1 : 0;
}

} // namespace

extern "C" int PlugInAttach() {
    return attachResult;
}
