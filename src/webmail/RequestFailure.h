#pragma once
// A request's failure, carried as a value from the pool thread that made the
// request to the thread that waits for its answer, which then throws a fresh
// exception of the same kind with the same text. Each thread so owns the
// exception objects it throws: one handed across (std::exception_ptr) would
// be freed by whichever thread let go of it last, out of sight of the
// thread checker that guards this concurrency.
//
// Kinds kept: CBlockSocket::Canceled and CBlockSocket::Error (with the
// system's error number), a WebmailError (as a WebmailError with its text:
// the sessions answer every one alike), std::bad_alloc, and any other
// exception (as std::runtime_error with its text).

#include "net/CBlockSocket.h"

#include <string>

namespace quill {

class RequestFailure {
public:
    // No failure.
    RequestFailure() = default;
    // The exception being handled. Call inside a handler only.
    static RequestFailure current() noexcept;

    explicit operator bool() const { return kind_ != Kind::None; }
    // Throws the failure anew on this thread.
    [[noreturn]] void raise() const;

private:
    enum class Kind { None, Canceled, Socket, Webmail, Memory, Other };
    Kind kind_ = Kind::None;
    CBlockSocket::Canceled canceled_;
    CBlockSocket::Error socket_{"none"};
    std::string text_;
};

} // namespace quill
