#pragma once
// A cursor that finds a begin marker and the next end marker after it and
// yields the text strictly between them, each search continuing just after the
// previous match. Every header and page reader uses it. Exact, case-sensitive
// byte comparisons.

#include <cstddef>
#include <string>

namespace quill {

class TextScanner {
public:
    // The text is referenced, not copied: it must outlive the scanner.
    explicit TextScanner(const std::string& text) : text_(text) {}

    // Searches begin from the end of the current match (so the previous end
    // marker can be part of the next begin marker), then end right after the
    // found begin. When both are found the match becomes the text between them
    // and the result is true; otherwise the scanner is unchanged.
    bool find(const std::string& begin, const std::string& end);

    // The current match (empty before the first successful find).
    std::string match() const { return text_.substr(position_, length_); }
    // The text from the end of the current match (its end marker) on.
    std::string rest() const { return text_.substr(position_ + length_); }

    std::size_t position() const { return position_; }
    std::size_t length() const { return length_; }

private:
    const std::string& text_;
    std::size_t position_ = 0;
    std::size_t length_ = 0;
};

} // namespace quill
