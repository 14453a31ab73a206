#include "webmail/RequestBody.h"

#include "codec/FormEncode.h"

#include <string>

namespace quill {

namespace {

// Text encoded at a time: at most three times as much comes out.
constexpr std::size_t kEncodeStep = 32 * 1024;

} // namespace

RequestBody& RequestBody::append(std::string_view bytes) {
    if (!bytes.empty()) {
        pieces_.push_back({bytes, false});
        length_ += bytes.size();
    }
    return *this;
}

RequestBody& RequestBody::appendFormEncoded(std::string_view text) {
    if (!text.empty()) {
        pieces_.push_back({text, true});
        length_ += formEncodedLength(text);
    }
    return *this;
}

void RequestBody::produce(const std::function<void(const char*, std::size_t)>& sink) const {
    std::string slice;
    slice.reserve(kSlice + 3 * kEncodeStep);
    for (const Piece& piece : pieces_) {
        std::size_t at = 0;
        while (at < piece.text.size()) {
            if (piece.encode) {
                const std::string_view part = piece.text.substr(at, kEncodeStep);
                quill::appendFormEncoded(slice, part);
                at += part.size();
            } else {
                const std::string_view part = piece.text.substr(at, kSlice - slice.size());
                slice.append(part.data(), part.size());
                at += part.size();
            }
            if (slice.size() >= kSlice) {
                sink(slice.data(), slice.size());
                slice.clear();
            }
        }
    }
    if (!slice.empty()) {
        sink(slice.data(), slice.size());
    }
}

} // namespace quill
