#pragma once
// The check that binds a saved web-mail session to the password that signed
// it in, so that a local process that knows only the user name cannot use the
// session. The verifier is text for the cookie file:
//   "pbkdf2-sha256$<rounds>$<salt: 32 hex digits>$<key: 64 hex digits>"
// from a random salt and PBKDF2-HMAC-SHA256; it never holds the password.

#include <cstdint>
#include <string>

namespace quill {

class PasswordVerifier {
public:
    // Rounds of the key derivation: each guess of a stolen verifier costs
    // 2 x kRounds SHA-256 compressions; a check takes 10 to 20 ms in a
    // release build. A pair that matched is remembered for the process's
    // life (a keyed tag in memory), so later conversations that adopt the
    // same saved session with the same password skip the derivation.
    static constexpr std::uint32_t kRounds = 20000;
    static constexpr std::size_t kSaltBytes = 16;
    static constexpr std::size_t kKeyBytes = 32;

    // A verifier of password under a fresh random salt; empty when the system
    // gives no random bytes or the password is empty (such a session is never
    // adopted: the next conversation signs in).
    static std::string make(const std::string& password);
    // The same with a given salt (tests fix it).
    static std::string make(const std::string& password, const std::string& salt);

    // True when verifier is well formed with kRounds and was made from this
    // password. An empty password never matches. The keys are compared in
    // time independent of where they differ.
    static bool matches(const std::string& verifier, const std::string& password);
};

} // namespace quill
