#pragma once
// application/x-www-form-urlencoded encoding of one field value: letters and
// digits unchanged, space as "+", every other byte as "%XX" (upper-case hex),
// a zero byte included ("%00"): a text is encoded whole, whatever it holds.

#include <cstddef>
#include <string>
#include <string_view>

namespace quill {

std::string formEncode(std::string_view text);

// Appends the encoding of text to out. A long text (a message body of tens of
// megabytes) is encoded in cache-sized slices straight onto out's end, so
// reserving formEncodedLength() first means no copy of the whole.
void appendFormEncoded(std::string& out, std::string_view text);

// The exact length of formEncode(text).
std::size_t formEncodedLength(std::string_view text);

} // namespace quill
