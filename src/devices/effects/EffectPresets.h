#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ostrel::engine { inline namespace devices {

// A named setting of one effect's knobs, as the browser lists it.
struct Preset {
    std::string deviceId;  // the effect's type id
    std::int32_t version = 1;
    std::string name;
    std::string author;
    std::vector<std::string> tags;  // lower-case browser words, the effect's own first
    // Knob id to value; only the knobs the preset sets, the others keep their defaults.
    std::map<std::string, double> parameters;
};

// A preset with version 1 and author "Ostrel"; tags and parameters are moved in.
Preset makePreset(const char* deviceId, const char* name, std::vector<std::string> tags,
                  std::map<std::string, double> parameters);

// The 19 factory presets, built anew on each call.
std::vector<Preset> buildFactoryPresets();

// The factory presets, built once on first use (any thread) and read-only afterwards.
const std::vector<Preset>& factoryPresets();

// The five effect type ids in browser order (not the catalogue's order).
const std::vector<std::string>& effectTypeIds();

} }  // namespace ostrel::engine::devices
