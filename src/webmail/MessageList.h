#pragma once
// The inbox in listing order: page by page, and within a page in the order of
// its rows. POP3 message numbers 1..n are positions in this list.

#include "webmail/MessageRef.h"

#include <vector>

namespace quill {

using MessageList = std::vector<MessageRef>;

} // namespace quill
