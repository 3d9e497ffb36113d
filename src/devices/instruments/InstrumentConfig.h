#pragma once

#include "devices/patches/Patch.h"

#include <nlohmann/json_fwd.hpp>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::engine { inline namespace devices {

// A track's instrument ("Sampler", "Drum Rack" or a built-in name) and its JSON configuration
// made into a patch, loading the sound files it names from samplesFolder. False, with out
// unchanged, only for an unknown name; sound files that cannot be used are "; skipped"
// warnings, in the order they were tried. Any JSON is accepted: what does not fit is default.
// GUI or render thread; both may call at once.
[[nodiscard]] bool makeInstrumentPatch(const std::string& instrument, const nlohmann::json& config,
                         const std::filesystem::path& samplesFolder, Patch& out, std::vector<std::string>* warnings,
                         std::string* error);

// What a track starts with for the instrument: Sampler and Drum Rack defaults, else an empty object.
nlohmann::json defaultInstrumentConfig(const std::string& instrument);

bool isKnownInstrumentType(const std::string& name);
bool isSampleInstrument(const std::string& name);

// The key's value when object is an object holding a number there; otherwise fallback.
double jsonNumberOr(const nlohmann::json& object, const char* key, double fallback);

} }  // namespace ostrel::engine::devices
