#pragma once
// The body of a request, as pieces sent one after the other: bytes as they
// are, or a field value form-encoded on the way. A compose form that carries
// a message of tens of megabytes is so never built whole: it goes out in
// slices through one buffer that stays in the CPU cache, and its length is
// known before the first byte (for Content-Length).
//
// The pieces are views: what they show must outlive the body.

#include <cstddef>
#include <functional>
#include <string_view>
#include <vector>

namespace quill {

class RequestBody {
public:
    // Bytes gathered before they are handed to the sink: every slice but the
    // last has at least this many.
    static constexpr std::size_t kSlice = 256 * 1024;

    RequestBody() = default;
    explicit RequestBody(std::string_view bytes) { append(bytes); }

    // Adds bytes sent as they are.
    RequestBody& append(std::string_view bytes);
    // Adds text sent form-encoded, whole (see codec/FormEncode.h: a zero
    // byte goes out as "%00").
    RequestBody& appendFormEncoded(std::string_view text);

    // The bytes that produce() hands over, in all.
    std::size_t length() const { return length_; }
    // Hands the body's bytes to sink in order, in slices; a body of less than
    // kSlice bytes in one call, none for an empty body.
    void produce(const std::function<void(const char*, std::size_t)>& sink) const;

private:
    struct Piece {
        std::string_view text;
        bool encode;
    };
    std::vector<Piece> pieces_;
    std::size_t length_ = 0;
};

} // namespace quill
