#include "site/GzipWriter.h"

#include <zlib.h>

#include <stdexcept>

namespace quill::site {

namespace {

void putLe32(std::string& out, unsigned long v) {
    for (int i = 0; i < 4; ++i) {
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
    }
}

std::string rawDeflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out;
    out.resize(deflateBound(&z, static_cast<uLong>(data.size())) + 16);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, Z_FINISH);
    std::size_t produced = out.size() - z.avail_out;
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    out.resize(produced);
    return out;
}

std::string member(const std::string& data, bool headerFields) {
    std::string out;
    out += '\x1f';
    out += '\x8b';
    out += '\x08';                                        // deflate
    out += static_cast<char>(headerFields ? 0x1E : 0x00); // FHCRC|FEXTRA|FNAME|FCOMMENT
    out.append("\0\0\0\0", 4);                            // no time stamp
    out += '\x00';                                        // extra flags
    out += '\x03';                                        // Unix
    if (headerFields) {
        const std::string extra("VS\x04\x00page", 8); // one subfield: id, length, data
        out += static_cast<char>(extra.size() & 0xFF);
        out += static_cast<char>(extra.size() >> 8);
        out += extra;
        out += std::string("page.html") + '\0';
        out += std::string("served by the Vurel simulator") + '\0';
        unsigned long crc =
            crc32(0L, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()));
        out += static_cast<char>(crc & 0xFF);
        out += static_cast<char>((crc >> 8) & 0xFF);
    }
    out += rawDeflate(data);
    putLe32(out,
            crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    putLe32(out, static_cast<unsigned long>(data.size() & 0xFFFFFFFFu));
    return out;
}

} // namespace

std::string gzipCompress(const std::string& data, int members, bool headerFields) {
    if (members < 1) {
        members = 1;
    }
    std::string out;
    std::size_t piece = data.size() / static_cast<std::size_t>(members);
    std::size_t pos = 0;
    for (int i = 0; i < members; ++i) {
        std::size_t len = (i == members - 1) ? data.size() - pos : piece;
        out += member(data.substr(pos, len), headerFields);
        pos += len;
    }
    return out;
}

std::string gzipOfZeros(std::size_t bytes) {
    constexpr std::size_t kMember = 1u << 20;
    static const std::string whole = member(std::string(kMember, '\0'), false);
    std::string out;
    out.reserve((bytes / kMember + 1) * whole.size());
    for (; bytes >= kMember; bytes -= kMember) {
        out += whole;
    }
    if (bytes > 0) {
        out += member(std::string(bytes, '\0'), false);
    }
    return out;
}

} // namespace quill::site
