#pragma once

#include "api_server/jsonrpc/Request.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

namespace ostrel::api_server {

// The line protocol's texts. Every line is compact JSON with sorted keys and no '\n';
// an id is passed as the JSON text the client wrote and goes into the line as it is
// (text that is not one compact JSON value goes in as null). Any thread; no shared state.

// Throws ApiError with kParseError or kInvalidRequest for a line that cannot be used, also
// for one whose numbers lie beyond a double's range; nothing else.
Request parseRequest(std::string_view line);

std::string makeResultReply(const std::string& id, const nlohmann::json& result);
std::string makeErrorReply(const std::string& id, int code, std::string_view message);
std::string makeNotification(std::string_view method, const nlohmann::json& params);

// The "id" member of a raw line as its text, less spaces; "null" when absent or unreadable.
std::string extractRequestId(std::string_view line);

// The -32003 reply to a request line longer than kMaxMessageBytes.
std::string tooLongReply();

}  // namespace ostrel::api_server
