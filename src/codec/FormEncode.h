#pragma once
// application/x-www-form-urlencoded encoding of one field value: letters and
// digits unchanged, space as "+", every other byte as "%XX" (upper-case hex).

#include <string>

namespace quill {

// Encodes text up to its first zero byte. The output is never cut.
std::string formEncode(const std::string& text);

} // namespace quill
