// quillmere-host: a stand-in for the mail client that loads a plug-in library
// and drives it through its callbacks in the host's order, so the plug-in can
// run outside the mail client.
//
//   quillmere-host [--bka-version TEXT] [--setup] [--log] PLUGIN
//
// Loads PLUGIN, prints its information record, then either starts it, runs its
// setup and ends it (--setup), or initialises its menus, starts it and runs until SIGINT or
// SIGTERM (Ctrl-C or closing the console on Windows), then calls its exit
// callback and unloads it. Each line typed on standard input is handed to the
// plug-in as a console command ("cancel pop3", "cancel smtp"), except "quit",
// which ends the run as Ctrl-C does. --log has the plug-in write its
// diagnostic log to standard error (QUILLMERE_LOG=stderr in its environment).
//
// Exit status: 0 after a normal run, 1 when the plug-in refused to load or is
// not a plug-in, 2 for a bad command line or a missing file.

#include "platform/DynamicLibrary.h"
#include "platform/Environment.h"
#include "platform/Termination.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>

namespace quill::host {
extern const char* versionText;
} // namespace quill::host

namespace {

// The plug-in's callbacks, in the host's calling convention.
using VoidFn = int(QUILL_CALLBACK*)();
using MenuInitFn = int(QUILL_CALLBACK*)(void*, void*, int);
using PointerFn = int(QUILL_CALLBACK*)(void*);
using CommandFn = int(QUILL_CALLBACK*)(const char*);
// The POSIX stand-in for a DLL entry point's answer (see the plug-in).
using AttachFn = int (*)();

const char kProgram[] = "quillmere-host";
const std::size_t kInfoRecordSize = 320;
const std::size_t kInfoFieldSize = 80;

int usage() {
    std::cerr << "usage: " << kProgram << " [--bka-version TEXT] [--setup] [--log] PLUGIN\n";
    return 2;
}

std::string field(const char* record, std::size_t offset) {
    const char* text = record + offset;
    std::size_t n = 0;
    while (n < kInfoFieldSize && text[n] != '\0') {
        ++n;
    }
    return std::string(text, n);
}

// Lines typed on standard input go to the plug-in while it is loaded. The
// reading thread is left blocked in its read at exit; the lock keeps it from
// calling into a library that is being unloaded.
struct ConsoleCommands {
    std::mutex mutex;
    CommandFn command = nullptr; // null once the plug-in is going

    void run() {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.empty()) {
                continue;
            }
            if (line == "quit") {
                // The same as Ctrl-C, for runs where a signal cannot be sent.
                quill::platform::requestTermination();
                return;
            }
            std::lock_guard<std::mutex> lock(mutex);
            if (command == nullptr || command(line.c_str()) == 0) {
                std::cerr << kProgram << ": unknown command: " << line << std::endl;
            }
        }
    }
    void stop() {
        std::lock_guard<std::mutex> lock(mutex);
        command = nullptr;
    }
};

} // namespace

int main(int argc, char** argv) {
    bool setup = false;
    std::string pluginPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--setup") {
            setup = true;
        } else if (arg == "--log") {
            quill::platform::setEnvironmentValue("QUILLMERE_LOG", "stderr");
        } else if (arg == "--bka-version" && i + 1 < argc) {
            quill::host::versionText = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && pluginPath.empty()) {
            pluginPath = arg;
        } else {
            return usage();
        }
    }
    if (pluginPath.empty()) {
        return usage();
    }
    if (!std::ifstream(pluginPath, std::ios::binary)) {
        std::cerr << kProgram << ": cannot open " << pluginPath << std::endl;
        return 2;
    }
    // The plug-in finds its settings beside itself through its own path.
    std::error_code ignored;
    const std::string absolute = std::filesystem::absolute(pluginPath, ignored).string();

    quill::platform::watchTermination();

    quill::platform::DynamicLibrary library;
    if (!library.open(absolute.empty() ? pluginPath : absolute)) {
        std::cerr << kProgram << ": the plug-in refused to load (" << library.error() << ")"
                  << std::endl;
        return 1;
    }
    if (auto attach = reinterpret_cast<AttachFn>(library.symbol("PlugInAttach"))) {
        if (attach() == 0) {
            std::cerr << kProgram << ": the plug-in refused to load" << std::endl;
            return 1;
        }
    }

    auto info = reinterpret_cast<PointerFn>(library.symbol("BKC_OnPlugInInfo"));
    auto menuInit = reinterpret_cast<MenuInitFn>(library.symbol("BKC_OnMenuInit"));
    auto start = reinterpret_cast<VoidFn>(library.symbol("BKC_OnStart"));
    auto exitFn = reinterpret_cast<VoidFn>(library.symbol("BKC_OnExit"));
    auto setupFn = reinterpret_cast<PointerFn>(library.symbol("BKC_OnPlugInSetup"));
    auto command = reinterpret_cast<CommandFn>(library.symbol("PlugInConsoleCommand"));
    if (!info || !menuInit || !start || !exitFn || !setupFn) {
        std::cerr << kProgram << ": " << pluginPath << " is not a plug-in (BKC_ exports missing)"
                  << std::endl;
        return 1;
    }

    char record[kInfoRecordSize] = {};
    info(record);
    std::cout << "Name: " << field(record, 0) << "\n"
              << "Vendor: " << field(record, 80) << "\n"
              << "Version: " << field(record, 160) << "\n"
              << "Description: " << field(record, 240) << std::endl;

    if (setup) {
        // As in the mail client, the plug-in has been started (its settings
        // loaded) before the user can open its setup; otherwise the dialog
        // would show, and OK would write, the values from before the load.
        start();
        const int result = setupFn(nullptr);
        exitFn();
        std::cout << "BKC_OnPlugInSetup returned " << result << std::endl;
        return 0;
    }

    menuInit(nullptr, nullptr, 0);
    start();
    std::cout << kProgram << ": running; press Ctrl-C to stop" << std::endl;

    // Never freed: the reading thread may still be blocked in its read when
    // the program ends.
    static ConsoleCommands* const console = new ConsoleCommands;
    console->command = command;
    std::thread([] { console->run(); }).detach();

    quill::platform::waitForTermination();
    console->stop();
    exitFn();
    library.close();
    std::cout << kProgram << ": stopped" << std::endl;
    return 0;
}
