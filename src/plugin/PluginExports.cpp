// The callbacks that the host calls, exported under their plain names with the
// host's calling convention. Each one keeps every exception on this side: the
// host must never see one.

#include "net/DiagnosticLog.h"
#include "plugin/Plugin.h"
#include "plugin/PluginUi.h"

namespace {

quill::Plugin& plugin() {
    return quill::Plugin::instance();
}

} // namespace

extern "C" {

int QUILL_CALLBACK BKC_OnStart() {
    try {
        plugin().start();
    } catch (...) {
        quill::logCaughtException("BKC_OnStart");
    }
    return 0;
}

int QUILL_CALLBACK BKC_OnExit() {
    try {
        plugin().exit();
    } catch (...) {
        quill::logCaughtException("BKC_OnExit");
    }
    return 0;
}

int QUILL_CALLBACK BKC_OnMenuInit(void* /*window*/, void* /*menu*/, int kind) {
    try {
        plugin().menuInit(kind);
    } catch (...) {
        quill::logCaughtException("BKC_OnMenuInit");
    }
    return 0;
}

int QUILL_CALLBACK BKC_OnPlugInSetup(void* /*window*/) {
    try {
        plugin().setup();
    } catch (...) {
        quill::logCaughtException("BKC_OnPlugInSetup");
    }
    return 1;
}

int QUILL_CALLBACK BKC_OnPlugInInfo(void* record) {
    try {
        plugin().plugInInfo(static_cast<char*>(record));
    } catch (...) {
        quill::logCaughtException("BKC_OnPlugInInfo");
    }
    return 0;
}

// The callbacks this plug-in has nothing to do for.
int QUILL_CALLBACK BKC_OnOpenFolder(const char*) {
    return 0;
}
int QUILL_CALLBACK BKC_OnOpenMail(const char*) {
    return 0;
}
int QUILL_CALLBACK BKC_OnSend(const char*) {
    return 0;
}
int QUILL_CALLBACK BKC_OnFinishRetrieve(int) {
    return 0;
}
int QUILL_CALLBACK BKC_OnEveryMinute() {
    return 0;
}
int QUILL_CALLBACK BKC_OnOpenCompose(void*, int) {
    return 0;
}
int QUILL_CALLBACK BKC_OnOutgoing(void*, int) {
    return 0;
}
int QUILL_CALLBACK BKC_OnRetrieve(const char*, const char*) {
    return 0;
}
int QUILL_CALLBACK BKC_OnKeyDispatch(void*, int, int) {
    return 0;
}

// Not a host callback: a console host passes each line its user types, such
// as "cancel pop3". Returns 1 when the line was understood.
int QUILL_CALLBACK PlugInConsoleCommand(const char* line) {
    if (line == nullptr) {
        return 0;
    }
    return quill::pluginui::consoleCommand(line) ? 1 : 0;
}

} // extern "C"
