#pragma once

// A project controller over real parts: settings in a temporary folder, an audio controller on a
// sound card the test drives by hand, the transport, and projects, exports and samples folders
// of the test's own.

#include "AppTestSupport.h"
#include "app/project/ProjectController.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "audiofile/WavWriter.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "model/file/ProjectFile.h"
#include "playback/PlaybackTestSupport.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <functional>
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

inline QString id(const model::Uuid& uuid) { return QString::fromStdString(uuid.toString()); }

// A MIDI track of `name` playing `instrument` (none when empty) with its settings.
inline model::Track track(const std::string& name, const std::string& instrument = "",
                          nlohmann::json config = nlohmann::json::object()) {
    model::Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.instrumentPatch = instrument;
    t.instrumentConfig = std::move(config);
    return t;
}

// An edit of a song, the undo text it must leave and what it must have done.
template <typename Song>
struct StepCase {
    const char* label;
    std::function<QString(Song&)> edit;  // the member's result, or empty
    const char* undoText;
    std::function<void(const Song&, const QString& result)> effect;
};

// Each edit, on a fresh song, is one named step without a message: undo gives back an equal
// document and redo the edited one. `Song` has the rig and doc().
template <typename Song>
void expectOneStep(const std::vector<StepCase<Song>>& cases) {
    for (const StepCase<Song>& step : cases) {
        SCOPED_TRACE(step.label);
        Song s;
        const model::Project before = s.doc();
        QSignalSpy messages(&s.rig.project, &app::ProjectController::messageChanged);
        const QString result = step.edit(s);
        step.effect(s, result);
        const model::Project after = s.doc();
        EXPECT_FALSE(after == before);
        EXPECT_EQ(s.rig.project.undoText(), step.undoText);
        EXPECT_EQ(messages.count(), 0);
        s.rig.project.undo();
        EXPECT_TRUE(s.doc() == before);
        EXPECT_FALSE(s.rig.project.canUndo()) << "one step, also for several commands";
        s.rig.project.redo();
        EXPECT_TRUE(s.doc() == after);
    }
}

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
