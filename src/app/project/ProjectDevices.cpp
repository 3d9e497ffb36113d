// The editing members for what a track sounds like: its effect chain, its instrument and the
// instrument's own settings. Like every edit, each checks and normalises its arguments and
// hands commands to the history; an unknown id, a refused value or an edit that changes
// nothing records nothing, shows no message and gives the empty result. A knob set to the
// value it already plays at (the stored one, else its default) changes nothing, so a plain
// click on a knob leaves no undo step.

#include "app/project/ProjectController.h"

#include "devices/DeviceCatalog.h"
#include "devices/effects/EffectPresets.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/instruments/InstrumentConfig.h"
#include "devices/patches/Patch.h"
#include "engine/graph/DeviceNode.h"
#include "model/commands/Commands.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::app {
namespace {

using nlohmann::json;

constexpr const char* kSampler = "Sampler";
constexpr const char* kDrumRack = "Drum Rack";
constexpr const char* kFmModule = "ostrel.mod.fm";
constexpr int kFirstPadNote = 36;
constexpr int kLastPadNote = 51;

// A knob kept in an instrument's configuration: its range and the value it plays at when
// the configuration does not name it (what the instrument builder falls back to).
struct ConfigKnob {
    const char* key;
    double min;
    double max;
    double fallback;
};

constexpr ConfigKnob kPadKnobs[] = {
    {"gain", 0.0, 2.0, 1.0},
    {"tune_cents", -100.0, 100.0, 0.0},
    {"release_ms", 1.0, 5000.0, 80.0},
};

constexpr ConfigKnob kSamplerKnobs[] = {
    {"gain", 0.0, 2.0, 1.0},         {"root_note", 0.0, 127.0, 60.0},   {"tune_cents", -100.0, 100.0, 0.0},
    {"attack_ms", 0.0, 2000.0, 2.0}, {"release_ms", 1.0, 5000.0, 80.0}, {"loop", 0.0, 1.0, 0.0},
};

const ConfigKnob* findKnob(std::span<const ConfigKnob> table, const std::string& key) {
    const auto it = std::find_if(table.begin(), table.end(), [&](const ConfigKnob& knob) { return key == knob.key; });
    return it != table.end() ? &*it : nullptr;
}

QString idText(const model::Uuid& id) { return QString::fromStdString(id.toString()); }

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

// The pad of a note: the first object in "pads" whose "note" is a number equal to it.
template <typename Json>
Json* findPadEntry(Json& config, int note) {
    if (!config.is_object()) {
        return nullptr;
    }
    const auto pads = config.find("pads");
    if (pads == config.end() || !pads->is_array()) {
        return nullptr;
    }
    for (auto& pad : *pads) {
        if (!pad.is_object()) {
            continue;
        }
        const auto padNote = pad.find("note");
        if (padNote != pad.end() && padNote->is_number() && padNote->template get<double>() == note) {
            return &pad;
        }
    }
    return nullptr;
}

// The track's configuration to edit: a copy when it is an object, else the given start.
json editableConfig(const model::Track& track, json start) {
    const json& config = track.instrumentConfig;
    return config.is_object() ? config : std::move(start);
}

const engine::ParamDescriptor* findDescriptor(const engine::DeviceNode& device, const std::string& key) {
    std::uint32_t index = 0;
    if (!device.findParameter(key.c_str(), index)) {
        return nullptr;
    }
    return &device.params.descriptors()[index];
}

double clampTo(double value, const engine::ParamDescriptor& knob) {
    return std::clamp(value, static_cast<double>(knob.min), static_cast<double>(knob.max));
}

// The instruments a track may play, in the order the instrument button steps through them:
// none, then the built-in ones.
std::vector<std::string> instrumentCycle() {
    std::vector<std::string> cycle{std::string()};
    for (const engine::Patch& patch : engine::builtinPatches()) {
        cycle.push_back(patch.name);
    }
    return cycle;
}

}  // namespace

// ---- The effect chain --------------------------------------------------------------------

QString ProjectController::addDevice(const QString& trackId, const QString& deviceId, const QString& presetName) {
    model::Uuid trackUuid;
    const std::string typeId = utf8(deviceId);
    const std::vector<std::string>& effects = engine::effectTypeIds();
    if (findTrack(trackId, &trackUuid) == nullptr ||
        std::find(effects.begin(), effects.end(), typeId) == effects.end()) {
        return {};
    }
    const std::unique_ptr<engine::DeviceNode> made = engine::createDevice(typeId);
    if (made == nullptr || typeId != made->typeId()) {
        return {};
    }
    model::Device device;
    device.id = model::Uuid::generate();
    device.typeId = typeId;
    device.name = made->displayName();
    if (!presetName.isEmpty()) {
        const std::string wanted = utf8(presetName);
        for (const engine::Preset& preset : engine::factoryPresets()) {
            if (preset.deviceId == typeId && preset.name == wanted) {
                device.parameters = preset.parameters;
                device.name = std::string(made->displayName()) + " - " + preset.name;
            }
        }
    }
    const QString result = idText(device.id);
    history_->execute(std::make_unique<model::AddDeviceCommand>(trackUuid, std::move(device)));
    return result;
}

void ProjectController::removeDevice(const QString& trackId, const QString& deviceId) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Device* device = track != nullptr ? findDevice(*track, deviceId) : nullptr;
    if (device == nullptr) {
        return;
    }
    history_->execute(std::make_unique<model::RemoveDeviceCommand>(trackUuid, device->id));
}

void ProjectController::moveDevice(const QString& trackId, const QString& deviceId, int newIndex) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Device* device = track != nullptr ? findDevice(*track, deviceId) : nullptr;
    if (device == nullptr) {
        return;
    }
    const auto last = static_cast<std::ptrdiff_t>(track->devices.size()) - 1;
    const auto target = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(newIndex, 0, last));
    const auto current = static_cast<std::size_t>(device - track->devices.data());
    if (target == current) {
        return;
    }
    history_->execute(std::make_unique<model::MoveDeviceCommand>(trackUuid, device->id, target));
}

void ProjectController::setDeviceEnabled(const QString& trackId, const QString& deviceId, bool enabled) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Device* device = track != nullptr ? findDevice(*track, deviceId) : nullptr;
    if (device == nullptr || device->enabled == enabled) {
        return;
    }
    history_->execute(std::make_unique<model::SetDeviceEnabledCommand>(trackUuid, device->id, enabled));
}

void ProjectController::setDeviceParameter(const QString& trackId, const QString& deviceId, const QString& key,
                                           double value) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Device* device = track != nullptr ? findDevice(*track, deviceId) : nullptr;
    if (device == nullptr || !checkFinite(value, "value", nullptr)) {
        return;
    }
    // A scratch device only to read the knob table; it never reaches the engine.
    const std::unique_ptr<engine::DeviceNode> scratch = engine::createDevice(device->typeId);
    const std::string knobId = utf8(key);
    const engine::ParamDescriptor* knob = scratch != nullptr ? findDescriptor(*scratch, knobId) : nullptr;
    if (knob == nullptr) {
        return;
    }
    const double v = clampTo(value, *knob);
    const auto stored = device->parameters.find(knobId);
    const double playing =
        stored != device->parameters.end() ? stored->second : static_cast<double>(knob->defaultValue);
    if (v == playing) {
        return;
    }
    history_->execute(std::make_unique<model::SetDeviceParameterCommand>(trackUuid, device->id, knobId, v));
}

// ---- The instrument ----------------------------------------------------------------------

void ProjectController::setTrackInstrument(const QString& id, const QString& patchName) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(id, &trackUuid);
    const std::string name = utf8(patchName);
    if (track == nullptr || model::isAudioTrack(*track) || track->instrumentPatch == name) {
        return;
    }
    // The browser offers the user's own patches too; those play on the keyboard only.
    if (!name.empty() && !engine::isKnownInstrumentType(name)) {
        setMessage(tr("%1 cannot go on a track: tracks play the built-in instruments, the Sampler and the Drum Rack.")
                       .arg(patchName),
                   true);
        return;
    }
    // A new instrument always starts from its own default settings.
    json config = engine::defaultInstrumentConfig(name);
    std::vector<std::unique_ptr<model::Command>> steps;
    steps.push_back(std::make_unique<model::SetTrackInstrumentCommand>(trackUuid, name));
    if (!(config == track->instrumentConfig.get())) {
        steps.push_back(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config)));
    }
    // One composite, so a failing command takes back those before it and nothing is recorded.
    history_->execute(std::make_unique<model::CompositeCommand>("Set instrument", std::move(steps)));
}

void ProjectController::cycleTrackInstrument(const QString& id) {
    const model::Track* track = findTrack(id);
    if (track == nullptr) {
        return;
    }
    const std::vector<std::string> cycle = instrumentCycle();
    const auto at = std::find(cycle.begin(), cycle.end(), track->instrumentPatch);
    // An instrument outside the cycle (Sampler, Drum Rack) goes on to the first built-in one.
    const std::size_t next = at != cycle.end() ? (static_cast<std::size_t>(at - cycle.begin()) + 1) % cycle.size() : 1;
    setTrackInstrument(id, QString::fromStdString(cycle[next]));
}

void ProjectController::setInstrumentParameter(const QString& trackId, const QString& key, double value) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    if (track == nullptr || model::isAudioTrack(*track) || !checkFinite(value, "value", nullptr)) {
        return;
    }
    engine::Patch patch;
    if (!engine::makeInstrumentPatch(track->instrumentPatch, json::object(), std::filesystem::path(), patch, nullptr,
                                     nullptr)) {
        return;
    }
    const auto fm = std::find_if(patch.nodes.begin(), patch.nodes.end(),
                                 [](const engine::PatchNode& node) { return node.device == kFmModule; });
    const std::unique_ptr<engine::DeviceNode> scratch = engine::createDevice(kFmModule);
    const std::string knobId = utf8(key);
    const engine::ParamDescriptor* knob =
        fm != patch.nodes.end() && scratch != nullptr ? findDescriptor(*scratch, knobId) : nullptr;
    if (knob == nullptr) {
        return;
    }
    json config = editableConfig(*track, json::object());
    if (!config.contains("params") || !config["params"].is_object()) {
        config["params"] = json::object();
    }
    json& params = config["params"];
    const double v = clampTo(value, *knob);
    // The knob plays at its changed value, else at the instrument's own, else at its default.
    const auto own = fm->parameters.find(knobId);
    const double unchanged = own != fm->parameters.end() ? own->second : static_cast<double>(knob->defaultValue);
    if (v == engine::jsonNumberOr(params, knobId.c_str(), unchanged)) {
        return;
    }
    params[knobId] = v;
    history_->execute(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config)));
}

// ---- The Sampler -------------------------------------------------------------------------

void ProjectController::setSamplerSample(const QString& trackId, const QString& fileName) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    if (track == nullptr || track->instrumentPatch != kSampler) {
        return;
    }
    if (!fileName.isEmpty()) {
        QString error;
        if (!readSoundFile(fileName, &error)) {
            setMessage(error, true);
            return;
        }
    }
    json config = editableConfig(*track, engine::defaultInstrumentConfig(kSampler));
    config["sample"] = utf8(fileName);
    if (config == track->instrumentConfig.get()) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config)));
}

void ProjectController::setSamplerParameter(const QString& trackId, const QString& key, double value) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const std::string name = utf8(key);
    const ConfigKnob* knob = findKnob(kSamplerKnobs, name);
    if (track == nullptr || track->instrumentPatch != kSampler || knob == nullptr ||
        !checkFinite(value, "value", nullptr)) {
        return;
    }
    json config = editableConfig(*track, engine::defaultInstrumentConfig(kSampler));
    const double x = std::clamp(value, knob->min, knob->max);
    if (name == "loop") {
        const bool on = x >= 0.5;
        const auto stored = config.find("loop");
        const bool playing = stored != config.end() && stored->is_boolean() && stored->get<bool>();
        if (on == playing) {
            return;
        }
        config["loop"] = on;
    } else {
        // std::round takes halves away from zero.
        const double written = name == "root_note" ? std::round(x) : x;
        if (written == engine::jsonNumberOr(config, knob->key, knob->fallback)) {
            return;
        }
        if (name == "root_note") {
            config[name] = static_cast<std::int64_t>(written);
        } else {
            config[name] = written;
        }
    }
    history_->execute(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config)));
}

// ---- The Drum Rack -----------------------------------------------------------------------

void ProjectController::setPad(const QString& trackId, int note, const QString& fileName) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    if (track == nullptr || track->instrumentPatch != kDrumRack || note < kFirstPadNote || note > kLastPadNote) {
        return;
    }
    QString error;
    if (!readSoundFile(fileName, &error)) {
        setMessage(error, true);
        return;
    }
    const std::string sample = utf8(fileName);
    json config = editableConfig(*track, engine::defaultInstrumentConfig(kDrumRack));
    if (json* pad = findPadEntry(config, note)) {
        const auto stored = pad->find("sample");
        if (stored != pad->end() && stored->is_string() && stored->get_ref<const std::string&>() == sample) {
            return;
        }
        (*pad)["sample"] = sample;
    } else {
        if (!config.contains("pads") || !config["pads"].is_array()) {
            config["pads"] = json::array();
        }
        config["pads"].push_back(
            json{{"note", note}, {"sample", sample}, {"gain", 1.0}, {"tune_cents", 0.0}, {"release_ms", 80.0}});
    }
    history_->execute(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config)));
}

void ProjectController::setPadParameter(const QString& trackId, int note, const QString& key, double value) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const std::string name = utf8(key);
    const ConfigKnob* knob = findKnob(kPadKnobs, name);
    if (track == nullptr || track->instrumentPatch != kDrumRack || knob == nullptr ||
        !checkFinite(value, "value", nullptr)) {
        return;
    }
    json config = track->instrumentConfig.get();
    json* pad = findPadEntry(config, note);
    if (pad == nullptr) {
        return;
    }
    const double x = std::clamp(value, knob->min, knob->max);
    if (x == engine::jsonNumberOr(*pad, knob->key, knob->fallback)) {
        return;
    }
    (*pad)[name] = x;
    history_->execute(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config)));
}

void ProjectController::clearPad(const QString& trackId, int note) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    if (track == nullptr || track->instrumentPatch != kDrumRack) {
        return;
    }
    const json& config = track->instrumentConfig.get();
    const auto pads = config.is_object() ? config.find("pads") : config.end();
    if (!config.is_object() || pads == config.end() || !pads->is_array()) {
        return;
    }
    // Any note may be cleared, also one outside the 16 pads that a file holds.
    json kept = json::array();
    for (const json& pad : *pads) {
        const bool ofNote =
            pad.is_object() && pad.contains("note") && pad["note"].is_number() && pad["note"].get<double>() == note;
        if (!ofNote) {
            kept.push_back(pad);
        }
    }
    if (kept.size() == pads->size()) {
        return;
    }
    json changed = config;
    changed["pads"] = std::move(kept);
    history_->execute(std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(changed)));
}

}  // namespace ostrel::app
