#include "platform/Random.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace quill::platform {

bool fillRandom(void* buffer, std::size_t length) noexcept {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ssize_t got = ::read(fd, out, length);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ::close(fd);
            return false;
        }
        out += got;
        length -= static_cast<std::size_t>(got);
    }
    ::close(fd);
    return true;
}

} // namespace quill::platform
