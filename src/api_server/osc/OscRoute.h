#pragma once

#include "api_server/osc/OscMessage.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ostrel::api_server {

// One address of the OSC door and the Control API method it calls.
struct OscRoute {
    const char* address;  // matched exactly, letter case included
    const char* method;
    // One letter per expected argument: 'i' int32, 'f' float32, 's' string, 'b' bool
    // (sent as 'T' or 'F'); empty for none.
    const char* typeTags;
    nlohmann::json (*buildParams)(const std::vector<OscArg>& args);  // an object
};

// A message mapped onto its method.
struct OscRequest {
    std::string method;
    nlohmann::json params;  // an object
};

// The twenty routes, in table order; the addresses are distinct.
std::span<const OscRoute> oscRoutes() noexcept;

// The call a message makes, or nothing when no route takes it: an unknown address, or
// arguments that differ from the route's letters in number or type (never converted).
// A track may be named by its position ("2") or its id; both are passed on as they came.
// Any thread; no shared state.
std::optional<OscRequest> oscToRequest(const OscMessage& message);

}  // namespace ostrel::api_server
