// The simulator without TLS (the Windows build).
#include "site/TlsService.h"

#include <stdexcept>

namespace quill::site {

std::shared_ptr<TlsService> TlsService::create(const Options&) {
    throw std::runtime_error("TLS is not built into this simulator");
}

bool TlsService::available() {
    return false;
}

} // namespace quill::site
