#pragma once

#include <cstddef>
#include <sys/types.h>
#include <unistd.h>

namespace ostrel::core {

using WriteCall = ssize_t (*)(int fd, const void* bytes, std::size_t size);

// Hands bytes to call (write(2) unless told otherwise) until all are out, retrying after
// a signal; returns how many went out, fewer after an error. Async-signal-safe as long
// as call is, so the crash handler writes with it too.
std::size_t writeAll(int fd, const void* bytes, std::size_t size, WriteCall call = ::write) noexcept;

}  // namespace ostrel::core
