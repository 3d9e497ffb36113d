#include "devices/RenderWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/LogSink.h"
#include "core/Logger.h"
#include "engine/WavReader.h"
#include "engine/WavWriter.h"
#include "model/Project.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

class CapturingSink : public core::LogSink {
public:
    void write(const core::LogRecord& record) override {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    }
    std::vector<core::LogRecord> records() {
        std::lock_guard lock(mutex_);
        return records_;
    }

private:
    std::mutex mutex_;
    std::vector<core::LogRecord> records_;
};

struct LoggerWithSink {
    LoggerWithSink() { logger.addSink(sink); }
    core::Logger logger;
    std::shared_ptr<CapturingSink> sink = std::make_shared<CapturingSink>();
};

// Holds every render at its start until released; counts the renders that began.
class RenderGate {
public:
    BackgroundRenderer::RenderFunction function() {
        return [this](const model::Project& project, const RenderSettings& settings, RenderOutput* out,
                      std::string* error) {
            {
                std::unique_lock lock(mutex_);
                ++started_;
                changed_.notify_all();
                changed_.wait(lock, [this] { return open_; });
            }
            return renderProject(project, settings, out, error);
        };
    }
    void waitForStarted(int count) {
        std::unique_lock lock(mutex_);
        ASSERT_TRUE(changed_.wait_for(lock, std::chrono::seconds(30), [&] { return started_ >= count; }));
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int started() {
        std::lock_guard lock(mutex_);
        return started_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int started_ = 0;
    bool open_ = false;
};

// Collects results until count have come (or a generous deadline passes).
std::vector<RenderResult> waitForResults(BackgroundRenderer& worker, std::size_t count) {
    std::vector<RenderResult> all;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (all.size() < count && std::chrono::steady_clock::now() < deadline) {
        for (RenderResult& r : worker.takeResults()) {
            all.push_back(std::move(r));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return all;
}

model::Clip audioClip(const std::string& file, double start, double length) {
    model::Clip c;
    c.id = model::Uuid::generate();
    c.startBeats = start;
    c.lengthBeats = length;
    c.audioSource = file;
    return c;
}

// One audio track playing a constant 0.25 for one beat (24000 frames at 48 kHz).
struct ConstantSong {
    ConstantSong() {
        std::vector<float> samples(48000 * 2, 0.25f);
        EXPECT_TRUE(writeWavFile(dir / "c.wav", samples, 2, 48000, WavFormat::Float32, nullptr));
        model::Track track;
        track.id = model::Uuid::generate();
        track.name = "Audio";
        track.kind = "audio";
        track.clips.push_back(audioClip("c.wav", 0, 1));
        project = std::make_shared<const model::Project>(
            model::makeProject(model::Uuid::generate(), "Song", 120.0, {track}, model::JsonValue{}));
    }

    RenderJob job(std::int32_t kind, std::uint64_t generation, const std::string& output = {}) const {
        RenderJob j;
        j.kind = kind;
        j.snapshot = project;
        j.settings.samplesFolder = dir.path();
        j.outputPath = output;
        j.generation = generation;
        return j;
    }

    test::TempDir dir;
    std::shared_ptr<const model::Project> project;
};

std::shared_ptr<const model::Project> emptyProject() {
    return std::make_shared<const model::Project>(
        model::makeProject(model::Uuid::generate(), "Empty", 120.0, {}, model::JsonValue{}));
}

// ---------------------------------------------------------------------------------------
// Lifetime

TEST(RenderWorkerLifetime, AWorkerNeverGivenAJobStartsAndJoinsNothing) {
    LoggerWithSink log;
    {
        BackgroundRenderer worker(log.logger);
        EXPECT_TRUE(worker.takeResults().empty());
        worker.stop();
        worker.stop();
    }
    EXPECT_TRUE(log.sink->records().empty());
}

TEST(RenderWorkerLifetime, DestructionStillRendersAndWritesAWaitingExport) {
    LoggerWithSink log;
    ConstantSong song;
    RenderGate gate;
    const auto file = song.dir / "late.wav";
    {
        BackgroundRenderer worker(log.logger, gate.function());
        worker.submit(song.job(kPlaybackRebuild, 1));
        gate.waitForStarted(1);
        worker.submit(song.job(kWavExport, 0, file.string()));
        gate.open();
    }
    EXPECT_EQ(gate.started(), 2);
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(RenderWorkerLifetime, JobsSubmittedAfterStopAreDropped) {
    LoggerWithSink log;
    ConstantSong song;
    BackgroundRenderer worker(log.logger);
    worker.stop();
    worker.submit(song.job(kWavExport, 0, (song.dir / "never.wav").string()));
    EXPECT_TRUE(worker.takeResults().empty());
    EXPECT_FALSE(std::filesystem::exists(song.dir / "never.wav"));
}

// ---------------------------------------------------------------------------------------
// Playback rebuilds

TEST(RenderWorkerPlayback, AResultCarriesTheRenderedBackingTrack) {
    LoggerWithSink log;
    ConstantSong song;
    BackgroundRenderer worker(log.logger);
    worker.submit(song.job(kPlaybackRebuild, 7));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    const RenderResult& r = results[0];
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.error.empty());
    EXPECT_EQ(r.kind, kPlaybackRebuild);
    EXPECT_EQ(r.generation, 7u);
    EXPECT_DOUBLE_EQ(r.seconds, 0.5);
    EXPECT_TRUE(r.path.empty());
    ASSERT_NE(r.track, nullptr);
    EXPECT_EQ(r.track->channels, 2);
    EXPECT_EQ(r.track->frames, 24000);
    ASSERT_EQ(r.track->samples.size(), 48000u);
    EXPECT_EQ(r.track->samples[0], 0.25f);
}

TEST(RenderWorkerPlayback, AProjectOfNoFramesSucceedsWithoutATrack) {
    LoggerWithSink log;
    BackgroundRenderer worker(log.logger);
    RenderJob job;
    job.snapshot = emptyProject();
    worker.submit(std::move(job));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].ok);
    EXPECT_EQ(results[0].track, nullptr);
    EXPECT_EQ(results[0].seconds, 0.0);
}

TEST(RenderWorkerPlayback, ABurstOfRebuildsWhileOneRendersYieldsOneFurtherRender) {
    LoggerWithSink log;
    ConstantSong song;
    RenderGate gate;
    BackgroundRenderer worker(log.logger, gate.function());
    worker.submit(song.job(kPlaybackRebuild, 1));
    gate.waitForStarted(1);
    for (std::uint64_t g = 2; g <= 5; ++g) {
        worker.submit(song.job(kPlaybackRebuild, g));
    }
    gate.open();
    const auto results = waitForResults(worker, 2);
    worker.stop();
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].generation, 1u);
    EXPECT_EQ(results[1].generation, 5u);
    EXPECT_EQ(gate.started(), 2);
}

// ---------------------------------------------------------------------------------------
// WAV exports

TEST(RenderWorkerExport, AnExportIsWrittenAs16BitPcmAndReported) {
    LoggerWithSink log;
    ConstantSong song;
    BackgroundRenderer worker(log.logger);
    const auto file = song.dir / "song.wav";
    worker.submit(song.job(kWavExport, 3, file.string()));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].ok) << results[0].error;
    EXPECT_EQ(results[0].path, file.string());
    EXPECT_EQ(results[0].generation, 3u);
    EXPECT_DOUBLE_EQ(results[0].seconds, 0.5);
    EXPECT_EQ(results[0].track, nullptr);

    const std::string bytes = test::readFile(file);
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_EQ(bytes[34], 16);  // bits per sample
    AudioData back;
    std::string error;
    ASSERT_TRUE(loadWavFile(file, back, &error)) << error;
    EXPECT_EQ(back.frames, 24000);
    EXPECT_NEAR(back.samples[100], 0.25f, 1.0f / 32767.0f);
}

TEST(RenderWorkerExport, AnExportBehindARunningRenderFollowedByARebuildIsStillWritten) {
    LoggerWithSink log;
    ConstantSong song;
    RenderGate gate;
    BackgroundRenderer worker(log.logger, gate.function());
    const auto file = song.dir / "export.wav";
    worker.submit(song.job(kPlaybackRebuild, 1));
    gate.waitForStarted(1);
    worker.submit(song.job(kWavExport, 0, file.string()));
    worker.submit(song.job(kPlaybackRebuild, 2));  // an edit during play
    worker.submit(song.job(kPlaybackRebuild, 3));
    gate.open();
    const auto results = waitForResults(worker, 3);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(results[0].generation, 1u);
    EXPECT_EQ(results[1].kind, kWavExport);
    EXPECT_TRUE(results[1].ok) << results[1].error;
    EXPECT_EQ(results[1].path, file.string());
    EXPECT_EQ(results[2].kind, kPlaybackRebuild);
    EXPECT_EQ(results[2].generation, 3u);
    EXPECT_TRUE(std::filesystem::exists(file));
}

TEST(RenderWorkerExport, EveryExportIsWrittenInTheOrderSubmitted) {
    LoggerWithSink log;
    ConstantSong song;
    RenderGate gate;
    BackgroundRenderer worker(log.logger, gate.function());
    worker.submit(song.job(kPlaybackRebuild, 1));
    gate.waitForStarted(1);
    for (int i = 0; i < 3; ++i) {
        worker.submit(song.job(kWavExport, 0, (song.dir / ("e" + std::to_string(i) + ".wav")).string()));
    }
    gate.open();
    const auto results = waitForResults(worker, 4);
    ASSERT_EQ(results.size(), 4u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(results[static_cast<std::size_t>(i) + 1].ok);
        EXPECT_EQ(results[static_cast<std::size_t>(i) + 1].path, (song.dir / ("e" + std::to_string(i) + ".wav")).string());
    }
}

TEST(RenderWorkerExport, ASilentOrEmptyProjectHasNothingToHearAndWritesNoFile) {
    LoggerWithSink log;
    test::TempDir dir;
    BackgroundRenderer worker(log.logger);
    RenderJob empty;
    empty.kind = kWavExport;
    empty.snapshot = emptyProject();
    empty.outputPath = (dir / "empty.wav").string();
    worker.submit(std::move(empty));
    RenderJob silent;
    silent.kind = kWavExport;
    silent.snapshot = emptyProject();
    silent.settings.frames = 48000;
    silent.outputPath = (dir / "silent.wav").string();
    worker.submit(std::move(silent));

    const auto results = waitForResults(worker, 2);
    ASSERT_EQ(results.size(), 2u);
    for (const RenderResult& r : results) {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "nothing to hear yet");
        EXPECT_TRUE(r.path.empty());
    }
    EXPECT_DOUBLE_EQ(results[1].seconds, 1.0);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "silent.wav"));
    EXPECT_TRUE(log.sink->records().empty());
}

TEST(RenderWorkerExport, AFileThatCannotBeWrittenFailsAndIsLoggedAsAnError) {
    LoggerWithSink log;
    ConstantSong song;
    BackgroundRenderer worker(log.logger);
    test::writeFile(song.dir / "plain", "a file, not a folder");
    worker.submit(song.job(kWavExport, 0, (song.dir / "plain" / "song.wav").string()));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_FALSE(results[0].error.empty());
    EXPECT_TRUE(results[0].path.empty());
    const auto records = log.sink->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, core::LogLevel::ERROR);
    EXPECT_EQ(records[0].category, "project");
    EXPECT_EQ(records[0].message, results[0].error);
}

TEST(RenderWorkerExport, AnOutputPathOutsideAsciiIsWrittenUnderThatName) {
    LoggerWithSink log;
    ConstantSong song;
    BackgroundRenderer worker(log.logger);
    const std::string name = "Caf\xC3\xA9 \xE6\x9B\xB2.wav";
    const std::string path = song.dir.path().string() + "/" + name;
    worker.submit(song.job(kWavExport, 0, path));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].ok) << results[0].error;
    EXPECT_TRUE(std::filesystem::exists(song.dir.path() / std::filesystem::path(std::u8string(name.begin(), name.end()))));
}

// ---------------------------------------------------------------------------------------
// Failures

TEST(RenderWorkerFailure, AJobWithoutSnapshotFailsWithOneWarning) {
    LoggerWithSink log;
    BackgroundRenderer worker(log.logger);
    RenderJob job;
    job.generation = 4;
    worker.submit(std::move(job));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(results[0].error, "the project could not be rendered");
    EXPECT_EQ(results[0].generation, 4u);
    EXPECT_EQ(results[0].track, nullptr);
    const auto records = log.sink->records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, core::LogLevel::WARN);
    EXPECT_EQ(records[0].category, "project");
    EXPECT_EQ(records[0].message, "a background render failed: the project could not be rendered");
}

TEST(RenderWorkerFailure, TheRenderersErrorIsTheResultsError) {
    LoggerWithSink log;
    model::Track track;
    track.name = "Keys";
    track.instrumentPatch = "Theremin";
    track.clips.push_back(audioClip("", 0, 4));
    RenderJob job;
    job.snapshot = std::make_shared<const model::Project>(
        model::makeProject(model::Uuid::generate(), "Song", 120.0, {track}, model::JsonValue{}));
    BackgroundRenderer worker(log.logger);
    worker.submit(std::move(job));
    const auto results = waitForResults(worker, 1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(results[0].error, "track \"Keys\": unknown instrument patch \"Theremin\"");
    ASSERT_EQ(log.sink->records().size(), 1u);
    EXPECT_EQ(log.sink->records()[0].message, "a background render failed: " + results[0].error);
}

TEST(RenderWorkerFailure, ARenderThatThrowsEndsAsAFailedResultAndTheWorkerGoesOn) {
    LoggerWithSink log;
    int calls = 0;
    BackgroundRenderer worker(log.logger, [&calls](const model::Project& project, const RenderSettings& settings,
                                                   RenderOutput* out, std::string* error) -> bool {
        ++calls;
        if (calls == 1) {
            throw std::bad_alloc();
        }
        if (calls == 2) {
            throw std::runtime_error("no track with that id");
        }
        if (calls == 3) {
            throw 42;
        }
        return renderProject(project, settings, out, error);
    });
    for (std::uint64_t g = 1; g <= 4; ++g) {
        RenderJob job;
        job.kind = g == 4 ? kPlaybackRebuild : kWavExport;  // exports are never replaced
        job.snapshot = emptyProject();
        job.generation = g;
        worker.submit(std::move(job));
    }
    const auto results = waitForResults(worker, 4);
    ASSERT_EQ(results.size(), 4u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(results[0].error, "there is not enough memory to render the project");
    EXPECT_EQ(results[0].kind, kWavExport);
    EXPECT_EQ(results[0].generation, 1u);
    EXPECT_EQ(results[1].error, "the project could not be rendered: no track with that id");
    EXPECT_EQ(results[2].error, "the project could not be rendered");
    EXPECT_TRUE(results[3].ok);
    const auto records = log.sink->records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].level, core::LogLevel::WARN);
    EXPECT_EQ(records[0].message, "a background render failed: there is not enough memory to render the project");
}

}  // namespace
}  // namespace ostrel::engine
