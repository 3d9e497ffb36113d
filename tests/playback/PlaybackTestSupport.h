#pragma once

// Test parts shared by the playback tests: a sound card that the test drives by hand, an
// engine on it, and backing tracks whose samples name their frame.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "engine/AudioBackend.h"
#include "engine/BackingTrack.h"
#include "engine/EngineTestSupport.h"
#include "playback/AudioEngine.h"

namespace ostrel::test {

// A sound card whose audio thread is whichever thread calls render.
class HandBackend final : public IAudioBackend {
public:
    std::string backendName() override { return "Hand"; }
    std::vector<AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const AudioConfig& config, RenderCallback callback, void* user, std::string*) override {
        std::tie(config_, callback_, user_, state_) = std::tuple(config, callback, user, BackendState::Running);
        return true;
    }
    void close() override { state_ = state_ == BackendState::Running ? BackendState::Closed : state_; }
    BackendState state() const override { return state_; }
    LoadStats loadStats() const override { return {}; }

    void render(float* out, std::uint32_t frames) { callback_(user_, out, frames); }
    // One period, interleaved; -99 where the callback wrote nothing. Also kept in `heard`.
    std::vector<float> render(std::uint32_t frames) {
        std::vector<float> out(std::size_t{frames} * config_.channels, -99.0f);
        render(out.data(), frames);
        heard.insert(heard.end(), out.begin(), out.end());
        return out;
    }
    // `periods` periods of `frames` frames, as the card plays them one after another.
    void play(std::uint32_t frames, int periods) {
        for (int i = 0; i < periods; ++i) {
            (void)render(frames);
        }
    }
    const AudioConfig& config() const { return config_; }

    // Every sample the periods rendered by the vector form of render held, interleaved, in order.
    std::vector<float> heard;
    void stopByDevice() { state_ = BackendState::StoppedByDevice; }

private:
    AudioConfig config_{};
    RenderCallback callback_ = nullptr;
    void* user_ = nullptr;
    BackendState state_ = BackendState::Closed;
};

// Frame i holds i on every channel, so the output names the track frame it came from.
inline std::shared_ptr<BackingTrack> rampTrack(std::int64_t frames, int channels = 1) {
    std::vector<float> samples;
    for (std::int64_t i = 0; i < frames * channels; ++i) {
        samples.push_back(static_cast<float>(i / channels));
    }
    return std::make_shared<BackingTrack>(samples, channels);
}

// The same, still rendering: begun with `frames` frames from `from` on, none published; at
// `bpm` (48 kHz) when given, else following the transport.
inline std::shared_ptr<BackingTrack> rampTrackToCome(std::int64_t frames, std::int64_t from = 0, int channels = 1,
                                                     double bpm = 0.0) {
    auto track = std::make_shared<BackingTrack>();
    track->begin(frames, channels, from, {bpm > 0.0 ? 48000.0 : 0.0, bpm});
    return track;
}

// Writes the ramp's frames up to `end` that are not published yet, and publishes them.
inline void publishRamp(BackingTrack& track, std::int64_t end) {
    const BackingTrack::View view = track.view();
    const std::int64_t first = std::max(view.from, view.end);
    const std::span<float> frames = track.unpublished(first, end - first);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        frames[i] = static_cast<float>(first + static_cast<std::int64_t>(i) / view.channels);
    }
    track.publish(end);
}

// An engine on a HandBackend; start() opens it with the default configuration.
class HandEngineTest : public ::testing::Test {
protected:
    HandEngineTest() : card(new HandBackend), engine(std::make_unique<AudioEngine>(std::unique_ptr<IAudioBackend>(card))) {}
    void start() {
        std::string error;
        ASSERT_TRUE(engine->start({}, &error)) << error;
    }

    HandBackend* card;  // owned by the engine
    std::unique_ptr<AudioEngine> engine;
};

}  // namespace ostrel::test
