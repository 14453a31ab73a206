#include "platform/LargeBuffer.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace quill::platform {

namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t(2) << 20;

// From this size on, glibc maps every block afresh (its heap threshold never
// rises above 32 MiB), so placing the block on huge pages costs nothing that
// the heap would have saved.
constexpr std::size_t kFreshMapping = std::size_t(32) << 20;

} // namespace

void adviseLargeBuffer(void* data, std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE
    if (data == nullptr || size < 2 * kHugePage) {
        return;
    }
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
    if (last > first) {
        // Refused (no huge page support, an old kernel): the buffer simply
        // keeps small pages.
        madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)size;
#endif
}

void* allocateLargeBuffer(std::size_t size) {
    if (size < kFreshMapping) {
        void* data = ::operator new(size);
        adviseLargeBuffer(data, size);
        return data;
    }
    // One huge page more than the whole huge pages the buffer needs: the
    // buffer starts on the first boundary past the address of the block,
    // which is kept just in front of it for the release.
    const std::size_t whole = (size + kHugePage - 1) & ~(kHugePage - 1);
    if (whole < size || whole + kHugePage < whole) {
        throw std::bad_alloc();
    }
    char* block = static_cast<char*>(::operator new(whole + kHugePage));
    const std::uintptr_t start =
        (reinterpret_cast<std::uintptr_t>(block) + sizeof block + kHugePage - 1) & ~(kHugePage - 1);
    char* data = reinterpret_cast<char*>(start);
    std::memcpy(data - sizeof block, &block, sizeof block);
    adviseLargeBuffer(data, whole);
    return data;
}

void releaseLargeBuffer(void* data, std::size_t size) noexcept {
    if (data == nullptr || size < kFreshMapping) {
        ::operator delete(data);
        return;
    }
    char* block = nullptr;
    std::memcpy(&block, static_cast<char*>(data) - sizeof block, sizeof block);
    ::operator delete(block);
}

} // namespace quill::platform
