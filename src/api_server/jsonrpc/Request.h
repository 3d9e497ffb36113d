#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace ostrel::api_server {

// One request line as the pump uses it.
struct Request {
    // The "id" member's text as the client wrote it, less the spaces between its tokens,
    // so it comes back exactly; "null" when absent.
    std::string id = "null";
    std::string method;
    nlohmann::json params = nlohmann::json::object();  // always an object
    std::string token;  // the "token" member when it is a string, else empty
};

}  // namespace ostrel::api_server
