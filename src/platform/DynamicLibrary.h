#pragma once
// A loaded shared library (a .so or a DLL), unloaded when the object goes.

#include <string>
#include <utility>

namespace quill::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { close(); }
    DynamicLibrary(DynamicLibrary&& other) noexcept
        : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = std::exchange(other.handle_, nullptr);
            error_ = std::move(other.error_);
        }
        return *this;
    }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // Loads the library at path (any previous one is unloaded first). On
    // failure returns false and error() says why.
    bool open(const std::string& path);
    // The address of an exported name, or null. On 32-bit Windows a function
    // with the standard calling convention may be exported decorated
    // ("name@N"); pass the name as exported.
    void* symbol(const char* name) const;
    void close() noexcept;

    bool isOpen() const { return handle_ != nullptr; }
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace quill::platform
