#include "api_server/osc/OscRoute.h"

#include <array>
#include <cstring>
#include <initializer_list>

namespace ostrel::api_server {
namespace {

using nlohmann::json;

json toJson(const OscArg& arg) {
    switch (arg.type) {
    case OscType::Int32:
        return arg.intValue;
    case OscType::Float32:
        // The float's exact value: 0.7f arrives as 0.699999988079071.
        return static_cast<double>(arg.floatValue);
    case OscType::String:
        return arg.text;
    case OscType::Bool:
        return arg.boolValue;
    }
    return nullptr;
}

// The arguments under the given names, in order; oscToRequest has checked their number.
json named(const std::vector<OscArg>& args, std::initializer_list<const char*> names) {
    json params = json::object();
    std::size_t i = 0;
    for (const char* name : names) {
        params[name] = toJson(args.at(i++));
    }
    return params;
}

json none(const std::vector<OscArg>&) { return json::object(); }

constexpr std::array<OscRoute, 20> kRoutes{{
    {"/ostrel/transport/play", "transport.play", "", none},
    {"/ostrel/transport/stop", "transport.stop", "", none},
    {"/ostrel/transport/setTempo", "transport.setTempo", "f", [](const auto& a) { return named(a, {"bpm"}); }},
    {"/ostrel/project/setName", "project.setName", "s", [](const auto& a) { return named(a, {"name"}); }},
    {"/ostrel/project/setTempo", "project.setTempo", "f", [](const auto& a) { return named(a, {"bpm"}); }},
    {"/ostrel/history/undo", "history.undo", "", none},
    {"/ostrel/history/redo", "history.redo", "", none},
    {"/ostrel/tracks/add", "tracks.add", "", none},
    {"/ostrel/tracks/remove", "tracks.remove", "s", [](const auto& a) { return named(a, {"id"}); }},
    {"/ostrel/tracks/rename", "tracks.rename", "ss", [](const auto& a) { return named(a, {"id", "name"}); }},
    {"/ostrel/tracks/setInstrument", "tracks.setInstrument", "ss",
     [](const auto& a) { return named(a, {"id", "patch"}); }},
    {"/ostrel/tracks/setMuted", "tracks.setMuted", "sb", [](const auto& a) { return named(a, {"id", "muted"}); }},
    {"/ostrel/tracks/setSolo", "tracks.setSolo", "sb", [](const auto& a) { return named(a, {"id", "solo"}); }},
    {"/ostrel/tracks/setVolume", "tracks.setVolume", "sf", [](const auto& a) { return named(a, {"id", "volume"}); }},
    {"/ostrel/clips/quantize", "clips.quantize", "ss", [](const auto& a) { return named(a, {"trackId", "clipId"}); }},
    {"/ostrel/devices/add", "devices.add", "sss",
     [](const auto& a) { return named(a, {"trackId", "deviceId", "preset"}); }},
    {"/ostrel/devices/remove", "devices.remove", "ss",
     [](const auto& a) { return named(a, {"trackId", "deviceId"}); }},
    {"/ostrel/devices/setEnabled", "devices.setEnabled", "ssb",
     [](const auto& a) { return named(a, {"trackId", "deviceId", "enabled"}); }},
    {"/ostrel/devices/move", "devices.move", "ssi",
     [](const auto& a) { return named(a, {"trackId", "deviceId", "newIndex"}); }},
    {"/ostrel/devices/setParameter", "devices.setParameter", "sssf",
     [](const auto& a) { return named(a, {"trackId", "deviceId", "key", "value"}); }},
}};

bool matches(char letter, OscType type) {
    switch (letter) {
    case 'i':
        return type == OscType::Int32;
    case 'f':
        return type == OscType::Float32;
    case 's':
        return type == OscType::String;
    case 'b':
        return type == OscType::Bool;
    default:
        return false;
    }
}

}  // namespace

std::span<const OscRoute> oscRoutes() noexcept { return kRoutes; }

std::optional<OscRequest> oscToRequest(const OscMessage& message) {
    for (const OscRoute& route : kRoutes) {
        if (message.address != route.address) {
            continue;
        }
        const std::size_t expected = std::strlen(route.typeTags);
        if (message.args.size() != expected) {
            return std::nullopt;
        }
        for (std::size_t i = 0; i < expected; ++i) {
            if (!matches(route.typeTags[i], message.args[i].type)) {
                return std::nullopt;
            }
        }
        return OscRequest{route.method, route.buildParams(message.args)};
    }
    return std::nullopt;
}

}  // namespace ostrel::api_server
