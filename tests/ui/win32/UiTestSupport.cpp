#include "ui/win32/UiTestSupport.h"

#include <cstdio>
#include <set>
#include <vector>

namespace quill {
namespace uitest {

bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        // One message at a time, with the condition and the clock checked
        // after each: another thread that posts as fast as this one handles
        // its messages (a service thread reporting in a tight loop) would
        // otherwise keep the queue from ever running dry, and this from ever
        // returning.
        MSG msg;
        bool dispatched = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) != FALSE;
        if (dispatched) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        // With the queue empty, wake for the next message, or re-check now
        // and then for conditions that another thread changes.
        if (!dispatched)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool waitUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

std::string windowText(HWND window) {
    char buffer[1024] = {0};
    GetWindowTextA(window, buffer, sizeof buffer);
    return buffer;
}

std::string itemText(HWND dialog, int id) {
    char buffer[1024] = {0};
    GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
    return buffer;
}

namespace {

struct Search {
    DWORD processId;
    std::vector<HWND> found;
};

bool isDialog(HWND window) {
    char name[16] = {0};
    GetClassNameA(window, name, sizeof name);
    return std::string(name) == "#32770";
}

BOOL CALLBACK collect(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (!isDialog(window))
        return TRUE;
    if (search->processId != 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        if (pid != search->processId)
            return TRUE;
    }
    search->found.push_back(window);
    return TRUE;
}

} // namespace

HWND findDialog(DWORD threadId, DWORD processId) {
    Search search{processId, {}};
    if (threadId != 0)
        EnumThreadWindows(threadId, collect, reinterpret_cast<LPARAM>(&search));
    else
        EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

int countDialogs(DWORD threadId) {
    Search search{0, {}};
    EnumThreadWindows(threadId, collect, reinterpret_cast<LPARAM>(&search));
    return static_cast<int>(search.found.size());
}

SIZE dialogUnitsToPixels(HWND dialog, int width, int height) {
    RECT r = {0, 0, width, height};
    MapDialogRect(dialog, &r);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

ClientSize clientInDialogUnits(HWND window, int width, int height) {
    ClientSize size;
    size.expected = dialogUnitsToPixels(window, width, height);
    RECT c;
    GetClientRect(window, &c);
    size.actual = SIZE{c.right - c.left, c.bottom - c.top};
    RECT frame = {0, 0, size.expected.cx, size.expected.cy};
    AdjustWindowRectEx(&frame, GetWindowLongA(window, GWL_STYLE), FALSE,
                       GetWindowLongA(window, GWL_EXSTYLE));
    size.frame = SIZE{frame.right - frame.left, frame.bottom - frame.top};
    return size;
}

bool captureWindow(HWND window, const std::string& path) {
    RECT r;
    if (!GetWindowRect(window, &r))
        return false;
    int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h; // bottom-up, as stored in the file
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap && bits) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (ok) {
        DWORD stride = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
        DWORD imageSize = stride * static_cast<DWORD>(h);
        BITMAPFILEHEADER file = {};
        file.bfType = 0x4D42; // "BM"
        file.bfOffBits = sizeof file + sizeof info.bmiHeader;
        file.bfSize = file.bfOffBits + imageSize;
        info.bmiHeader.biSizeImage = imageSize;
        FILE* out = std::fopen(path.c_str(), "wb");
        ok = out && std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, imageSize, 1, out) == 1;
        if (out)
            ok = std::fclose(out) == 0 && ok;
    }
    if (bitmap)
        DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

BmpInfo readBmp(const std::string& path) {
    BmpInfo result;
    FILE* in = std::fopen(path.c_str(), "rb");
    if (!in)
        return result;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    if (std::fread(&file, sizeof file, 1, in) == 1 && file.bfType == 0x4D42 &&
        std::fread(&header, sizeof header, 1, in) == 1 && header.biBitCount == 24) {
        result.width = header.biWidth;
        result.height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
        std::size_t stride = (static_cast<std::size_t>(result.width) * 3 + 3) & ~std::size_t(3);
        std::vector<unsigned char> pixels(stride * static_cast<std::size_t>(result.height));
        std::fseek(in, static_cast<long>(file.bfOffBits), SEEK_SET);
        if (!pixels.empty() && std::fread(pixels.data(), pixels.size(), 1, in) == 1) {
            std::set<unsigned long> colours;
            for (int y = 0; y < result.height && colours.size() < 64; ++y)
                for (int x = 0; x < result.width && colours.size() < 64; ++x) {
                    const unsigned char* p = &pixels[y * stride + x * 3];
                    colours.insert(p[0] | (p[1] << 8) | (static_cast<unsigned long>(p[2]) << 16));
                }
            result.distinctColours = static_cast<int>(colours.size());
            result.valid = true;
        }
    }
    std::fclose(in);
    return result;
}

std::string fileBytes(const std::string& path) {
    std::string bytes;
    if (FILE* in = std::fopen(path.c_str(), "rb")) {
        char buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
            bytes.append(buffer, n);
        std::fclose(in);
    }
    return bytes;
}

std::string screenshotPath(const std::string& name) {
    CreateDirectoryA("screenshots", nullptr);
    return "screenshots\\" + name;
}

} // namespace uitest
} // namespace quill
