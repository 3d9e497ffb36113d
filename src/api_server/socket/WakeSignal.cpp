#include "api_server/socket/WakeSignal.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace ostrel::api_server {

WakeSignal::WakeSignal() noexcept : handle_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (handle_ < 0) {
        handle_ = kInvalidSocket;
    }
}

WakeSignal::~WakeSignal() { closeSocket(handle_); }

void WakeSignal::raise() noexcept {
    if (handle_ != kInvalidSocket) {
        const std::uint64_t one = 1;
        // Non-blocking: a full counter already means "woken".
        [[maybe_unused]] const ssize_t written = ::write(handle_, &one, sizeof one);
    }
}

void WakeSignal::clear() noexcept {
    if (handle_ != kInvalidSocket) {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(handle_, &count, sizeof count);
    }
}

}  // namespace ostrel::api_server
