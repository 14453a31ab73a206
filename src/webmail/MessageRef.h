#pragma once
// A counted handle to one listed message. Copies share the record, which goes
// with its last handle; the POP3 mailbox and its list of messages marked for
// deletion hold handles to the same records. The count is thread-safe, the
// record itself is used by one conversation's thread.

#include "webmail/MessageInfo.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace quill {

class MessageRef {
public:
    MessageRef(std::string id, std::int32_t size)
        : info_(std::make_shared<MessageInfo>(MessageInfo{std::move(id), size})) {}

    const MessageInfo& operator*() const { return *info_; }
    const MessageInfo* operator->() const { return info_.get(); }
    const std::string& id() const { return info_->id; }
    std::int32_t size() const { return info_->size; }

    // How many handles share this record.
    long useCount() const { return info_.use_count(); }
    // True when both handles share one record (not merely equal fields).
    bool sameRecord(const MessageRef& other) const { return info_ == other.info_; }

private:
    std::shared_ptr<const MessageInfo> info_;
};

} // namespace quill
