#include "core/settings/SettingsRegistry.h"

#include "core/Failure.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <utility>

namespace ostrel::core {
namespace {

// A bound as a whole number. Printed from the truncated double rather than cast, so a
// bound beyond the range of int64 cannot overflow; "+ 0.0" turns -0 into 0.
std::string wholeNumber(double bound) {
    char text[400];
    std::snprintf(text, sizeof text, "%.0f", std::trunc(bound) + 0.0);
    return text;
}

bool withinRange(double number, double min, double max) { return !(number < min) && !(number > max); }

}  // namespace

bool SettingDef::validate(SettingValue& value, std::string* message) const {
    switch (type) {
    case SettingType::boolean:
        if (!std::holds_alternative<bool>(value)) {
            return fail(message, key + " must be on or off");
        }
        return true;
    case SettingType::integer: {
        const std::int64_t* number = std::get_if<std::int64_t>(&value);
        if (number == nullptr) {
            return fail(message, key + " must be a whole number");
        }
        if (!withinRange(static_cast<double>(*number), min, max)) {
            return fail(message, key + " must be between " + wholeNumber(min) + " and " + wholeNumber(max));
        }
        return true;
    }
    case SettingType::real: {
        if (const std::int64_t* whole = std::get_if<std::int64_t>(&value)) {
            value = static_cast<double>(*whole);
        }
        const double* number = std::get_if<double>(&value);
        if (number == nullptr) {
            return fail(message, key + " must be a number");
        }
        if (std::isnan(*number) || !withinRange(*number, min, max)) {
            return fail(message, key + " is outside its allowed range");
        }
        return true;
    }
    case SettingType::text:
        if (!std::holds_alternative<std::string>(value)) {
            return fail(message, key + " must be text");
        }
        return true;
    case SettingType::choice: {
        const std::string* text = std::get_if<std::string>(&value);
        if (text == nullptr) {
            return fail(message, key + " must be one of its listed options");
        }
        const bool listed = std::any_of(options.begin(), options.end(),
                                        [&](const SettingOption& option) { return option.value == *text; });
        if (!listed) {
            return fail(message, "'" + *text + "' is not an option for " + key);
        }
        return true;
    }
    }
    return false;
}

void SettingsRegistry::addSetting(SettingDef def) {
    if (def.key.empty()) {
        throw std::invalid_argument("setting id is empty");
    }
    if (findDefinition(def.key) != nullptr) {
        throw std::invalid_argument("duplicate setting id: " + def.key);
    }
    const bool knownCategory = std::any_of(categories.begin(), categories.end(),
                                           [&](const SettingCategory& category) { return category.id == def.category; });
    if (!knownCategory) {
        throw std::invalid_argument(def.key + ": unknown category '" + def.category + "'");
    }
    if (def.label.empty() || def.help.empty()) {
        throw std::invalid_argument(def.key + ": every setting needs a label and a help sentence");
    }
    if (def.type == SettingType::choice && def.options.empty()) {
        throw std::invalid_argument(def.key + ": a choice setting needs options");
    }
    SettingValue checked = def.defaultValue;
    std::string message;
    if (!def.validate(checked, &message)) {
        throw std::invalid_argument("default of " + message);
    }
    def.defaultValue = std::move(checked);
    settings.push_back(std::move(def));
}

const SettingDef* SettingsRegistry::findDefinition(std::string_view key) const {
    for (const SettingDef& def : settings) {
        if (def.key == key) {
            return &def;
        }
    }
    return nullptr;
}

std::vector<const SettingDef*> SettingsRegistry::settingsInCategory(std::string_view category,
                                                                    bool includeAdvanced) const {
    std::vector<const SettingDef*> found;
    for (const SettingDef& def : settings) {
        if (def.category == category && !def.hidden && (includeAdvanced || !def.advanced)) {
            found.push_back(&def);
        }
    }
    return found;
}

namespace {

enum Flags : unsigned { None = 0, Advanced = 1, Restart = 2, Hidden = 4 };

SettingDef makeDef(std::string key, SettingType type, std::string category, std::string label, SettingValue defaultValue,
                   unsigned flags, std::string help) {
    SettingDef def;
    def.key = std::move(key);
    def.type = type;
    def.category = std::move(category);
    def.label = std::move(label);
    def.help = std::move(help);
    def.defaultValue = std::move(defaultValue);
    def.advanced = (flags & Advanced) != 0;
    def.restartRequired = (flags & Restart) != 0;
    def.hidden = (flags & Hidden) != 0;
    return def;
}

SettingDef ranged(SettingDef def, double min, double max) {
    def.min = min;
    def.max = max;
    return def;
}

SettingDef withOptions(SettingDef def, std::vector<SettingOption> options) {
    def.options = std::move(options);
    return def;
}

SettingValue text(const char* value) { return std::string(value); }
SettingValue whole(std::int64_t value) { return value; }

}  // namespace

SettingsRegistry buildSettingsRegistry() {
    using T = SettingType;
    SettingsRegistry registry;
    registry.categories = {
        {"appearance", "Appearance"}, {"audio", "Audio"}, {"midi", "MIDI"},
        {"instrument", "Instrument"}, {"api", "Local API"}, {"logging", "Logging"},
    };

    registry.addSetting(withOptions(
        makeDef("appearance.theme", T::choice, "appearance", "Theme", text("graphite"), None,
                "The colours of the whole app. High Contrast is the easiest to read."),
        {{"graphite", "Ostrel Graphite"},
         {"dark", "Ostrel Dark"},
         {"steel", "Ostrel Steel"},
         {"light", "Ostrel Light"},
         {"high-contrast", "High Contrast"}}));
    registry.addSetting(ranged(
        makeDef("appearance.ui_scale", T::integer, "appearance", "Interface size (%)", whole(100), Restart,
                "Makes the whole interface larger or smaller. Takes effect the next time you start Ostrel."),
        75, 200));
    registry.addSetting(makeDef("appearance.reduce_motion", T::boolean, "appearance", "Reduce motion", false, None,
                                "Turns off fades and animations."));
    registry.addSetting(makeDef("appearance.show_help_strip", T::boolean, "appearance", "Show the help strip", true,
                                None, "Shows the strip at the bottom that explains whatever you point at."));
    registry.addSetting(
        makeDef("appearance.custom_theme", T::text, "appearance", "My theme", text(""), Hidden,
                "The id of one of your own themes. Empty means the built-in theme chosen above."));
    registry.addSetting(makeDef("audio.output_device", T::text, "audio", "Output device", text(""), Hidden,
                                "The sound card that plays Ostrel's sound. Empty means the system default."));
    registry.addSetting(ranged(makeDef("transport.tempo", T::real, "audio", "Tempo (BPM)", 120.0, Hidden,
                                       "Beats per minute of the transport bar."),
                               20.0, 300.0));
    registry.addSetting(makeDef("transport.metronome", T::boolean, "audio", "Metronome", false, Hidden,
                                "The click on every beat while the transport plays."));
    registry.addSetting(
        makeDef("instrument.patch", T::text, "instrument", "Patch", text("Modular Lead"), Hidden,
                "The patch the PLAY card plays (the name of a built-in patch or one of your own)."));
    registry.addSetting(makeDef("api.enabled", T::boolean, "api", "Local API server", false, None,
                                "Let programs on THIS computer control Ostrel over a local socket (scripts and "
                                "tools). Nothing is reachable from the network."));
    registry.addSetting(ranged(makeDef("api.port", T::integer, "api", "API port", whole(8642), Advanced,
                                       "Which localhost port the API server listens on (1024 to 65535). Change it "
                                       "only if something else uses the default."),
                               1024, 65535));
    registry.addSetting(ranged(makeDef("api.osc.port", T::integer, "api", "OSC port", whole(8643), Advanced,
                                       "Which localhost UDP port hardware OSC controllers send actions to (the OSC "
                                       "door opens with the Local API switch)."),
                               1024, 65535));
    registry.addSetting(makeDef("api.token", T::text, "api", "API token", text(""), Hidden,
                                "A secret word a program must send to use the API. Ostrel makes one the first "
                                "time the server is switched on."));
    registry.addSetting(makeDef("instrument.chords", T::boolean, "instrument", "Chords", true, Hidden,
                                "On: play up to eight notes at once. Off: one note at a time."));
    registry.addSetting(makeDef("instrument.effects", T::boolean, "instrument", "Echo and room", false, Hidden,
                                "Adds an echo and a room reverb after the instrument."));
    registry.addSetting(ranged(makeDef("instrument.level", T::real, "instrument", "Volume", 0.7, Hidden,
                                       "How loud the instrument is (0 to 1)."),
                               0.0, 1.0));
    registry.addSetting(makeDef("instrument.midi_map", T::text, "instrument", "MIDI controller assignments", text(""),
                                Hidden,
                                "Which MIDI controller number moves which sound control. Empty means the "
                                "standard assignments."));
    registry.addSetting(makeDef("midi.input_device", T::text, "midi", "MIDI keyboard", text(""), Hidden,
                                "The MIDI keyboard or controller that plays Ostrel's instrument. Empty means none."));
    registry.addSetting(withOptions(
        makeDef("audio.sample_rate", T::choice, "audio", "Sample rate (Hz)", text("48000"), None,
                "How many times per second sound is measured. 48000 is the standard for video and most music."),
        {{"44100", "44100"}, {"48000", "48000"}, {"96000", "96000"}}));
    registry.addSetting(withOptions(
        makeDef("audio.buffer_size", T::choice, "audio", "Buffer size (samples)", text("512"), None,
                "Smaller buffers give less delay but can crackle on slower computers. If you hear clicks, choose a "
                "larger size."),
        {{"64", "64"}, {"128", "128"}, {"256", "256"}, {"512", "512"}, {"1024", "1024"}, {"2048", "2048"}}));
    registry.addSetting(withOptions(
        makeDef("logging.level", T::choice, "logging", "Log detail", text("info"), Advanced,
                "How much the flight recorder writes to the log file. Errors are always recorded."),
        {{"debug", "Detailed"}, {"info", "Normal"}, {"warn", "Only problems"}}));
    return registry;
}

}  // namespace ostrel::core
