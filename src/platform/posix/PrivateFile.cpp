#include "platform/Files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quill::platform {

bool appendPrivateTextFile(const std::string& path, const std::string& text) {
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    // A file made by an older build (or under a looser umask) is narrowed
    // before anything more is written to it.
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0 &&
              ((status.st_mode & 077) == 0 || ::fchmod(fd, status.st_mode & 0700) == 0);
    std::size_t done = 0;
    while (ok && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    return ::close(fd) == 0 && ok;
}

} // namespace quill::platform
