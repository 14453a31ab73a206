#include "platform/AtomicFile.h"

#include "platform/win32/OwnerOnly.h"

namespace quill::platform {

bool writeFileAtomically(const std::string& path, const std::string& bytes, bool ownerOnly) {
    const std::string temporary = path + ".tmp";
    OwnerOnlySecurity security;
    if (ownerOnly && !security.ok()) {
        return false; // never written with the folder's access rules instead
    }
    // A leftover is removed and the file created anew (CREATE_NEW), so it is
    // ours from its creation and carries its access list from that moment:
    // nobody can have opened it before.
    ::DeleteFileA(temporary.c_str());
    HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0,
                                ownerOnly ? security.attributes() : nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool ok = true;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        DWORD written = 0;
        const std::size_t chunk = bytes.size() - done;
        const DWORD request = chunk > 0x40000000u ? 0x40000000u : static_cast<DWORD>(chunk);
        ok = ::WriteFile(file, bytes.data() + done, request, &written, nullptr) != 0 && written > 0;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(file) != 0;
    ok = (::CloseHandle(file) != 0) && ok;
    // The renamed file keeps its own access list, not the replaced one's.
    if (ok && ::MoveFileExA(temporary.c_str(), path.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
        return true;
    }
    ::DeleteFileA(temporary.c_str());
    return false;
}

} // namespace quill::platform
