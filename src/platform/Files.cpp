#include "platform/Files.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace quill::platform {

bool readFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    char buf[16384];
    bool ok = true;
    for (;;) {
        std::size_t n = std::fread(buf, 1, sizeof buf, f);
        bytes.append(buf, n);
        if (n < sizeof buf) {
            ok = std::ferror(f) == 0;
            break;
        }
    }
    std::fclose(f);
    if (!ok)
        bytes.clear();
    return ok;
}

bool fileExists(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::fclose(f);
    return true;
}

unsigned long long fileSize(const std::string& path) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : static_cast<unsigned long long>(size);
}

bool renameReplacing(const std::string& from, const std::string& to) {
    std::error_code error;
    // Windows' rename refuses an existing target.
    std::filesystem::remove(to, error);
    std::filesystem::rename(from, to, error);
    return !error;
}

} // namespace quill::platform
