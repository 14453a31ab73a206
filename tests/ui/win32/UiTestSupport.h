#pragma once
// Helpers for tests that drive real Win32 windows: pumping the calling
// thread's messages until a condition holds, reading control texts, and
// taking a screenshot of a window into a BMP file.

#include <windows.h>

#include <functional>
#include <string>

namespace quill {
namespace uitest {

// Dispatches the calling thread's messages until `done` holds or `timeoutMs`
// has passed; returns whether it holds. Waits on the message queue, so a
// window thread stays responsive meanwhile. The time-out holds however fast
// other threads post to this one.
bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// Waits (without pumping) until `done` holds, for conditions that another
// thread's window brings about.
bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

std::string windowText(HWND window);
std::string itemText(HWND dialog, int id);

// The first visible or hidden top-level dialog owned by `threadId` or, with
// threadId 0, by process `processId`; null if none.
HWND findDialog(DWORD threadId, DWORD processId = 0);
// The number of top-level dialogs that `threadId` owns.
int countDialogs(DWORD threadId);

// The pixel size of a rectangle of dialog units in `dialog`'s font.
SIZE dialogUnitsToPixels(HWND dialog, int width, int height);

// `window`'s client size, the pixel size of width x height dialog units in
// its font, and the whole window's size (frame included) around the latter:
// what a screenshot of the window must measure.
struct ClientSize {
    SIZE actual;
    SIZE expected;
    SIZE frame;
};
ClientSize clientInDialogUnits(HWND window, int width, int height);

// Copies what the screen shows of `window` (its whole window rectangle) into
// a 24-bit BMP file at `path`; returns false when the capture fails.
bool captureWindow(HWND window, const std::string& path);

struct BmpInfo {
    bool valid = false;
    int width = 0;
    int height = 0;
    int distinctColours = 0; // counted up to 64
};
BmpInfo readBmp(const std::string& path);
std::string fileBytes(const std::string& path); // empty when unreadable

// "screenshots\<name>" under the test's working directory (the build
// folder of the tests), creating the folder.
std::string screenshotPath(const std::string& name);

} // namespace uitest
} // namespace quill
