#include "platform/Profile.h"

#include "platform/win32/OwnerOnly.h"

#include <vector>

namespace quill::platform {

int profileInt(const std::string& section, const std::string& key, int defaultValue,
               const std::string& path) {
    return static_cast<int>(
        ::GetPrivateProfileIntA(section.c_str(), key.c_str(), defaultValue, path.c_str()));
}

std::string profileString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t size,
                          const std::string& path) {
    if (size == 0)
        return std::string();
    std::vector<char> buffer(size, '\0');
    DWORD n = ::GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                         buffer.data(), static_cast<DWORD>(size), path.c_str());
    if (n >= size)
        n = static_cast<DWORD>(size - 1);
    return std::string(buffer.data(), n);
}

bool writeProfileString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& path) {
    // The file may hold the proxy password. A missing one is created empty
    // with the owner-only access list before the system's writer fills it;
    // one that exists (from an older version, say) gets the list after the
    // write.
    OwnerOnlySecurity security;
    HANDLE created = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, security.attributes(),
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (created != INVALID_HANDLE_VALUE)
        ::CloseHandle(created);
    return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(),
                                        path.c_str()) != 0 &&
           security.applyTo(path);
}

} // namespace quill::platform
