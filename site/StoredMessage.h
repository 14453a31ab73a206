#pragma once
// One message in a folder: its identifier and its raw RFC 5322 bytes.

#include <string>
#include <string_view>

namespace quill::site {

struct StoredMessage {
    std::string id;  // the MsgId the pages link to; letters, digits, "_" and "-"
    std::string raw; // CR LF line ends; always holds the empty line that ends the header
    bool unread = true;

    // The header up to and including its empty line, and what follows it.
    std::string header() const;
    std::string text() const;
    // The same without a copy; valid while raw is unchanged.
    std::string_view headerView() const;
    std::string_view textView() const;
};

} // namespace quill::site
