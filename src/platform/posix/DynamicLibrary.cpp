#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

namespace quill::platform {

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
