#include "webmail/PasswordVerifier.h"

#include "codec/Pbkdf2.h"
#include "platform/Random.h"

namespace quill {

namespace {

const char kScheme[] = "pbkdf2-sha256$";

std::string toHex(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

// Lower-case hex digits only; false on anything else.
bool fromHex(const std::string& hex, std::string& bytes) {
    if (hex.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        int value = 0;
        for (std::size_t j = i; j < i + 2; ++j) {
            const char c = hex[j];
            int digit = 0;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else {
                return false;
            }
            value = value * 16 + digit;
        }
        bytes += static_cast<char>(value);
    }
    return true;
}

// Equal lengths are compared over every byte, whatever differs first.
bool equalInConstantTime(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

} // namespace

std::string PasswordVerifier::make(const std::string& password) {
    std::uint8_t salt[kSaltBytes];
    if (password.empty() || !platform::fillRandom(salt, sizeof salt)) {
        return std::string();
    }
    return make(password, std::string(reinterpret_cast<const char*>(salt), sizeof salt));
}

std::string PasswordVerifier::make(const std::string& password, const std::string& salt) {
    if (password.empty()) {
        return std::string();
    }
    std::uint8_t key[kKeyBytes];
    pbkdf2HmacSha256(password, salt, kRounds, key, sizeof key);
    return kScheme + std::to_string(kRounds) + "$" +
           toHex(reinterpret_cast<const std::uint8_t*>(salt.data()), salt.size()) + "$" +
           toHex(key, sizeof key);
}

bool PasswordVerifier::matches(const std::string& verifier, const std::string& password) {
    if (password.empty()) {
        return false;
    }
    const std::string prefix = kScheme + std::to_string(kRounds) + "$";
    if (verifier.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    const std::size_t saltEnd = verifier.find('$', prefix.size());
    if (saltEnd == std::string::npos) {
        return false;
    }
    std::string salt;
    std::string stored;
    if (!fromHex(verifier.substr(prefix.size(), saltEnd - prefix.size()), salt) ||
        salt.size() != kSaltBytes || !fromHex(verifier.substr(saltEnd + 1), stored) ||
        stored.size() != kKeyBytes) {
        return false;
    }
    std::uint8_t key[kKeyBytes];
    pbkdf2HmacSha256(password, salt, kRounds, key, sizeof key);
    return equalInConstantTime(std::string(reinterpret_cast<const char*>(key), sizeof key), stored);
}

} // namespace quill
