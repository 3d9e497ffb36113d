#include "playback/render/BackgroundRenderer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <stop_token>
#include <thread>

#include "core/log/LogSink.h"
#include "playback/render/StemMixer.h"
#include "playback/SongHarness.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace harness;

struct CapturingSink : core::LogSink {
    void write(const core::LogRecord& record) override {
        std::lock_guard lock(mutex);
        records.push_back(record.message);
        levels.push_back(record.level);
    }
    std::vector<std::string> messages() {
        std::lock_guard lock(mutex);
        return records;
    }
    std::vector<core::LogLevel> levelsLogged() {
        std::lock_guard lock(mutex);
        return levels;
    }
    std::mutex mutex;
    std::vector<std::string> records;
    std::vector<core::LogLevel> levels;
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
                    .generation = generation,
                    .track = {},
                    .playFrom = 0,
                    .takeOver = TakeOver::AtOnce,
                    .playhead = {},
                    .loop = {}};
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
    EXPECT_EQ(sink->messages(),
              std::vector<std::string>{"the song was not exported to " + (dir / "muted.wav").string() +
                                       ": nothing to hear yet"});
    EXPECT_EQ(sink->levelsLogged(), std::vector<core::LogLevel>{core::LogLevel::ERROR});
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
    // The three exports' failures are errors that name the file; the playback's a warning.
    const std::string exportFailed = "the song was not exported to " + (dir / "x.wav").string() + ": ";
    const auto levels = sink->levelsLogged();
    for (std::size_t i = 0; i < errors.size(); ++i) {
        EXPECT_FALSE(done[i].ok);
        EXPECT_EQ(done[i].error, errors[i]);
        EXPECT_EQ(sink->messages().at(i), (i < 3 ? exportFailed : "a background render failed: ") + errors[i]);
        EXPECT_EQ(levels.at(i), i < 3 ? core::LogLevel::ERROR : core::LogLevel::WARN) << i;
    }
}

// ---- Playback into a track ------------------------------------------------------------

// A render for playback of one-second pieces (48000 frames, a song of ten) that waits for
// the test before each piece and stops when asked.
struct PieceGate {
    static constexpr std::int64_t kPiece = 48000;
    BackgroundRenderer::PlaybackRenderFunction function() {
        return [this](const model::Project&, const RenderSettings&, const PlaybackRender& render, BackingTrack& track,
                      std::vector<std::string>*, std::string* error) {
            track.begin(10 * kPiece, 1, render.from, {48000.0, 120.0});  // a piece is two beats
            render.started({"a warning"});
            for (std::int64_t end = render.from + kPiece; end <= 10 * kPiece; end += kPiece) {
                {
                    const std::stop_callback wake(render.stop, [this] { open(0); });
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return allowed > 0 || render.stop.stop_requested(); });
                    if (render.stop.stop_requested()) {
                        *error = "stopped";
                        return false;
                    }
                    --allowed;
                }
                if (failAt == end) {
                    throw std::bad_alloc();
                }
                const std::span<float> frames = track.unpublished(end - kPiece, kPiece);
                std::fill(frames.begin(), frames.end(), 0.5f);
                track.publish(end);
                if (measured && render.progress) {
                    render.progress(end);
                }
            }
            return true;
        };
    }
    // Lets `pieces` more pieces be rendered.
    void open(int pieces) {
        std::lock_guard lock(mutex);
        allowed += pieces;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
    int allowed = 0;
    std::int64_t failAt = -1;
    bool measured = false;  // the worker hears of each piece, and so learns how long renders take
};

RenderJob playbackJob(std::uint64_t generation, std::int64_t from = 0) {
    RenderJob job;
    job.snapshot = std::make_shared<const model::Project>(song({}));
    job.generation = generation;
    job.track = std::make_shared<BackingTrack>();
    job.playFrom = from;
    return job;
}

void waitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a guard only
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST_F(RenderWorkerTest, APlaybackRenderReportsOnceStartedAndFillsItsTrackInTimeOrder) {
    BackgroundRenderer worker(logger);
    RenderJob job = playbackJob(7, 30000);
    const std::shared_ptr<BackingTrack> track = job.track;
    job.snapshot = std::make_shared<const model::Project>(
        song({audioTrack("Audio", {audioClip("c.wav", 0, 4), audioClip("gone.wav", 1, 1)})}));
    job.settings.samplesFolder = dir.path();
    worker.submit(std::move(job));
    const auto done = results(worker, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].ok);
    EXPECT_EQ(done[0].generation, 7u);
    EXPECT_EQ(done[0].track, track);
    ASSERT_EQ(done[0].warnings.size(), 1u);
    EXPECT_NE(done[0].warnings[0].find("gone.wav"), std::string::npos);
    EXPECT_EQ(done[0].seconds, 2.0) << "the song's length";
    waitFor([&] { return track->view().end == track->view().frames; });
    EXPECT_TRUE(worker.takeResults().empty()) << "one result a job";
    worker.stop();
    EXPECT_EQ(track->view().from, 30000 / mixPieceFrames(512) * mixPieceFrames(512));
    EXPECT_TRUE(track->view().ready(track->view().from, track->view().frames));
    ASSERT_FALSE(sink->messages().empty());
    EXPECT_EQ(sink->messages().back().rfind("rendered the song for playback (2.0 s of song in ", 0), 0u)
        << sink->messages().back();
}

// An edit while playing, at a playhead the test moves, on a 120 BPM song.
RenderJob editJob(std::uint64_t generation, const std::atomic<double>& playhead, Transport::LoopRange loop = {}) {
    RenderJob job = playbackJob(generation);
    job.takeOver = TakeOver::Covered;
    job.playhead = [&playhead] { return PlayheadReading{playhead.load(), 120.0}; };
    job.loop = loop;
    return job;
}

// Edits while playing: the render the engine plays (or is about to) goes on until its track
// is final from the playhead to a little way past it, so the song never runs out before the
// newer render is final where it starts, which is at the playhead (nothing measured yet
// says how long a render takes) and never past where the older one ended. A new play stops
// it at once; a cancel or the worker's stop ends it at once, without a result.
TEST_F(RenderWorkerTest, AnEditsRenderWaitsUntilTheOneRenderingCoversThePlayhead) {
    PieceGate gate;
    BackgroundRenderer worker(logger, {}, gate.function());
    std::atomic<double> playhead{1.5};
    RenderJob first = playbackJob(1);
    const std::shared_ptr<BackingTrack> older = first.track;
    worker.submit(std::move(first));
    ASSERT_EQ(results(worker, 1).size(), 1u);
    gate.open(1);
    waitFor([&] { return older->view().end == PieceGate::kPiece; });  // final to beat 2

    RenderJob second = editJob(2, playhead);
    const std::shared_ptr<BackingTrack> newer = second.track;
    worker.submit(std::move(second));
    (void)worker.takeResults();
    EXPECT_FALSE(newer->view().begun) << "final only half a second past the playhead: the older one goes on";
    gate.open(1);
    waitFor([&] { return older->view().end == 2 * PieceGate::kPiece; });  // to beat 4
    const auto done = results(worker, 1);  // taking results looks again: that is enough
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].generation, 2u);
    EXPECT_EQ(done[0].playFrom, 36000) << "at the playhead, beat 1.5";
    EXPECT_EQ(older->view().end, 2 * PieceGate::kPiece) << "stopped";

    // Behind: the engine cannot be playing the second before the playhead reaches its start.
    playhead = 1.0;
    RenderJob thirdJob = editJob(3, playhead);
    const std::shared_ptr<BackingTrack> third = thirdJob.track;
    worker.submit(std::move(thirdJob));
    gate.open(1);
    waitFor([&] { return newer->view().end == 36000 + PieceGate::kPiece; });  // to beat 3.5
    (void)worker.takeResults();
    EXPECT_FALSE(third->view().begun);
    playhead = 2.0;
    ASSERT_EQ(results(worker, 1).size(), 1u);
    EXPECT_EQ(third->view().from, 48000) << "from the playhead";

    // A new play.
    worker.submit(playbackJob(4, 9 * PieceGate::kPiece));
    ASSERT_EQ(results(worker, 1).size(), 1u);
    EXPECT_EQ(third->view().end, third->view().from) << "stopped at once";

    worker.cancelPlayback();
    gate.open(5);
    // Waiting for the gate, a render for playback would hold the worker's end forever.
    worker.submit(playbackJob(5, 9 * PieceGate::kPiece));
    worker.stop();
}

// With the loop on and the playhead before its end, the loop comes round again: an edit's
// render starts from the loop's start, at once.
TEST_F(RenderWorkerTest, AnEditsRenderInALoopStartsFromTheLoopsStart) {
    PieceGate gate;
    BackgroundRenderer worker(logger, {}, gate.function());
    std::atomic<double> playhead{3.0};
    worker.submit(playbackJob(1));
    ASSERT_EQ(results(worker, 1).size(), 1u);
    worker.submit(editJob(2, playhead, {.enabled = true, .startBeats = 1.0, .endBeats = 8.0}));
    const auto done = results(worker, 1);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].playFrom, 24000);
    gate.open(20);
    worker.stop();
}

// The engine plays the running render's track and has little of it left: stopping it now
// would cost a hold as long as a render takes to be final where it starts (here at least
// the two seconds the first one took). The edit's render waits about as long as that before
// it stops the running one, so the change is heard after a wait and a hold of like length.
TEST_F(RenderWorkerTest, AnEditWaitsWhileHeardAsLongAsTheHoldItsRenderWouldCost) {
    PieceGate gate;
    gate.measured = true;
    BackgroundRenderer worker(logger, {}, gate.function());
    RenderJob first = playbackJob(1, PieceGate::kPiece);  // from beat 2, so its lead is measured
    const std::shared_ptr<BackingTrack> older = first.track;
    worker.submit(std::move(first));
    ASSERT_EQ(results(worker, 1).size(), 1u);
    constexpr double kLead = 2.0;
    std::this_thread::sleep_for(std::chrono::duration<double>(kLead));
    gate.open(1);
    waitFor([&] { return older->view().end == 2 * PieceGate::kPiece; });  // final to beat 4

    RenderJob edit = playbackJob(2);
    edit.takeOver = TakeOver::Covered;
    edit.playhead = [&older] { return PlayheadReading{3.9, 120.0, older.get(), false}; };  // 0.05 s left
    const auto asked = std::chrono::steady_clock::now();
    worker.submit(std::move(edit));
    EXPECT_TRUE(worker.takeResults().empty()) << "heard, the running render goes on for now";
    ASSERT_EQ(results(worker, 1).size(), 1u) << "then the edit's render starts";
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - asked).count();
    EXPECT_GE(waited, kLead - 0.05 - 0.01);
    EXPECT_EQ(older->view().end, 2 * PieceGate::kPiece);
    gate.open(20);
    worker.stop();
}

TEST_F(RenderWorkerTest, AFailureAfterThePlaybackRenderStartedAbandonsItsTrack) {
    PieceGate gate;
    gate.failAt = 2 * PieceGate::kPiece;
    gate.open(10);
    BackgroundRenderer worker(logger, {}, gate.function());
    RenderJob job = playbackJob(4);
    const std::shared_ptr<BackingTrack> track = job.track;
    worker.submit(std::move(job));
    waitFor([&] { return track->view().abandoned; });
    worker.stop();
    EXPECT_EQ(track->view().end, PieceGate::kPiece);
    EXPECT_TRUE(track->view().ready(0, 10 * PieceGate::kPiece)) << "the engine waits no longer";
    EXPECT_EQ(sink->messages(),
              std::vector<std::string>{"a background render failed: there is not enough memory to render the project"});
}

}  // namespace
}  // namespace ostrel::engine
