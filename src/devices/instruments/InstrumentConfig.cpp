#include "devices/instruments/InstrumentConfig.h"

#include "devices/instruments/BuiltinInstruments.h"
#include "devices/instruments/InstrumentSample.h"
#include "devices/instruments/SamplePatches.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace ostrel::engine { inline namespace devices {
namespace {

using nlohmann::json;

constexpr const char* kSampler = "Sampler";
constexpr const char* kDrumRack = "Drum Rack";

// Made once and only read afterwards, so any thread may look up.
const Patch* findBuiltin(const std::string& name) {
    static const std::vector<Patch> patches = builtinPatches();
    for (const Patch& patch : patches) {
        if (patch.name == name) {
            return &patch;
        }
    }
    return nullptr;
}

std::string textOr(const json& object, const char* key) {
    if (object.is_object()) {
        const auto it = object.find(key);
        if (it != object.end() && it->is_string()) {
            return it->get<std::string>();
        }
    }
    return {};
}

// Truncates toward zero when the value is a finite number that fits 32 bits.
bool padNote(const json& pad, std::int32_t& note) {
    const double value = jsonNumberOr(pad, "note", -1.0);
    if (!std::isfinite(value)) {
        return false;
    }
    const double whole = std::trunc(value);
    if (whole < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        whole > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return false;
    }
    note = static_cast<std::int32_t>(whole);
    return true;
}

Patch samplerPatch(const json& config, const std::filesystem::path& samplesFolder, std::vector<std::string>* warnings) {
    static const json empty = json::object();
    const json& cfg = config.is_object() ? config : empty;
    std::shared_ptr<const AudioData> sample =
        loadInstrumentSample(textOr(cfg, "sample"), samplesFolder, "the Sampler", warnings);
    const auto loop = cfg.find("loop");
    const std::map<std::string, double> knobs{
        {"gain", jsonNumberOr(cfg, "gain", 1.0)},
        {"root_note", jsonNumberOr(cfg, "root_note", 60.0)},
        {"tune_cents", jsonNumberOr(cfg, "tune_cents", 0.0)},
        {"attack_ms", jsonNumberOr(cfg, "attack_ms", 2.0)},
        {"release_ms", jsonNumberOr(cfg, "release_ms", 80.0)},
        {"loop", loop != cfg.end() && loop->is_boolean() && loop->get<bool>() ? 1.0 : 0.0},
    };
    return makeSamplerPatch(std::move(sample), knobs, kSampler);
}

Patch drumRackPatch(const json& config, const std::filesystem::path& samplesFolder, std::vector<std::string>* warnings) {
    std::vector<DrumPad> pads;
    const auto list = config.is_object() ? config.find("pads") : config.end();
    if (config.is_object() && list != config.end() && list->is_array()) {
        for (const json& element : *list) {
            if (!element.is_object()) {
                continue;
            }
            DrumPad pad;
            if (!padNote(element, pad.note)) {
                // A note that is not finite or does not fit 32 bits cannot even name the pad.
                if (warnings != nullptr) {
                    warnings->push_back("a drum pad's note " + element["note"].dump() +
                                        " is not a usable note number; skipped");
                }
                continue;
            }
            pad.sample = loadInstrumentSample(textOr(element, "sample"), samplesFolder,
                                              "pad " + std::to_string(pad.note), warnings);
            pad.gain = jsonNumberOr(element, "gain", 1.0);
            pad.tune_cents = jsonNumberOr(element, "tune_cents", 0.0);
            pad.release_ms = jsonNumberOr(element, "release_ms", 80.0);
            pads.push_back(std::move(pad));
        }
    }
    return makeDrumRackPatch(pads, kDrumRack);
}

}  // namespace

double jsonNumberOr(const json& object, const char* key, double fallback) {
    if (!object.is_object()) {
        return fallback;
    }
    const auto it = object.find(key);
    if (it == object.end() || !it->is_number()) {
        return fallback;
    }
    return it->get<double>();
}

bool makeInstrumentPatch(const std::string& instrument, const json& config, const std::filesystem::path& samplesFolder,
                         Patch& out, std::vector<std::string>* warnings, std::string* error) {
    if (instrument == kSampler) {
        out = samplerPatch(config, samplesFolder, warnings);
        return true;
    }
    if (instrument == kDrumRack) {
        out = drumRackPatch(config, samplesFolder, warnings);
        return true;
    }
    if (const Patch* builtin = findBuiltin(instrument)) {
        out = *builtin;
        const auto params = config.is_object() ? config.find("params") : config.end();
        if (config.is_object() && params != config.end() && params->is_object()) {
            for (PatchNode& node : out.nodes) {
                if (node.device != "ostrel.mod.fm") {
                    continue;
                }
                for (const auto& [key, value] : params->items()) {
                    if (value.is_number()) {
                        node.parameters[key] = value.get<double>();
                    }
                }
            }
        }
        return true;
    }
    if (error != nullptr) {
        *error = "unknown instrument \"" + instrument + "\"";
    }
    return false;
}

json defaultInstrumentConfig(const std::string& instrument) {
    if (instrument == kSampler) {
        return json{{"sample", ""},     {"root_note", 60},    {"gain", 1.0},  {"tune_cents", 0.0},
                    {"attack_ms", 2.0}, {"release_ms", 80.0}, {"loop", false}};
    }
    if (instrument == kDrumRack) {
        return json{{"pads", json::array()}};
    }
    return json::object();
}

bool isSampleInstrument(const std::string& name) { return name == kSampler || name == kDrumRack; }

bool isKnownInstrumentType(const std::string& name) {
    return isSampleInstrument(name) || findBuiltin(name) != nullptr;
}

} }  // namespace ostrel::engine::devices
