#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace ostrel::core {

// Text and bytes for code that runs in a signal handler (the crash reporter): its own digit
// writers, fixed buffers and write(2), no allocation and no lock. StringOut alone
// allocates; it gives ordinary code the same text. An "Out" has put(std::string_view).

// value in base 10 or 16 (upper-case digits), at least minDigits long with leading zeros.
template <typename Out>
void putUnsigned(Out& out, std::uint64_t value, int minDigits, unsigned base) {
    constexpr char digitChars[] = "0123456789ABCDEF";
    char text[24];
    int used = 0;
    do {
        text[sizeof text - 1 - used++] = digitChars[value % base];
        value /= base;
    } while (value != 0 || used < minDigits);
    out.put(std::string_view(text + sizeof text - used, static_cast<std::size_t>(used)));
}

template <typename Out>
void putHex(Out& out, std::uint64_t value, int minDigits) {
    putUnsigned(out, value, minDigits, 16);
}

template <typename Out>
void putDecimal(Out& out, std::uint64_t value, int minDigits) {
    putUnsigned(out, value, minDigits, 10);
}

// hh:mm:ss of a time of day: anything with hour, minute and second.
template <typename Out, typename Time>
void putClock(Out& out, const Time& t) {
    putDecimal(out, static_cast<std::uint64_t>(t.hour), 2);
    out.put(":");
    putDecimal(out, static_cast<std::uint64_t>(t.minute), 2);
    out.put(":");
    putDecimal(out, static_cast<std::uint64_t>(t.second), 2);
}

// Appends to a string. Allocates: not for signal handlers.
struct StringOut {
    std::string& text;
    void put(std::string_view s) { text += s; }
};

// Text for a fixed buffer, cut at its end.
template <std::size_t N>
struct FixedOut {
    char data[N];
    std::size_t used = 0;
    void put(std::string_view s) {
        const std::size_t n = std::min(s.size(), N - used);
        std::memcpy(data + used, s.data(), n);
        used += n;
    }
    std::string_view view() const { return {data, used}; }
};

// write(2) as a raw system call. It keeps AddressSanitizer's write(2) check away from the
// stack's poisoned red zones, which are part of what the crash dump holds.
ssize_t rawWrite(int fd, const void* bytes, std::size_t size);

// Buffered write(2) to one file; counts what it has taken so sizes can be patched later.
class FdOut {
public:
    // Starts on fd with an empty buffer and a count of 0.
    void start(int fd) {
        fd_ = fd;
        used_ = 0;
        total_ = 0;
        failed_ = false;
    }
    void put(std::string_view s) { putBytes(s.data(), s.size()); }
    void putBytes(const void* bytes, std::size_t size);
    template <typename T>
    void putValue(T value) {
        putBytes(&value, sizeof value);
    }
    void flush();
    // Bytes passed straight to the file, after a flush.
    void putDirect(std::uint64_t count) { total_ += count; }
    std::uint64_t total() const { return total_; }
    // A write since start went short (a full disk, a file size limit): the file is not whole.
    bool failed() const { return failed_; }
    void noteFailure() { failed_ = true; }

private:
    int fd_ = -1;
    std::size_t used_ = 0;
    std::uint64_t total_ = 0;
    bool failed_ = false;
    char buffer_[8192];
};

}  // namespace ostrel::core
