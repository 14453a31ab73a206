// Drives a dialog of another program through window messages, as a user's
// clicks and typing reach it, and checks what its controls show. Used by the
// end-to-end tests of the stand-in host's --setup under wine.
//
//   quill-dialog-driver STEP...
//     find CAPTION            wait for a top-level dialog with this caption
//     expect-text ID TEXT     control ID shows TEXT
//     expect-checked ID 0|1   check box or radio button state
//     expect-enabled ID 0|1
//     set ID TEXT             type TEXT into an edit field (replacing it)
//     click ID                press a button, check box or radio button
//     wait-gone               wait until the dialog has been destroyed
//     watch STOPFILE          until STOPFILE exists (at most 10 minutes), print
//                             one line whenever a progress window (a dialog
//                             with an animation control) appears or changes:
//                             "<window> <0|1 visible>\t<caption>\t<detail>"
//
// Prints one line per failed expectation; exits 0 when all held, 1 when some
// failed, 2 on a usage error or when a wait timed out (30 s each).
#include "ui/win32/UiTestSupport.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using quill::uitest::itemText;
using quill::uitest::waitUntil;

constexpr DWORD waitMs = 30000;

struct FindCaption {
    const char* caption;
    HWND found;
};

BOOL CALLBACK matchCaption(HWND window, LPARAM param) {
    auto* find = reinterpret_cast<FindCaption*>(param);
    char name[16] = {0};
    char text[256] = {0};
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, text, sizeof text);
    if (std::string(name) == "#32770" && std::string(text) == find->caption &&
        IsWindowVisible(window)) {
        find->found = window;
        return FALSE;
    }
    return TRUE;
}

struct ProgressState {
    HWND window;
    std::string line;
};

BOOL CALLBACK collectProgress(HWND window, LPARAM param) {
    auto* windows = reinterpret_cast<std::vector<HWND>*>(param);
    char name[16] = {0};
    GetClassNameA(window, name, sizeof name);
    if (std::string(name) == "#32770" && GetDlgItem(window, 3011) != nullptr)
        windows->push_back(window);
    return TRUE;
}

// Polls the progress windows of every program and prints each change.
void watch(const char* stopFile) {
    std::vector<ProgressState> known;
    DWORD start = GetTickCount();
    while (GetFileAttributesA(stopFile) == INVALID_FILE_ATTRIBUTES &&
           GetTickCount() - start < 600000) {
        std::vector<HWND> windows;
        EnumWindows(collectProgress, reinterpret_cast<LPARAM>(&windows));
        for (HWND w : windows) {
            char caption[1024] = {0};
            GetWindowTextA(w, caption, sizeof caption);
            char head[32];
            std::snprintf(head, sizeof head, "%lu %d\t",
                          static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(w)),
                          IsWindowVisible(w) ? 1 : 0);
            std::string line = head + std::string(caption) + "\t" + itemText(w, 3004);
            bool seen = false;
            for (ProgressState& k : known) {
                if (k.window == w) {
                    seen = true;
                    if (k.line != line) {
                        k.line = line;
                        std::printf("%s\n", line.c_str());
                    }
                }
            }
            if (!seen) {
                known.push_back({w, line});
                std::printf("%s\n", line.c_str());
            }
        }
        std::fflush(stdout);
        Sleep(1);
    }
}

} // namespace

int main(int argc, char** argv) {
    HWND dialog = nullptr;
    int failures = 0;
    auto need = [&](int i, int count) {
        if (i + count >= argc) {
            std::fprintf(stderr, "quill-dialog-driver: %s needs %d argument(s)\n", argv[i], count);
            std::exit(2);
        }
        if (!dialog && std::string(argv[i]) != "find") {
            std::fprintf(stderr, "quill-dialog-driver: %s before find\n", argv[i]);
            std::exit(2);
        }
    };
    for (int i = 1; i < argc; ++i) {
        std::string step = argv[i];
        if (step == "find") {
            need(i, 1);
            FindCaption find{argv[++i], nullptr};
            if (!waitUntil(
                    [&] {
                        EnumWindows(matchCaption, reinterpret_cast<LPARAM>(&find));
                        return find.found != nullptr;
                    },
                    waitMs)) {
                std::printf("no dialog \"%s\" appeared\n", find.caption);
                return 2;
            }
            dialog = find.found;
        } else if (step == "expect-text") {
            need(i, 2);
            int id = std::atoi(argv[i + 1]);
            std::string want = argv[i + 2];
            i += 2;
            std::string got = itemText(dialog, id);
            if (got != want) {
                std::printf("control %d shows \"%s\", expected \"%s\"\n", id, got.c_str(),
                            want.c_str());
                ++failures;
            }
        } else if (step == "expect-checked" || step == "expect-enabled") {
            need(i, 2);
            int id = std::atoi(argv[i + 1]);
            bool want = std::atoi(argv[i + 2]) != 0;
            i += 2;
            bool got = step == "expect-checked" ? IsDlgButtonChecked(dialog, id) == BST_CHECKED
                                                : IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
            if (got != want) {
                std::printf("control %d is %s%s\n", id, got ? "" : "not ",
                            step == "expect-checked" ? "checked" : "enabled");
                ++failures;
            }
        } else if (step == "set") {
            need(i, 2);
            SetDlgItemTextA(dialog, std::atoi(argv[i + 1]), argv[i + 2]);
            i += 2;
        } else if (step == "click") {
            need(i, 1);
            SendMessageA(GetDlgItem(dialog, std::atoi(argv[++i])), BM_CLICK, 0, 0);
        } else if (step == "watch") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quill-dialog-driver: watch needs a file\n");
                return 2;
            }
            watch(argv[++i]);
        } else if (step == "wait-gone") {
            need(i, 0);
            if (!waitUntil([&] { return !IsWindow(dialog); }, waitMs)) {
                std::printf("the dialog is still there\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "quill-dialog-driver: unknown step %s\n", argv[i]);
            return 2;
        }
    }
    std::fflush(stdout);
    return failures == 0 ? 0 : 1;
}
