#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::api_server {

// The argument types the OSC door reads; the numbers are fixed.
enum class OscType : std::uint32_t { Int32 = 0, Float32 = 1, String = 2, Bool = 3 };

// One argument of an OSC message. Fields that do not belong to the type are 0, empty or false.
struct OscArg {
    OscType type = OscType::Int32;
    std::int32_t intValue = 0;
    float floatValue = 0.0f;
    std::string text;
    bool boolValue = false;  // true for 'T', false for 'F'
};

// A parsed OSC message: its address and its arguments in the order of the type tags.
struct OscMessage {
    std::string address;
    std::vector<OscArg> args;
};

// The OSC 1.0 subset the door reads: an address beginning with '/', a type tag string
// beginning with ',', then 'i', 'f', 's', 'T' and 'F' arguments; big-endian, every field
// padded to 4 bytes (padding bytes may hold anything), bytes after the last argument
// ignored. Nothing for anything else: a bundle, a missing type tag string, any other tag
// letter, a field that runs past the end. Any thread; no shared state.
std::optional<OscMessage> parseOscMessage(const char* data, std::size_t size);

// The 4 bytes as a big-endian two's-complement integer.
std::int32_t readInt32BE(const char* bytes);

// Reads the NUL-ended string at offset into out and moves offset past its padding (to the
// next multiple of 4 counted from the string's first byte). False when offset is at or
// beyond size, when no NUL lies within size, or when the padding runs past size.
[[nodiscard]] bool readPaddedString(const char* data, std::size_t size, std::size_t& offset, std::string& out);

}  // namespace ostrel::api_server
