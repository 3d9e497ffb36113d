#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ostrel::model {

// The identity of a project, track, clip, note or device: 16 bytes, byte 0 first.
// The default value is the nil id (all zero). Ordering is byte by byte, unsigned.
class Uuid {
public:
    Uuid() = default;

    // A random version-4 id. Any thread; each thread has its own generator, no lock.
    static Uuid generate();

    // Accepts exactly 8-4-4-4-12 hexadecimal digits, either case. On false, out is untouched.
    static bool parse(std::string_view text, Uuid& out);

    // 36 characters, lower case.
    std::string toString() const;
    // The same characters, appended to text without a temporary string.
    void appendTo(std::string& text) const;

    bool isNil() const;

    // Two word compares rather than a call to memcmp: every lookup by id runs this per record.
    friend bool operator==(const Uuid& a, const Uuid& b) {
        std::uint64_t x[2];
        std::uint64_t y[2];
        std::memcpy(x, a.bytes_.data(), sizeof x);
        std::memcpy(y, b.bytes_.data(), sizeof y);
        return ((x[0] ^ y[0]) | (x[1] ^ y[1])) == 0;
    }
    friend std::strong_ordering operator<=>(const Uuid&, const Uuid&) = default;

private:
    std::array<std::uint8_t, 16> bytes_{};
};

}  // namespace ostrel::model
