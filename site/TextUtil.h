#pragma once
// Small text helpers of the simulator: trimming, HTML escaping,
// percent-decoding and HTTP dates (ASCII case folding is codec/TextCase.h).
// Pure functions; byte strings.

#include "codec/TextCase.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::site {

std::string toLowerAscii(std::string text);
// Without leading and trailing blanks, tabs, CR and LF.
std::string trim(const std::string& text);
// &, <, > and " as entities, for text put into pages and attribute values.
std::string htmlEscape(const std::string& text);
// "+" as space and "%XX" as the byte; a "%" without two hex digits stays as it is.
std::string formDecode(std::string_view text);
// A copy of text whose storage, when it is large (a posted message), is given
// huge pages before it is filled: a plain copy of tens of megabytes would fault
// in its pages one by one.
std::string largeCopy(std::string_view text);
// "Tue, 08 Dec 2026 03:04:05 GMT" for seconds since 1970-01-01 UTC.
std::string httpDate(std::int64_t seconds);
// Every occurrence of from replaced by to.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);

} // namespace quill::site
