#pragma once

#include "AppTestSupport.h"
#include "AudioTestSupport.h"
#include "app/live/InstrumentController.h"
#include "app/live/MidiController.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "engine/AudioBackend.h"
#include "engine/Event.h"
#include "engine/MidiBackend.h"
#include "playback/AudioEngine.h"
#include "support/FakeMidiBackend.h"
#include "support/TempDir.h"

#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test {

// Plays messages into the open input from another thread; nothing when none is open.
inline void playFromDriverThread(const FakeMidiPorts& ports, const std::vector<std::vector<std::uint8_t>>& messages) {
    if (ports.callback == nullptr) return;
    std::thread driver([&] {
        for (const std::vector<std::uint8_t>& message : messages) {
            ports.callback(ports.user, message.data(), static_cast<std::uint32_t>(message.size()));
        }
    });
    driver.join();
}

// The live-playing controllers over a hand-driven card, a fake MIDI back-end, settings in
// a temporary folder and a hand-moved clock.
class LiveRig {
public:
    LiveRig() { settings = std::make_unique<app::SettingsBridge>(store, registry, settingsFile(), log.logger); }

    QString settingsFile() const { return qPath(dir / "settings.json"); }
    QString patchesFolder() const { return qPath(dir / "patches"); }

    // Before start(): a stored setting the controllers read when they are built.
    void preset(const char* key, core::SettingValue value) {
        std::string error;
        if (!store.set(key, std::move(value), &error)) throw std::runtime_error(error);
    }

    void startInstrument(app::SettingsBridge* bridge) {
        if (!audio) {
            audio = std::make_unique<app::AudioController>(std::make_unique<HandCard>(card), *settings, log.logger,
                                                           nullptr, [this] { return nowMs; });
        }
        instrument = std::make_unique<app::InstrumentController>(*audio, log.logger, bridge);
    }
    void startInstrument() { startInstrument(settings.get()); }
    void startMidi() {
        if (!instrument) startInstrument();
        midi = std::make_unique<app::MidiController>(std::make_unique<FakeMidiBackend>(midiPorts), *settings,
                                                     *instrument, log.logger);
    }

    QString setting(const char* key) const { return settings->value(QString::fromLatin1(key)).toString(); }

    // Whether the program recorded the step "category: message".
    bool recordedStep(const std::string& text) {
        std::vector<core::LogStep> recent;
        log.logger.copyRecentSteps(recent);
        return std::any_of(recent.begin(), recent.end(),
                           [&](const core::LogStep& s) { return s.category + ": " + s.message == text; });
    }
    // Log records at `level` in `category` whose message starts with `prefix`.
    int logged(core::LogLevel level, const std::string& category, const std::string& prefix) const {
        int n = 0;
        for (const core::LogRecord& r : log.records()) {
            if (r.level == level && r.category == category && r.message.rfind(prefix, 0) == 0) ++n;
        }
        return n;
    }
    // The events queued for the audio thread so far, taken out.
    std::vector<engine::Event> takeEvents() {
        engine::AudioEngine& engine = audio->engine();
        const auto due = engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1);
        return {due.begin(), due.end()};
    }

    TempDir dir;
    RecordingLogger log;
    core::SettingsRegistry registry = core::buildSettingsRegistry();
    core::SettingsStore store{registry};
    std::unique_ptr<app::SettingsBridge> settings;
    // Never calls back: the tests look at what reaches the engine's event queue.
    std::shared_ptr<HandCard::State> card = std::make_shared<HandCard::State>();
    std::shared_ptr<FakeMidiPorts> midiPorts = std::make_shared<FakeMidiPorts>();
    std::int64_t nowMs = 0;
    std::unique_ptr<app::AudioController> audio;
    std::unique_ptr<app::InstrumentController> instrument;
    std::unique_ptr<app::MidiController> midi;
};

inline engine::Event midiEvent(engine::EventType type, int note, int velocity = 100) {
    engine::Event event;
    event.type = type;
    event.note = static_cast<std::uint8_t>(note);
    event.velocity = static_cast<std::uint8_t>(velocity);
    return event;
}
inline engine::Event controlChange(int controller, int value) {
    return midiEvent(engine::EventType::ControlChange, controller, value);
}

inline std::vector<int> ints(const QVariantList& list) {
    std::vector<int> out;
    for (const QVariant& v : list) out.push_back(v.toInt());
    return out;
}
// The first argument of every signal a spy caught: the pitches of noteOn or noteOff.
inline std::vector<int> pitches(const QList<QList<QVariant>>& spy) {
    std::vector<int> out;
    for (const QList<QVariant>& args : spy) out.push_back(args.at(0).toInt());
    return out;
}

}  // namespace ostrel::test
