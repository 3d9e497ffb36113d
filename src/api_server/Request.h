#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace ostrel::api_server {

// One request line as the pump uses it.
struct Request {
    std::string id = "null";  // the "id" member as compact JSON text; "null" when absent
    std::string method;
    nlohmann::json params = nlohmann::json::object();  // always an object
    std::string token;  // the "token" member when it is a string, else empty
};

}  // namespace ostrel::api_server
