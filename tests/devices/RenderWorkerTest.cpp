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

#include "DeviceHarness.h"
#include "core/LogSink.h"
#include "engine/WavReader.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::dev;

class CapturingSink : public core::LogSink {
public:
    void write(const core::LogRecord& record) override {
        std::lock_guard lock(mutex_);
        records_.push_back(record.message);
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex_);
        return records_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> records_;
};

// Holds every render at its start until opened; counts the renders that began.
class RenderGate {
public:
    BackgroundRenderer::RenderFunction function() {
        return [this](const model::Project& project, const RenderSettings& settings, RenderOutput* out, std::string* error) {
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

// A worker over one audio track playing a constant 0.25 for one beat (24000 frames).
class RenderWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger.addSink(sink);
        ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 2, 48000));
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

    // Collects results until `count` have come (or a generous deadline passes).
    std::vector<RenderResult> results(BackgroundRenderer& worker, std::size_t count) {
        std::vector<RenderResult> all;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (all.size() < count && std::chrono::steady_clock::now() < deadline) {
            for (RenderResult& r : worker.takeResults()) all.push_back(std::move(r));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return all;
    }

    core::Logger logger;
    std::shared_ptr<CapturingSink> sink = std::make_shared<CapturingSink>();
    test::TempDir dir;
    std::shared_ptr<const model::Project> project =
        std::make_shared<const model::Project>(song({audioTrack("Audio", {audioClip("c.wav", 0, 1)})}));
    std::shared_ptr<const model::Project> empty = std::make_shared<const model::Project>(song({}));
    RenderGate gate;
};

TEST_F(RenderWorkerTest, APlaybackResultCarriesTheBackingTrackAndAnExportIsWrittenAs16BitPcm) {
    BackgroundRenderer worker(logger);
    const auto file = dir / "song.wav";
    worker.submit(job(kPlaybackRebuild, 7));
    worker.submit(job(kWavExport, 3, file.string()));
    const auto done = results(worker, 2);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[0].ok);
    EXPECT_EQ(done[0].generation, 7u);
    EXPECT_DOUBLE_EQ(done[0].seconds, 0.5);
    ASSERT_NE(done[0].track, nullptr);
    EXPECT_EQ(done[0].track->frames, 24000);
    EXPECT_EQ(done[0].track->samples[0], 0.25f);
    EXPECT_TRUE(done[1].ok) << done[1].error;
    EXPECT_EQ(done[1].path, file.string());
    EXPECT_EQ(done[1].track, nullptr);
    EXPECT_EQ(test::readFile(file).at(34), 16) << "bits per sample";
    AudioData back;
    ASSERT_TRUE(loadWavFile(file, back, nullptr));
    EXPECT_EQ(back.frames, 24000);
    EXPECT_NEAR(back.samples[100], 0.25f, 1.0f / 32767.0f);
}

TEST_F(RenderWorkerTest, ABurstOfRebuildsWhileOneRendersYieldsOneFurtherRender) {
    BackgroundRenderer worker(logger, gate.function());
    worker.submit(job(kPlaybackRebuild, 1));
    gate.waitForStarted(1);
    for (std::uint64_t g = 2; g <= 5; ++g) worker.submit(job(kPlaybackRebuild, g));
    gate.open();
    const auto done = results(worker, 2);
    worker.stop();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].generation, 1u);
    EXPECT_EQ(done[1].generation, 5u);
    EXPECT_EQ(gate.started(), 2);
}

// Regression: a newer submit replaced a waiting export, so an edit during play lost it.
TEST_F(RenderWorkerTest, ExportsBehindARunningRenderFollowedByRebuildsAreAllWrittenInOrder) {
    BackgroundRenderer worker(logger, gate.function());
    worker.submit(job(kPlaybackRebuild, 1));
    gate.waitForStarted(1);
    for (const char* name : {"a.wav", "b.wav"}) worker.submit(job(kWavExport, 0, (dir / name).string()));
    worker.submit(job(kPlaybackRebuild, 2));  // edits during play
    worker.submit(job(kPlaybackRebuild, 3));
    gate.open();
    const auto done = results(worker, 4);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[1].path, (dir / "a.wav").string());
    EXPECT_EQ(done[2].path, (dir / "b.wav").string());
    EXPECT_EQ(done[3].generation, 3u);
    for (const char* name : {"a.wav", "b.wav"}) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

// Regression: the destructor joined a thread that never started.
TEST_F(RenderWorkerTest, DestructionStillWritesAWaitingExportAndAWorkerNeverGivenAJobJoinsNothing) {
    {
        BackgroundRenderer idle(logger);
        idle.stop();
        idle.stop();
    }
    {
        BackgroundRenderer worker(logger, gate.function());
        worker.submit(job(kPlaybackRebuild, 1));
        gate.waitForStarted(1);
        worker.submit(job(kWavExport, 0, (dir / "late.wav").string()));
        gate.open();
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "late.wav"));
    BackgroundRenderer stopped(logger);
    stopped.stop();
    stopped.submit(job(kWavExport, 0, (dir / "never.wav").string()));
    EXPECT_TRUE(stopped.takeResults().empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "never.wav"));
    EXPECT_TRUE(sink->messages().empty());
}

TEST_F(RenderWorkerTest, AMutedOrEmptySongHasNothingToHearYetAndWritesNoFile) {
    BackgroundRenderer worker(logger);
    model::Track muted = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    muted.muted = true;
    RenderJob silent = job(kWavExport, 0, (dir / "muted.wav").string());
    silent.snapshot = std::make_shared<const model::Project>(song({muted}));
    worker.submit(std::move(silent));
    RenderJob none = job(kWavExport, 0, (dir / "empty.wav").string());
    none.snapshot = empty;
    worker.submit(std::move(none));
    for (const RenderResult& r : results(worker, 2)) {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "nothing to hear yet");
        EXPECT_TRUE(r.path.empty());
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "muted.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.wav"));
    EXPECT_TRUE(sink->messages().empty());
}

// Regression: an exception inside a render escaped the worker thread.
TEST_F(RenderWorkerTest, EveryFailureEndsAsAFailedResultThatIsLoggedAndTheWorkerGoesOn) {
    int calls = 0;
    BackgroundRenderer worker(logger, [&calls](const model::Project& project, const RenderSettings& settings,
                                               RenderOutput* out, std::string* error) -> bool {
        switch (++calls) {
            case 1: throw std::bad_alloc();
            case 2: throw std::runtime_error("no track with that id");
            case 3: throw 42;
            default: return renderProject(project, settings, out, error);
        }
    });
    for (std::uint64_t g = 1; g <= 3; ++g) worker.submit(job(kWavExport, g, (dir / "x.wav").string()));
    RenderJob noSnapshot;
    noSnapshot.kind = kWavExport;
    worker.submit(std::move(noSnapshot));
    test::writeFile(dir / "plain", "a file, not a folder");
    worker.submit(job(kWavExport, 0, (dir / "plain" / "song.wav").string()));
    RenderJob theremin = job(kPlaybackRebuild, 9);
    theremin.snapshot = std::make_shared<const model::Project>(song({instrumentTrack("Keys", {}, "Theremin")}));
    worker.submit(std::move(theremin));
    const auto done = results(worker, 6);
    ASSERT_EQ(done.size(), 6u);
    const std::vector<std::string> errors = {"there is not enough memory to render the project",
                                             "the project could not be rendered: no track with that id",
                                             "the project could not be rendered", "the project could not be rendered"};
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_FALSE(done[i].ok);
        EXPECT_EQ(done[i].error, errors[i]);
    }
    EXPECT_EQ(done[0].generation, 1u);
    EXPECT_FALSE(done[4].ok) << "a file that cannot be written";
    EXPECT_EQ(done[5].error, "track \"Keys\": unknown instrument patch \"Theremin\"");
    const std::vector<std::string> logged = sink->messages();
    ASSERT_EQ(logged.size(), 6u);
    EXPECT_EQ(logged[0], "a background render failed: " + errors[0]);
    EXPECT_EQ(logged[4], done[4].error) << "a write failure is logged as it is";
}

}  // namespace
}  // namespace ostrel::engine
