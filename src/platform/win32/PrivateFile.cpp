#include "platform/Files.h"

#include "platform/win32/OwnerOnly.h"

#include <mutex>

namespace quill::platform {

bool appendPrivateTextFile(const std::string& path, const std::string& text) {
    OwnerOnlySecurity security;
    if (!security.ok()) {
        return false; // never written with the folder's access rules instead
    }
    // A file already there (an older build's) gets the list before more is
    // written to it; checked once per path in a process, not at every line.
    static std::mutex narrowedLock;
    static std::string narrowed;
    {
        std::lock_guard<std::mutex> hold(narrowedLock);
        if (narrowed != path && ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            if (!security.applyTo(path)) {
                return false;
            }
            narrowed = path;
        }
    }
    HANDLE file = ::CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ,
                                security.attributes(), OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Text mode: each "\n" is the system's line end.
    std::string bytes;
    bytes.reserve(text.size() + text.size() / 32);
    for (char c : text) {
        if (c == '\n') {
            bytes += '\r';
        }
        bytes += c;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD written = 0;
        ok = ::WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done),
                         &written, nullptr) != 0 &&
             written > 0;
        done += written;
    }
    return ::CloseHandle(file) != 0 && ok;
}

} // namespace quill::platform
