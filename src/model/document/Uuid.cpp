#include "model/document/Uuid.h"

#include <random>

namespace ostrel::model {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

// Digit value of each byte, -1 where the byte is not a hexadecimal digit. Ids are read
// for every record of a project file, so this is a table rather than comparisons.
constexpr std::array<std::int8_t, 256> kHexValues = [] {
    std::array<std::int8_t, 256> values{};
    for (auto& value : values) value = -1;
    for (int c = '0'; c <= '9'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - '0');
    for (int c = 'a'; c <= 'f'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'a' + 10);
    for (int c = 'A'; c <= 'F'; ++c) values[static_cast<std::size_t>(c)] = static_cast<std::int8_t>(c - 'A' + 10);
    return values;
}();

int hexValue(char c) {
    return kHexValues[static_cast<unsigned char>(c)];
}

// Where each byte's two digits start in the 36-character form.
constexpr std::array<std::size_t, 16> kDigitPositions = {0, 2, 4, 6, 9, 11, 14, 16, 19, 21, 24, 26, 28, 30, 32, 34};

}  // namespace

Uuid Uuid::generate() {
    // Seeded once per thread from one random_device draw; never reseeded.
    thread_local std::mt19937_64 engine{std::random_device{}()};
    Uuid id;
    for (auto& byte : id.bytes_) byte = static_cast<std::uint8_t>(engine() >> 56);
    id.bytes_[6] = static_cast<std::uint8_t>((id.bytes_[6] & 0x0F) | 0x40);  // version 4
    id.bytes_[8] = static_cast<std::uint8_t>((id.bytes_[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return id;
}

bool Uuid::parse(std::string_view text, Uuid& out) {
    if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') return false;
    std::array<std::uint8_t, 16> bytes{};
    int invalid = 0;  // negative once any digit was not hexadecimal
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hexValue(text[kDigitPositions[i]]);
        const int low = hexValue(text[kDigitPositions[i] + 1]);
        invalid |= high | low;
        bytes[i] = static_cast<std::uint8_t>((high & 0x0F) << 4 | (low & 0x0F));
    }
    if (invalid < 0) return false;
    out.bytes_ = bytes;
    return true;
}

std::string Uuid::toString() const {
    std::string text;
    appendTo(text);
    return text;
}

void Uuid::appendTo(std::string& text) const {
    std::array<char, 36> characters;
    std::size_t at = 0;
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) characters[at++] = '-';
        characters[at++] = kDigits[bytes_[i] >> 4];
        characters[at++] = kDigits[bytes_[i] & 0x0F];
    }
    text.append(characters.data(), characters.size());
}

bool Uuid::isNil() const {
    return *this == Uuid{};
}

}  // namespace ostrel::model
