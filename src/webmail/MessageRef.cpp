#include "webmail/MessageRef.h"

#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace quill {

MessageRef::MessageRef(std::string_view id, std::int32_t size) {
    if constexpr (sizeof(std::size_t) > sizeof(std::uint32_t)) {
        if (id.size() > std::numeric_limits<std::uint32_t>::max()) {
            throw std::length_error("message id too long");
        }
    }
    void* block = ::operator new(sizeof(MessageInfo) + id.size());
    info_ = new (block) MessageInfo(size, static_cast<std::uint32_t>(id.size()));
    if (!id.empty()) {
        std::memcpy(info_->chars(), id.data(), id.size());
    }
}

void MessageRef::release() noexcept {
    if (info_ != nullptr && info_->handles_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        info_->~MessageInfo();
        ::operator delete(info_);
    }
}

} // namespace quill
