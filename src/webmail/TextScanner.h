#pragma once
// A cursor that finds a begin marker and the next end marker after it and
// yields the text strictly between them, each search continuing just after the
// previous match. Every header and page reader uses it. Exact, case-sensitive
// byte comparisons.
//
// Cost: a marker that was searched for and not found from some position is
// remembered as absent from there on, so a reader that keeps asking for it
// (a page full of links whose closing tag never comes) pays for that search
// once, and reading a page stays linear in its length.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

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
    // Searches marker from from; npos when absent, remembered as above.
    std::size_t search(const std::string& marker, std::size_t from);

    const std::string& text_;
    // Markers known absent from the paired position on; few distinct markers
    // per reader, so a list searched in order.
    std::vector<std::pair<std::string, std::size_t>> absent_;
    std::size_t position_ = 0;
    std::size_t length_ = 0;
};

} // namespace quill
