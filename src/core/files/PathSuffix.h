#pragma once

#include <filesystem>
#include <string_view>

namespace ostrel::core {

// A derived file name: the full path with suffix appended, so "settings.json" and ".bad"
// give "settings.json.bad" (".tmp" for the atomic writer, ".1" to ".3" for old logs).
inline std::filesystem::path withSuffix(std::filesystem::path path, std::string_view suffix) {
    path += suffix;
    return path;
}

}  // namespace ostrel::core
