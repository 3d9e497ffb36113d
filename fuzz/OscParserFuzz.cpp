// fuzz-links: ostrel_api_server
// Arbitrary bytes as a datagram at the OSC door: the parser reads within the bytes or
// refuses them; what it reads, written back in the canonical form, parses to the same
// message; a mapped call becomes JSON text that reads back, or is refused as not UTF-8.
#include "api_server/osc/OscMessage.h"
#include "api_server/osc/OscRoute.h"

#include <nlohmann/json.hpp>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace ostrel::api_server;
using nlohmann::json;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

void putString(std::string& out, const std::string& text) {
    out += text;
    out += '\0';
    while (out.size() % 4 != 0) {
        out += '\0';
    }
}

void putWord(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((value >> shift) & 0xFF);
    }
}

std::string encode(const OscMessage& message) {
    std::string tags = ",";
    std::string args;
    for (const OscArg& arg : message.args) {
        switch (arg.type) {
        case OscType::Int32:
            tags += 'i';
            putWord(args, std::bit_cast<std::uint32_t>(arg.intValue));
            break;
        case OscType::Float32:
            tags += 'f';
            putWord(args, std::bit_cast<std::uint32_t>(arg.floatValue));
            break;
        case OscType::String:
            tags += 's';
            putString(args, arg.text);
            break;
        case OscType::Bool:
            tags += arg.boolValue ? 'T' : 'F';
            break;
        }
    }
    std::string out;
    putString(out, message.address);
    putString(out, tags);
    return out + args;
}

bool same(const OscArg& a, const OscArg& b) {
    return a.type == b.type && a.intValue == b.intValue &&
           std::bit_cast<std::uint32_t>(a.floatValue) == std::bit_cast<std::uint32_t>(b.floatValue) &&
           a.text == b.text && a.boolValue == b.boolValue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);

    // A padded string from any offset stays within the bytes.
    if (size > 0) {
        std::size_t offset = data[0] % size;
        std::string text;
        const std::size_t start = offset;
        if (readPaddedString(bytes, size, offset, text)) {
            check(offset <= size && offset > start && (offset - start) % 4 == 0);
            check(text.size() < offset - start && text.find('\0') == std::string::npos);
        } else {
            check(offset == start);
        }
    }

    const auto message = parseOscMessage(bytes, size);
    if (!message) {
        return 0;
    }
    check(!message->address.empty() && message->address.front() == '/');
    check(message->address.find('\0') == std::string::npos);
    for (const OscArg& arg : message->args) {
        check(arg.type == OscType::Int32 || arg.intValue == 0);
        check(arg.type == OscType::Float32 || arg.floatValue == 0.0f);
        check(arg.type == OscType::String || arg.text.empty());
        check(arg.type == OscType::Bool || !arg.boolValue);
    }

    // The canonical form is what was read, padding aside: no longer than the bytes.
    const std::string canonical = encode(*message);
    check(canonical.size() <= size);
    const auto again = parseOscMessage(canonical.data(), canonical.size());
    check(again.has_value() && again->address == message->address && again->args.size() == message->args.size());
    for (std::size_t i = 0; i < message->args.size(); ++i) {
        check(same(again->args[i], message->args[i]));
    }

    const auto request = oscToRequest(*message);
    if (!request) {
        return 0;
    }
    check(request->params.is_object() && request->params.size() == message->args.size());
    std::string text;
    try {
        text = json{{"method", request->method}, {"params", request->params}}.dump();
    } catch (const json::type_error&) {
        return 0;  // a string that is not UTF-8: the door drops the datagram
    }
    const json call = json::parse(text, nullptr, false);
    check(call.is_object() && call.at("method") == request->method && call.at("params").is_object());
    return 0;
}
