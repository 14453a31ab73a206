#pragma once
// A message accepted by the compose form, with its decoded form fields.

#include <string>
#include <utility>
#include <vector>

namespace quill::site {

struct SentMessage {
    std::string user; // the signed-in sender
    std::string to, cc, bcc, subject, body, format;
    bool saveCopy = false; // the form's SaveCopy was "yes"
    std::string sentId;    // id of the copy in Sent; empty without a copy
    // Every field of the form, decoded, in the order posted.
    std::vector<std::pair<std::string, std::string>> fields;
};

} // namespace quill::site
