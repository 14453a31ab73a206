#pragma once
// gzip (RFC 1952) compression of a whole answer body with zlib.

#include <cstddef>
#include <string>

namespace quill::site {

// Compresses data into `members` consecutive gzip members (at least one; the
// data is split into nearly equal pieces, so some members may be empty). With
// headerFields each member header carries an extra field, a file name, a
// comment and a header CRC, so that a reader's header skipping is exercised.
std::string gzipCompress(const std::string& data, int members = 1, bool headerFields = false);

// gzip data that inflates to `bytes` zero bytes: members of 1 MiB each (about
// 1 KB compressed, made once) and one for the rest, so even a body of
// gigabytes costs little time and memory to make.
std::string gzipOfZeros(std::size_t bytes);

} // namespace quill::site
