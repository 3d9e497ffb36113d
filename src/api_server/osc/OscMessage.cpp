#include "api_server/osc/OscMessage.h"

#include <bit>
#include <cstring>

namespace ostrel::api_server {
namespace {

std::uint32_t readUint32BE(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
}

}  // namespace

std::int32_t readInt32BE(const char* bytes) {
    return std::bit_cast<std::int32_t>(readUint32BE(bytes));
}

bool readPaddedString(const char* data, std::size_t size, std::size_t& offset, std::string& out) {
    if (data == nullptr || offset >= size) {
        return false;
    }
    const void* nul = std::memchr(data + offset, '\0', size - offset);
    if (nul == nullptr) {
        return false;
    }
    const auto length = static_cast<std::size_t>(static_cast<const char*>(nul) - (data + offset));
    // At least one NUL, then up to the next multiple of 4; what the padding holds is not read.
    const std::size_t next = offset + (length + 4) / 4 * 4;
    if (next > size) {
        return false;
    }
    out.assign(data + offset, length);
    offset = next;
    return true;
}

std::optional<OscMessage> parseOscMessage(const char* data, std::size_t size) {
    if (data == nullptr || size < 4) {
        return std::nullopt;
    }
    OscMessage message;
    std::size_t offset = 0;
    // A bundle's first field is "#bundle", so it fails here like any other address without '/'.
    if (!readPaddedString(data, size, offset, message.address) || message.address.empty() ||
        message.address.front() != '/') {
        return std::nullopt;
    }
    std::string tags;
    if (!readPaddedString(data, size, offset, tags) || tags.empty() || tags.front() != ',') {
        return std::nullopt;
    }
    message.args.reserve(tags.size() - 1);
    for (std::size_t i = 1; i < tags.size(); ++i) {
        OscArg arg;
        switch (tags[i]) {
        case 'i':
            if (size - offset < 4) {
                return std::nullopt;
            }
            arg.type = OscType::Int32;
            arg.intValue = readInt32BE(data + offset);
            offset += 4;
            break;
        case 'f':
            if (size - offset < 4) {
                return std::nullopt;
            }
            arg.type = OscType::Float32;
            arg.floatValue = std::bit_cast<float>(readUint32BE(data + offset));
            offset += 4;
            break;
        case 's':
            arg.type = OscType::String;
            if (!readPaddedString(data, size, offset, arg.text)) {
                return std::nullopt;
            }
            break;
        case 'T':
        case 'F':
            arg.type = OscType::Bool;
            arg.boolValue = tags[i] == 'T';
            break;
        default:
            return std::nullopt;
        }
        message.args.push_back(std::move(arg));
    }
    return message;
}

}  // namespace ostrel::api_server
