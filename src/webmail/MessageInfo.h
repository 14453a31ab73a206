#pragma once
// One message of the web-mail inbox as the listing shows it.

#include <cstdint>
#include <string>

namespace quill {

struct MessageInfo {
    // The MsgId query value of the message's link, exactly as the page gives it
    // (not decoded); it goes back into the print view and delete URLs unchanged.
    std::string id;
    // Size in bytes as the listing states it ("12k" is 12288); 0 when the size
    // text holds no number.
    std::int32_t size = 0;
};

} // namespace quill
