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
    // Rounds of the key derivation: each guess at a stolen verifier costs
    // 2 x kRounds SHA-256 compressions (current guidance for PBKDF2-HMAC-
    // SHA256); one derivation takes a few hundred milliseconds in a release
    // build, paid once per sign-in. The count is part of the verifier text,
    // and a verifier of any other count never matches: a record written by a
    // build with another count is not adopted (its user signs in once more),
    // and a build of another count refuses the records of this one alike.
    static constexpr std::uint32_t kRounds = 600000;
    // The rounds in effect: kRounds, or, in a build made for the tests only
    // (kRoundsFromEnvironment), a lower positive count from the environment
    // variable QUILLMERE_VERIFIER_ROUNDS (read at each use). Test runs set it
    // so that every sign-in does not pay the full derivation; it weakens the
    // verifiers written meanwhile, which the default refuses. A shipped build
    // holds no trace of the variable: anyone who could set it for the host
    // could otherwise make every verifier written give the password away.
    static std::uint32_t rounds();
#ifdef QUILL_TEST_ROUNDS
    static constexpr bool kRoundsFromEnvironment = true;
#else
    static constexpr bool kRoundsFromEnvironment = false;
#endif
    static constexpr std::size_t kSaltBytes = 16;
    static constexpr std::size_t kKeyBytes = 32;

    // A verifier of password under a fresh random salt; empty when the system
    // gives no random bytes or the password is empty (such a session is never
    // adopted: the next conversation signs in). The pair is remembered as a
    // match (see matches), so the first reuse after a sign-in costs nothing.
    static std::string make(const std::string& password);
    // The same with a given salt (tests fix it).
    static std::string make(const std::string& password, const std::string& salt);

    // True when verifier is well formed with rounds() and was made from this
    // password. An empty password never matches. The keys are compared in
    // time independent of where they differ. A pair that matched (or was
    // made) in this process is remembered (a keyed tag in memory), so later
    // conversations that adopt the same saved session with the same password
    // skip the derivation; a wrong password always pays it in full.
    static bool matches(const std::string& verifier, const std::string& password);
};

} // namespace quill
