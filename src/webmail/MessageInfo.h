#pragma once
// One message of the web-mail inbox as the listing shows it: the record that
// MessageRef handles count. A listing can hold a million of them, so a record
// is one small block: the count, the size and the id's bytes after them.

#include <atomic>
#include <cstdint>
#include <string_view>

namespace quill {

class MessageInfo {
public:
    // The MsgId query value of the message's link, exactly as the page gives it
    // (not decoded); it goes back into the print view and delete URLs unchanged.
    // Valid as long as the record.
    std::string_view id() const { return std::string_view(chars(), length_); }
    // Size in bytes as the listing states it ("12k" is 12288); 0 when the size
    // text holds no number.
    std::int32_t size() const { return size_; }

    MessageInfo(const MessageInfo&) = delete;
    MessageInfo& operator=(const MessageInfo&) = delete;

private:
    friend class MessageRef;
    MessageInfo(std::int32_t size, std::uint32_t length) : size_(size), length_(length) {}
    const char* chars() const { return reinterpret_cast<const char*>(this + 1); }
    char* chars() { return reinterpret_cast<char*>(this + 1); }

    mutable std::atomic<std::int32_t> handles_{1};
    const std::int32_t size_;
    const std::uint32_t length_;
};

} // namespace quill
