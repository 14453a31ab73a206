#include "webmail/RequestFailure.h"

#include "webmail/WebmailError.h"

#include <new>
#include <stdexcept>

namespace quill {

RequestFailure RequestFailure::current() noexcept {
    RequestFailure failure;
    try {
        try {
            throw;
        } catch (const CBlockSocket::Canceled& e) {
            failure.kind_ = Kind::Canceled;
            failure.canceled_ = e;
        } catch (const CBlockSocket::Error& e) {
            failure.kind_ = Kind::Socket;
            failure.socket_ = e;
        } catch (const WebmailError& e) {
            failure.kind_ = Kind::Webmail;
            failure.text_ = e.what();
        } catch (const std::bad_alloc&) {
            failure.kind_ = Kind::Memory;
        } catch (const std::exception& e) {
            failure.kind_ = Kind::Other;
            failure.text_ = e.what();
        } catch (...) {
            failure.kind_ = Kind::Other;
            failure.text_ = "an exception of unknown type";
        }
    } catch (...) {
        // Out of memory while copying a text: still a failure.
        failure.kind_ = Kind::Memory;
        failure.text_.clear();
    }
    return failure;
}

void RequestFailure::raise() const {
    switch (kind_) {
    case Kind::Canceled:
        throw canceled_;
    case Kind::Socket:
        throw socket_;
    case Kind::Webmail:
        throw WebmailError(text_);
    case Kind::Memory:
        throw std::bad_alloc();
    case Kind::Other:
    case Kind::None:
        break;
    }
    throw std::runtime_error(text_);
}

} // namespace quill
