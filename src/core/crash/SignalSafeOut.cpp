#include "core/crash/SignalSafeOut.h"

#include "core/files/FileDescriptorIo.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace ostrel::core {

ssize_t rawWrite(int fd, const void* bytes, std::size_t size) { return ::syscall(SYS_write, fd, bytes, size); }

void FdOut::putBytes(const void* bytes, std::size_t size) {
    const char* from = static_cast<const char*>(bytes);
    total_ += size;
    while (size > 0) {
        if (used_ == sizeof buffer_) {
            flush();
        }
        const std::size_t n = std::min(size, sizeof buffer_ - used_);
        std::memcpy(buffer_ + used_, from, n);
        used_ += n;
        from += n;
        size -= n;
    }
}

void FdOut::flush() {
    if (writeAll(fd_, buffer_, used_) != used_) {
        failed_ = true;
    }
    used_ = 0;
}

}  // namespace ostrel::core
