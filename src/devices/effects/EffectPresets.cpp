#include "devices/effects/EffectPresets.h"

#include <utility>

namespace ostrel::engine { inline namespace devices {

Preset makePreset(const char* deviceId, const char* name, std::vector<std::string> tags,
                  std::map<std::string, double> parameters) {
    Preset preset;
    preset.deviceId = deviceId;
    preset.version = 1;
    preset.name = name;
    preset.author = "Ostrel";
    preset.tags = std::move(tags);
    preset.parameters = std::move(parameters);
    return preset;
}

std::vector<Preset> buildFactoryPresets() {
    constexpr const char* delay = "ostrel.delay";
    constexpr const char* reverb = "ostrel.reverb";
    constexpr const char* eq = "ostrel.eq";
    constexpr const char* compressor = "ostrel.compressor";
    constexpr const char* chorus = "ostrel.chorus";

    std::vector<Preset> presets;
    presets.reserve(19);
    presets.push_back(makePreset(delay, "Slapback", {"delay", "short"},
                                 {{"time_ms", 90}, {"feedback", 0.15}, {"mix", 0.28}, {"ping_pong", 0},
                                  {"tone_hz", 6000}}));
    presets.push_back(makePreset(delay, "Eighth Echo", {"delay", "rhythmic"},
                                 {{"time_ms", 250}, {"feedback", 0.35}, {"mix", 0.3}, {"ping_pong", 0},
                                  {"tone_hz", 8000}}));
    presets.push_back(makePreset(delay, "Dotted Ping", {"delay", "stereo"},
                                 {{"time_ms", 375}, {"feedback", 0.45}, {"mix", 0.3}, {"ping_pong", 1},
                                  {"tone_hz", 7000}}));
    presets.push_back(makePreset(delay, "Tape Long", {"delay", "long", "dark"},
                                 {{"time_ms", 520}, {"feedback", 0.55}, {"mix", 0.35}, {"ping_pong", 0},
                                  {"tone_hz", 3500}}));
    presets.push_back(makePreset(reverb, "Small Room", {"reverb", "short"},
                                 {{"room_size", 0.25}, {"damping", 0.6}, {"width", 0.8}, {"mix", 0.2},
                                  {"predelay_ms", 0}}));
    presets.push_back(makePreset(reverb, "Bright Plate", {"reverb", "bright"},
                                 {{"room_size", 0.5}, {"damping", 0.2}, {"width", 1}, {"mix", 0.28},
                                  {"predelay_ms", 10}}));
    presets.push_back(makePreset(reverb, "Big Hall", {"reverb", "long"},
                                 {{"room_size", 0.8}, {"damping", 0.45}, {"width", 1}, {"mix", 0.3},
                                  {"predelay_ms", 25}}));
    presets.push_back(makePreset(reverb, "Cathedral", {"reverb", "huge"},
                                 {{"room_size", 0.95}, {"damping", 0.55}, {"width", 1}, {"mix", 0.38},
                                  {"predelay_ms", 40}}));
    presets.push_back(makePreset(eq, "Warm", {"eq", "warm"},
                                 {{"low_freq", 100}, {"low_gain", 3}, {"mid2_freq", 3000}, {"mid2_gain", -2},
                                  {"high_freq", 9000}, {"high_gain", -3}}));
    presets.push_back(makePreset(eq, "Bright", {"eq", "bright"},
                                 {{"low_freq", 90}, {"low_gain", -1}, {"mid2_freq", 3500}, {"mid2_gain", 2},
                                  {"high_freq", 8000}, {"high_gain", 4}}));
    presets.push_back(makePreset(eq, "Telephone", {"eq", "effect"},
                                 {{"low_freq", 400}, {"low_gain", -18}, {"mid1_freq", 1000}, {"mid1_gain", 6},
                                  {"high_freq", 3000}, {"high_gain", -18}}));
    // The low shelf at its deepest cut, not a true high-pass.
    presets.push_back(makePreset(eq, "Low Cut", {"eq", "clean-up"}, {{"low_freq", 120}, {"low_gain", -18}}));
    presets.push_back(makePreset(compressor, "Gentle Glue", {"compressor", "gentle"},
                                 {{"threshold_db", -18}, {"ratio", 2}, {"attack_ms", 30}, {"release_ms", 200},
                                  {"makeup_db", 2}, {"mix", 1}}));
    presets.push_back(makePreset(compressor, "Punch", {"compressor", "punchy"},
                                 {{"threshold_db", -20}, {"ratio", 4}, {"attack_ms", 5}, {"release_ms", 100},
                                  {"makeup_db", 4}, {"mix", 1}}));
    presets.push_back(makePreset(compressor, "Squash", {"compressor", "heavy"},
                                 {{"threshold_db", -30}, {"ratio", 10}, {"attack_ms", 1}, {"release_ms", 60},
                                  {"makeup_db", 8}, {"mix", 0.8}}));
    presets.push_back(makePreset(chorus, "Subtle", {"chorus", "subtle"},
                                 {{"rate_hz", 0.3}, {"depth_ms", 1.5}, {"delay_ms", 10}, {"feedback", 0},
                                  {"mix", 0.2}}));
    presets.push_back(makePreset(chorus, "Wide Ensemble", {"chorus", "wide"},
                                 {{"rate_hz", 0.6}, {"depth_ms", 4}, {"delay_ms", 14}, {"feedback", 0.1},
                                  {"mix", 0.45}}));
    presets.push_back(makePreset(chorus, "Retro Chorus", {"chorus", "classic"},
                                 {{"rate_hz", 1.1}, {"depth_ms", 5}, {"delay_ms", 8}, {"feedback", 0.15},
                                  {"mix", 0.5}}));
    presets.push_back(makePreset(chorus, "Vibrato", {"chorus", "vibrato"},
                                 {{"rate_hz", 5}, {"depth_ms", 6}, {"delay_ms", 4}, {"feedback", 0}, {"mix", 1}}));
    return presets;
}

const std::vector<Preset>& factoryPresets() {
    // A function-local static: built once, thread-safely, by the first caller.
    static const std::vector<Preset> presets = buildFactoryPresets();
    return presets;
}

const std::vector<std::string>& effectTypeIds() {
    static const std::vector<std::string> ids = {"ostrel.delay", "ostrel.reverb", "ostrel.eq",
                                                 "ostrel.compressor", "ostrel.chorus"};
    return ids;
}

} }  // namespace ostrel::engine::devices
