#include "model/Uuid.h"

#include <random>

namespace ostrel::model {

namespace {

constexpr char kDigits[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool isDashPosition(std::size_t position) {
    return position == 8 || position == 13 || position == 18 || position == 23;
}

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
    if (text.size() != 36) return false;
    std::array<std::uint8_t, 16> bytes{};
    std::size_t byte = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        if (isDashPosition(position)) {
            if (text[position] != '-') return false;
            ++position;
            continue;
        }
        const int high = hexValue(text[position]);
        const int low = hexValue(text[position + 1]);
        if (high < 0 || low < 0) return false;
        bytes[byte++] = static_cast<std::uint8_t>(high << 4 | low);
        position += 2;
    }
    out.bytes_ = bytes;
    return true;
}

std::string Uuid::toString() const {
    std::string text;
    text.reserve(36);
    for (std::size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text.push_back('-');
        text.push_back(kDigits[bytes_[i] >> 4]);
        text.push_back(kDigits[bytes_[i] & 0x0F]);
    }
    return text;
}

bool Uuid::isNil() const {
    return *this == Uuid{};
}

}  // namespace ostrel::model
