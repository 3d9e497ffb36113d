#include "core/files/FileDescriptorIo.h"

#include <cerrno>

namespace ostrel::core {

std::size_t writeAll(int fd, const void* bytes, std::size_t size, WriteCall call) noexcept {
    const char* from = static_cast<const char*>(bytes);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = call(fd, from + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    return done;
}

}  // namespace ostrel::core
