#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace quill::platform {

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool DynamicLibrary::open(const std::string& path) {
    close();
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* e = ::dlerror();
        error_ = e != nullptr ? e : "cannot load " + path;
        return false;
    }
    error_.clear();
    return true;
}

void* DynamicLibrary::symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr)
        return nullptr;
    return ::dlsym(handle_, name);
}

void DynamicLibrary::close() noexcept {
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
}

} // namespace quill::platform
