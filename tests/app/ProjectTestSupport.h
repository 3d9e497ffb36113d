#pragma once

// A project controller over real parts: settings in a temporary folder, an audio controller on a
// sound card the test drives by hand, the transport, and projects, exports and samples folders
// of the test's own.

#include "AppTestSupport.h"
#include "app/AudioController.h"
#include "app/ProjectController.h"
#include "app/SettingsBridge.h"
#include "app/TransportController.h"
#include "audiofile/WavWriter.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "model/ProjectFile.h"
#include "playback/PlaybackTestSupport.h"
#include "support/TempDir.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::test {

inline const core::SettingsRegistry& programRegistry() {
    static const core::SettingsRegistry built = core::buildSettingsRegistry();
    return built;
}

struct ProjectRig {
    // On a sound card the test drives by hand, or on the given back-end (card is then null).
    explicit ProjectRig(app::ProjectControllerHooks hooks = {}, std::unique_ptr<engine::IAudioBackend> backend = nullptr)
        : store(programRegistry()),
          settings(store, programRegistry(), qPath(dir / "settings.json"), log.logger),
          card(backend == nullptr ? new HandBackend : nullptr),
          audio(backend == nullptr ? std::unique_ptr<engine::IAudioBackend>(card) : std::move(backend), settings,
                log.logger),
          transport(audio, log.logger, &settings),
          project(transport, log.logger, qPath(dir / "projects"), QString(), QString(), std::move(hooks)) {}

    std::filesystem::path projects() const { return dir / "projects"; }
    std::filesystem::path samples() const { return dir / "projects" / "samples"; }
    std::filesystem::path exports() const { return dir / "projects" / "exports"; }

    // Writes the song as a project file in the projects folder.
    void writeProject(const std::string& fileName, const model::Project& song) const {
        std::filesystem::create_directories(projects());
        std::string error;
        ASSERT_TRUE(model::saveProjectFile(projects() / fileName, song, &error)) << error;
    }

    // A mono 32-bit float WAV of `frames` frames at `rate`, every sample `level`.
    void writeSample(const std::string& fileName, std::int64_t frames, double rate = 48000.0,
                     float level = 0.5f) const {
        std::filesystem::create_directories(samples());
        const std::vector<float> data(static_cast<std::size_t>(frames), level);
        std::string error;
        ASSERT_TRUE(engine::writeWavFile(samples() / fileName, data, 1, static_cast<std::uint32_t>(rate),
                                         engine::WavFormat::Float32, &error))
            << error;
    }

    // One period from the engine, as the sound card would take it.
    std::vector<float> pull(std::uint32_t frames = 512) { return card->render(frames); }

    // Polls the render collection until `count` results came, each from a finished job; the
    // worker renders every job it is given, so this ends.
    std::vector<engine::RenderResult> collect(std::size_t count) {
        std::vector<engine::RenderResult> all;
        while (all.size() < count) {
            std::vector<engine::RenderResult> taken = project.onRenderFinished();
            for (engine::RenderResult& result : taken) {
                all.push_back(std::move(result));
            }
            if (all.size() < count) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return all;
    }

    TempDir dir;
    RecordingLogger log;
    core::SettingsStore store;
    app::SettingsBridge settings;
    HandBackend* card;  // owned by the audio controller; null on another back-end
    app::AudioController audio;
    app::TransportController transport;
    app::ProjectController project;
};

// Tests that need the event loop's timers (the zero-delay rebuild, background exports) run
// with an application object of their own.
class WithApplication : public ::testing::Test {
protected:
    void SetUp() override { application_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[8] = "ostrel";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> application_;
};

}  // namespace ostrel::test
