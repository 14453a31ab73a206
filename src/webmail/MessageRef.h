#pragma once
// A counted handle to one listed message. Copies share the record, which goes
// with its last handle; the POP3 mailbox and its list of messages marked for
// deletion hold handles to the same records. The count is thread-safe, the
// record never changes after it is made. A handle is one pointer and the
// record one block (see MessageInfo), so a listing of a million messages
// costs tens of megabytes, not hundreds.
//
// Errors: making a record may throw std::bad_alloc, or std::length_error for
// an id of 4 GiB or more.

#include "webmail/MessageInfo.h"

#include <cstdint>
#include <string_view>
#include <utility>

namespace quill {

class MessageRef {
public:
    MessageRef(std::string_view id, std::int32_t size);
    MessageRef(const MessageRef& other) noexcept : info_(other.info_) {
        info_->handles_.fetch_add(1, std::memory_order_relaxed);
    }
    MessageRef(MessageRef&& other) noexcept : info_(other.info_) { other.info_ = nullptr; }
    MessageRef& operator=(MessageRef other) noexcept {
        std::swap(info_, other.info_);
        return *this;
    }
    ~MessageRef() { release(); }

    const MessageInfo& operator*() const { return *info_; }
    const MessageInfo* operator->() const { return info_; }
    std::string_view id() const { return info_->id(); }
    std::int32_t size() const { return info_->size(); }

    // How many handles share this record.
    long useCount() const { return info_->handles_.load(); }
    // True when both handles share one record (not merely equal fields).
    bool sameRecord(const MessageRef& other) const { return info_ == other.info_; }

private:
    void release() noexcept;
    MessageInfo* info_; // null only in a handle moved from
};

} // namespace quill
