#pragma once
// PBKDF2 with HMAC-SHA256 as its pseudo-random function (RFC 8018, RFC 2104):
// a slow salted key derivation, used to keep a password check that costs an
// attacker as many hash computations per guess as there are rounds.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quill {

// Fills out[0, length) with the key derived from password and salt in rounds
// iterations (rounds of 0 count as 1).
void pbkdf2HmacSha256(const std::string& password, const std::string& salt, std::uint32_t rounds,
                      std::uint8_t* out, std::size_t length);

} // namespace quill
