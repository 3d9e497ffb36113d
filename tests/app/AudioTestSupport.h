#pragma once

// Test parts for the audio and transport controllers: a sound card that the test drives by
// hand (and can make fail or lose), a clock that moves only when told, and the controllers
// over the program's settings in a temporary folder.

#include "AppTestSupport.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "engine/AudioBackend.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::test {

// A sound card whose audio thread is whichever thread calls render. Shares its state with
// the test through a plain struct, since the engine owns the card itself.
class HandCard final : public engine::IAudioBackend {
public:
    struct State {
        std::string name = "Hand";
        std::vector<engine::AudioDeviceInfo> devices = {{"aa01", "Speakers", true}, {"aa02", "Headphones", false}};
        std::string openError;  // when not empty, open fails with it
        engine::BackendState state = engine::BackendState::Closed;
        engine::LoadStats stats;
        engine::AudioConfig config;  // of the last open
        int opens = 0;
        int closes = 0;
        engine::RenderCallback callback = nullptr;
        void* user = nullptr;
    };

    explicit HandCard(std::shared_ptr<State> state) : s_(std::move(state)) {}

    std::string backendName() override { return s_->name; }
    std::vector<engine::AudioDeviceInfo> listDevices() override { return s_->devices; }
    bool open(const engine::AudioConfig& config, engine::RenderCallback callback, void* user,
              std::string* error) override {
        close();
        ++s_->opens;
        s_->config = config;
        if (!s_->openError.empty()) {
            s_->state = engine::BackendState::Failed;
            if (error != nullptr) *error = s_->openError;
            return false;
        }
        s_->callback = callback;
        s_->user = user;
        s_->state = engine::BackendState::Running;
        return true;
    }
    void close() override {
        ++s_->closes;
        s_->callback = nullptr;
        // Like the real back-ends, a lost device stays reported after the close.
        if (s_->state == engine::BackendState::Running) s_->state = engine::BackendState::Closed;
    }
    engine::BackendState state() const override { return s_->state; }
    engine::LoadStats loadStats() const override { return s_->stats; }

private:
    std::shared_ptr<State> s_;
};

// Renders one period of the open card, interleaved stereo.
inline std::vector<float> renderPeriod(HandCard::State& card, std::uint32_t frames) {
    std::vector<float> out(std::size_t{frames} * 2, 0.0f);
    if (card.callback != nullptr) card.callback(card.user, out.data(), frames);
    return out;
}

inline float peakOf(const std::vector<float>& samples) {
    float peak = 0.0f;
    for (float s : samples) peak = std::max(peak, std::abs(s));
    return peak;
}

// Milliseconds that move only when the test moves them.
struct ManualClock {
    app::MillisecondClock reader() {
        return [this] { return ms; };
    }
    std::int64_t ms = 0;
};

// The program's settings, saved into a temporary folder.
struct SettingsFixture {
    SettingsFixture() : registry(core::buildSettingsRegistry()), store(registry), settings(store, registry, qPath(dir / "settings.json"), log.logger) {}

    bool logged(core::LogLevel level, const std::string& category, const std::string& message) const {
        for (const core::LogRecord& record : log.records()) {
            if (record.level == level && record.category == category && record.message == message) return true;
        }
        return false;
    }
    int countLogged(core::LogLevel level, const std::string& prefix) const {
        int n = 0;
        for (const core::LogRecord& record : log.records()) {
            if (record.level == level && record.message.rfind(prefix, 0) == 0) ++n;
        }
        return n;
    }
    bool stepRecorded(const std::string& category, const std::string& message) {
        std::vector<core::LogStep> steps;
        EXPECT_TRUE(log.logger.copyRecentSteps(steps));
        for (const core::LogStep& step : steps) {
            if (step.category == category && step.message == message) return true;
        }
        return false;
    }

    TempDir dir;
    RecordingLogger log;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::SettingsBridge settings;
};

// An audio controller on a hand-driven card and a manual clock.
struct AudioFixture : SettingsFixture {
    AudioFixture()
        : card(std::make_shared<HandCard::State>()),
          audio(std::make_unique<HandCard>(card), settings, log.logger, nullptr, clock.reader()) {}

    // Moves the clock to ms and runs the status tick there.
    void tickAt(std::int64_t ms) {
        clock.ms = ms;
        audio.onTick();
    }

    std::shared_ptr<HandCard::State> card;
    ManualClock clock;
    app::AudioController audio;
};

}  // namespace ostrel::test
