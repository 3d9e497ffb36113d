#include "playback/render/BackgroundRenderer.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "core/log/LogSink.h"
#include "playback/SongHarness.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace harness;

struct CapturingSink : core::LogSink {
    void write(const core::LogRecord& record) override {
        std::lock_guard lock(mutex);
        records.push_back(record.message);
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex);
        return records;
    }
    std::mutex mutex;
    std::vector<std::string> records;
};

// Holds every render at its start until opened; counts the renders that began.
struct RenderGate {
    BackgroundRenderer::RenderFunction function() {
        return [this](const model::Project& project, const RenderSettings& settings, RenderOutput* out, std::string* error) {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            changed.wait(lock, [this] { return opened; });
            lock.unlock();
            return renderProject(project, settings, out, error);
        };
    }
    void waitForStarted(int count) {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(30), [&] { return started >= count; }));
    }
    void open() {
        std::lock_guard lock(mutex);
        opened = true;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;  // read only once the worker has stopped
    bool opened = false;
};

// A worker over one audio track playing a constant 0.25 for one beat (24000 frames).
class RenderWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        logger.addSink(sink);
        ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 2, 48000));
    }

    // An export when `output` names a file in the folder.
    RenderJob job(std::uint64_t generation, const char* output = nullptr, std::optional<model::Project> of = {}) const {
        RenderJob j{.kind = output ? RenderJobKind::WavExport : RenderJobKind::PlaybackRebuild,
                    .snapshot = std::make_shared<const model::Project>(of.value_or(project)),
                    .settings = {},
                    .outputPath = output ? (dir / output).string() : "",
                    .generation = generation};
        j.settings.samplesFolder = dir.path();
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
    model::Project project = song({audioTrack("Audio", {audioClip("c.wav", 0, 1)})});
    RenderGate gate;
};

TEST_F(RenderWorkerTest, ABurstOfRebuildsWhileOneRendersYieldsOneFurtherRender) {
    BackgroundRenderer worker(logger, gate.function());
    worker.submit(job(1));
    gate.waitForStarted(1);
    for (std::uint64_t g = 2; g <= 5; ++g) worker.submit(job(g));
    gate.open();
    const auto done = results(worker, 2);
    worker.stop();
    ASSERT_EQ(done.size(), 2u);
    EXPECT_TRUE(done[0].generation == 1u && done[1].generation == 5u && done[1].ok);
    ASSERT_NE(done[1].track, nullptr);
    const BackingTrack::View track = done[1].track->view();
    ASSERT_TRUE(track.complete());
    EXPECT_EQ(std::vector<float>(track.samples, track.samples + track.frames * track.channels),
              std::vector<float>(24000 * 2, 0.25f))
        << "the backing track";
    EXPECT_EQ(gate.started, 2);
}

// Regression: a newer submit replaced a waiting export, so an edit during play lost it.
TEST_F(RenderWorkerTest, ExportsBehindARunningRenderFollowedByRebuildsAreAllWrittenInOrder) {
    BackgroundRenderer worker(logger, gate.function());
    worker.submit(job(1));
    gate.waitForStarted(1);
    for (const char* name : {"a.wav", "b.wav"}) worker.submit(job(0, name));
    for (std::uint64_t g : {2, 3}) worker.submit(job(g));  // edits during play
    gate.open();
    const auto done = results(worker, 4);
    ASSERT_EQ(done.size(), 4u);
    EXPECT_EQ(done[1].path, (dir / "a.wav").string());
    EXPECT_EQ(done[2].path, (dir / "b.wav").string());
    EXPECT_EQ(done[3].generation, 3u);
    for (const char* name : {"a.wav", "b.wav"}) {
        const std::string bytes = test::readFile(dir / name);
        EXPECT_EQ(bytes.size(), 44u + 24000 * 2 * 2) << "16-bit PCM, " << name;
        EXPECT_EQ(bytes.at(34), 16) << "bits per sample";
    }
}

// Regression: the destructor joined a thread that never started.
TEST_F(RenderWorkerTest, AWorkerNeverGivenAJobJoinsNothingAndAMutedSongHasNothingToHearYet) {
    { BackgroundRenderer idle(logger); }
    BackgroundRenderer worker(logger);
    model::Track muted = project.tracks()[0];
    muted.muted = true;
    worker.submit(job(0, "muted.wav", song({muted})));
    const auto done = results(worker, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_FALSE(done[0].ok);
    EXPECT_EQ(done[0].error, "nothing to hear yet");
    EXPECT_FALSE(std::filesystem::exists(dir / "muted.wav"));
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
    for (std::uint64_t g = 1; g <= 3; ++g) worker.submit(job(g, "x.wav"));
    worker.submit(job(9, nullptr, song({instrumentTrack("Keys", {}, "Theremin")})));
    const auto done = results(worker, 4);
    ASSERT_EQ(done.size(), 4u);
    const std::vector<std::string> errors = {"there is not enough memory to render the project",
                                             "the project could not be rendered: no track with that id",
                                             "the project could not be rendered",
                                             "track \"Keys\": unknown instrument patch \"Theremin\""};
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_FALSE(done[i].ok);
        EXPECT_EQ(done[i].error, errors[i]);
        EXPECT_EQ(sink->messages().at(i), "a background render failed: " + errors[i]);
    }
}

}  // namespace
}  // namespace ostrel::engine
