#include "platform/DynamicLibrary.h"

#include <windows.h>

namespace quill::platform {

bool DynamicLibrary::open(const std::string& path) {
    close();
    handle_ = reinterpret_cast<void*>(::LoadLibraryA(path.c_str()));
    if (handle_ == nullptr) {
        error_ = "cannot load " + path + " (error " + std::to_string(::GetLastError()) + ")";
        return false;
    }
    error_.clear();
    return true;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::close() noexcept {
    if (handle_ != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = nullptr;
    }
}

} // namespace quill::platform
