#include "api_server/jsonrpc/ApiMessages.h"

#include "api_server/jsonrpc/ApiError.h"
#include "api_server/jsonrpc/RequestId.h"
#include "api_server/rings/MessageRing.h"
#include "core/files/JsonText.h"

#include <utility>

namespace ostrel::api_server {
namespace {

using nlohmann::json;

// Compact, sorted, UTF-8 unescaped. Text that is not valid UTF-8 (an exception's message,
// say) is written with replacement characters instead of making the writer throw.
std::string writeCompact(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

// An id goes into a reply as the text it came in, so a number the library would round
// (a 30-digit id, 1.50) comes back exactly as the client wrote it. The text is the
// server's own; anything that is not one compact JSON value is written as null.
std::string_view idText(const std::string& id) {
    const bool usable = !id.empty() && withoutSpaces(id) == id && json::accept(id);
    return usable ? std::string_view(id) : std::string_view("null");
}

// The library's parse, its every failure a parse error: its own texts never reach a client.
json parseLine(std::string_view line) {
    try {
        return json::parse(line.begin(), line.end());
    } catch (const json::out_of_range&) {
        throw ApiError(kParseError, std::string(kNumberTooLargeMessage));
    } catch (const json::exception&) {
        throw ApiError(kParseError, std::string(kNotJsonMessage));
    }
}

}  // namespace

Request parseRequest(std::string_view line) {
    // Both before the parser sees a byte: a NUL would end its text early and leave the
    // rest unread, and deep nesting would recurse when the request is written back.
    if (line.find('\0') != std::string_view::npos) {
        throw ApiError(kParseError, std::string(kNulByteMessage));
    }
    if (!core::nestingWithin(line, kMaxNesting)) {
        throw ApiError(kParseError, std::string(kTooDeepMessage));
    }
    json value = parseLine(line);
    if (!value.is_object()) {
        throw ApiError(kInvalidRequest, std::string(kNoMethodMessage));
    }
    const auto method = value.find("method");
    if (method == value.end() || !method->is_string()) {
        throw ApiError(kInvalidRequest, std::string(kNoMethodMessage));
    }
    Request request;
    request.method = method->get<std::string>();
    if (const auto id = value.find("id"); id != value.end()) {
        request.id = rawRequestId(line).value_or(writeCompact(*id));
    }
    if (const auto params = value.find("params"); params != value.end()) {
        if (!params->is_object()) {
            throw ApiError(kInvalidRequest, std::string(kParamsNotObjectMessage));
        }
        request.params = std::move(*params);
    }
    if (const auto token = value.find("token"); token != value.end() && token->is_string()) {
        request.token = token->get<std::string>();
    }
    return request;
}

// Members in the order the library would sort them: "error" or "id", "jsonrpc", "result".
std::string makeResultReply(const std::string& id, const json& result) {
    return "{\"id\":" + std::string(idText(id)) + ",\"jsonrpc\":\"2.0\",\"result\":" + writeCompact(result) + "}";
}

std::string makeErrorReply(const std::string& id, int code, std::string_view message) {
    const json error{{"code", code}, {"message", message}};
    return "{\"error\":" + writeCompact(error) + ",\"id\":" + std::string(idText(id)) + ",\"jsonrpc\":\"2.0\"}";
}

std::string makeNotification(std::string_view method, const json& params) {
    return writeCompact(json{{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
}

std::string extractRequestId(std::string_view line) {
    if (line.find('\0') != std::string_view::npos || !core::nestingWithin(line, kMaxNesting)) {
        return "null";
    }
    try {
        const json value = json::parse(line.begin(), line.end(), nullptr, false);
        if (!value.is_object()) {
            return "null";
        }
        const auto id = value.find("id");
        return id == value.end() ? "null" : rawRequestId(line).value_or(writeCompact(*id));
    } catch (...) {
        return "null";
    }
}

std::string tooLongReply() {
    return makeErrorReply("null", kTooLong,
                          "the request is longer than " + std::to_string(kMaxMessageBytes) + " bytes");
}

}  // namespace ostrel::api_server
