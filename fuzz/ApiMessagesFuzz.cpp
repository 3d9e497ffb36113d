// fuzz-links: ostrel_api_server
// Arbitrary bytes as a request line: the parser either answers a request or refuses it
// with a protocol error (nothing else is thrown), and every text made from what it read (or
// from raw bytes) is one line of valid JSON that reads back to the same values, the id
// written exactly as the line wrote it, less its spaces.
#include "api_server/jsonrpc/ApiError.h"
#include "api_server/jsonrpc/ApiMessages.h"
#include "core/files/JsonText.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using nlohmann::json;
using namespace ostrel::api_server;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// One line of JSON: no raw newline, parses, and is an object.
json readLine(const std::string& text) {
    check(text.find('\n') == std::string::npos);
    json value = json::parse(text, nullptr, false);
    check(value.is_object());
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);

    const std::string id = extractRequestId(line);
    check(json::accept(id));

    // A NUL anywhere, or nesting past the bound, is refused as a parse error before
    // parsing, and no id is read from it.
    const bool refusedUnread =
        line.find('\0') != std::string_view::npos || !ostrel::core::nestingWithin(line, kMaxNesting);
    if (refusedUnread) {
        check(id == "null");
    }

    bool parsed = false;
    Request request;
    try {
        request = parseRequest(line);
        parsed = true;
    } catch (const ApiError& error) {
        check(error.code == kParseError || error.code == kInvalidRequest);
        check(!refusedUnread || error.code == kParseError);
    }

    check(!(parsed && refusedUnread));
    if (parsed) {
        check(request.params.is_object());
        check(request.id == id);
        const std::string replyText = makeResultReply(request.id, request.params);
        const json reply = readLine(replyText);
        check(replyText.rfind("{\"id\":" + request.id + ",", 0) == 0);
        const json sent = json::parse(line.begin(), line.end());
        check(reply.at("id") == sent.value("id", json()));
        check(reply.at("result") == request.params);
        check(reply.at("jsonrpc") == "2.0");

        const json notification = readLine(makeNotification(request.method, request.params));
        check(notification.at("method") == request.method);
    }

    // Raw bytes as a message (an exception's text may be anything): still one JSON line.
    const std::string errorText = makeErrorReply(id, kInternalError, line);
    const json error = readLine(errorText);
    check(error.at("error").at("code") == kInternalError);
    check(error.at("error").at("message").is_string());
    check(errorText.find(",\"id\":" + id + ",\"jsonrpc\":") != std::string::npos);
    return 0;
}
