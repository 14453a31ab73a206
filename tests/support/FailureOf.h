#pragma once
// What a call ended with, as one text a test can compare: "Canceled" when a
// close from another thread ended it (CBlockSocket::Canceled), the failed
// operation's name for any other socket error ("connect", "receive", ...),
// and "no exception" when it returned. Other exceptions pass through.

#include "net/CBlockSocket.h"

#include <functional>
#include <string>

namespace quill {

inline std::string failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CBlockSocket::Canceled&) {
        return "Canceled";
    } catch (const CBlockSocket::Error& e) {
        return e.what();
    }
    return "no exception";
}

} // namespace quill
