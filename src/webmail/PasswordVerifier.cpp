#include "webmail/PasswordVerifier.h"

#include "codec/Pbkdf2.h"
#include "platform/Environment.h"
#include "platform/Random.h"

#include <array>
#include <cstring>
#include <mutex>

namespace quill {

namespace {

const char kScheme[] = "pbkdf2-sha256$";
#ifdef QUILL_TEST_ROUNDS
const char kRoundsVariable[] = "QUILLMERE_VERIFIER_ROUNDS";
#endif

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

// The pairs of verifier and password made or found to match in this process,
// as HMAC-SHA256 tags under a key drawn when the first is kept. A mail client
// that checks for mail every minute adopts its saved session in microseconds
// instead of repeating the key derivation each time, from the first reuse
// after its sign-in on. A wrong password still
// pays the full derivation, so guessing costs what it did; the tags are of no
// use outside this process, and nothing about them goes to the cookie file.
class MatchMemo {
public:
    static MatchMemo& instance() {
        static MatchMemo memo;
        return memo;
    }

    bool contains(const std::string& verifier, const std::string& password) {
        std::lock_guard<std::mutex> lock(mutex_);
        Tag tag;
        if (count_ == 0 || !tagOf(verifier, password, tag)) {
            return false;
        }
        bool found = false;
        for (std::size_t i = 0; i < count_; ++i) {
            found |= std::memcmp(tags_[i].data(), tag.data(), tag.size()) == 0;
        }
        return found;
    }

    void keep(const std::string& verifier, const std::string& password) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (key_.empty()) {
            std::uint8_t key[32];
            if (!platform::fillRandom(key, sizeof key)) {
                return; // no key: every check derives
            }
            key_.assign(reinterpret_cast<const char*>(key), sizeof key);
        }
        Tag tag;
        tagOf(verifier, password, tag);
        tags_[next_] = tag;
        next_ = (next_ + 1) % tags_.size();
        count_ = count_ < tags_.size() ? count_ + 1 : count_;
    }

private:
    using Tag = std::array<std::uint8_t, 32>;

    // One round of PBKDF2 is one HMAC of its salt under the password: here,
    // of the pair (the verifier holds no NUL byte) under the process's key.
    bool tagOf(const std::string& verifier, const std::string& password, Tag& tag) const {
        if (key_.empty()) {
            return false;
        }
        std::string message = verifier;
        message += '\0';
        message += password;
        pbkdf2HmacSha256(key_, message, 1, tag.data(), tag.size());
        return true;
    }

    std::mutex mutex_;
    std::string key_;
    std::array<Tag, 16> tags_{}; // the 16 most recent pairs
    std::size_t next_ = 0;
    std::size_t count_ = 0;
};

} // namespace

std::uint32_t PasswordVerifier::rounds() {
#ifndef QUILL_TEST_ROUNDS
    return kRounds;
#else
    const std::string text = platform::environmentValue(kRoundsVariable);
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9' || value > kRounds) {
            return kRounds;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value > 0 && value < kRounds ? static_cast<std::uint32_t>(value) : kRounds;
#endif
}

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
    const std::uint32_t count = rounds();
    std::uint8_t key[kKeyBytes];
    pbkdf2HmacSha256(password, salt, count, key, sizeof key);
    const std::string verifier =
        kScheme + std::to_string(count) + "$" +
        toHex(reinterpret_cast<const std::uint8_t*>(salt.data()), salt.size()) + "$" +
        toHex(key, sizeof key);
    MatchMemo::instance().keep(verifier, password);
    return verifier;
}

bool PasswordVerifier::matches(const std::string& verifier, const std::string& password) {
    if (password.empty()) {
        return false;
    }
    const std::uint32_t count = rounds();
    const std::string prefix = kScheme + std::to_string(count) + "$";
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
    if (MatchMemo::instance().contains(verifier, password)) {
        return true;
    }
    std::uint8_t key[kKeyBytes];
    pbkdf2HmacSha256(password, salt, count, key, sizeof key);
    if (!equalInConstantTime(std::string(reinterpret_cast<const char*>(key), sizeof key), stored)) {
        return false;
    }
    MatchMemo::instance().keep(verifier, password);
    return true;
}

} // namespace quill
