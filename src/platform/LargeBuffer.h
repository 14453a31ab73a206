#pragma once
// Buffers of many megabytes that are about to be filled.
//
// adviseLargeBuffer() is a hint: on Linux it asks for transparent huge pages
// over the buffer's whole 2 MiB blocks, so that filling 50 MB faults in some 25
// pages instead of 12,000. Buffers under 4 MiB, and systems without the
// feature, are left as they are; the contents and the size never change.
//
// LargeBufferAllocator gives a container storage with that hint already
// given. On Linux a block too large for the C library to keep in its heap (it
// maps those afresh on every allocation) is also placed on a huge-page
// boundary and rounded up to whole huge pages, so that the hint covers all of
// it: otherwise the 4 KiB pages at both of its ends, up to 1,000 of them, are
// faulted in and zeroed one by one. Allocation fails as operator new does, by
// throwing std::bad_alloc.
#include <cstddef>

namespace quill::platform {

void adviseLargeBuffer(void* data, std::size_t size) noexcept;

void* allocateLargeBuffer(std::size_t size);
// Frees what allocateLargeBuffer(size) gave, with the same size.
void releaseLargeBuffer(void* data, std::size_t size) noexcept;

template <class T> class LargeBufferAllocator {
public:
    using value_type = T;

    LargeBufferAllocator() = default;
    template <class U> LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        return static_cast<T*>(allocateLargeBuffer(count * sizeof(T)));
    }
    void deallocate(T* data, std::size_t count) noexcept {
        releaseLargeBuffer(data, count * sizeof(T));
    }

    template <class U> bool operator==(const LargeBufferAllocator<U>&) const noexcept {
        return true;
    }
    template <class U> bool operator!=(const LargeBufferAllocator<U>&) const noexcept {
        return false;
    }
};

} // namespace quill::platform
