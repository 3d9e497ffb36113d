#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "app/api/MainLoopHandOffs.h"
#include "audiofile/WavReader.h"
#include "playback/AudioEngine.h"
#include "playback/render/SongRenderer.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <span>
#include <stop_token>
#include <thread>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

constexpr std::uint32_t kFrames = 512;

model::Project songWithKeys(const std::string& name, const std::string& instrument = "FM E-Piano") {
    model::Track keys;
    keys.id = model::Uuid::generate();
    keys.name = "Keys";
    keys.instrumentPatch = instrument;
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.lengthBeats = 2.0;
    for (int i = 0; i < 4; ++i) {
        model::Note note;
        note.id = model::Uuid::generate();
        note.pitch = 60 + i * 4;
        note.startBeats = 0.01 + i * 0.5;  // a tempo change moves the first onset within one period
        note.lengthBeats = 0.5;
        clip.notes.push_back(note);
    }
    keys.clips.push_back(clip);
    return model::makeProject(model::Uuid::generate(), name, 120.0, {keys}, model::JsonValue{});
}

// The first frames the song renders to at the engine's format (48 kHz stereo by default).
std::vector<float> expectedStart(const ProjectRig& rig, const model::Project& song) {
    engine::RenderSettings settings;
    settings.samplesFolder = rig.samples();
    engine::RenderOutput output;
    std::string error;
    EXPECT_TRUE(engine::renderProject(song, settings, &output, &error)) << error;
    output.audio.samples.resize(std::size_t{kFrames} * 2, 0.0f);
    return output.audio.samples;
}

bool silent(const std::vector<float>& samples) {
    return std::all_of(samples.begin(), samples.end(), [](float s) { return s == 0.0f; });
}

// Renders in the background as a constant level that names the call (1/8 for the first,
// 2/8 for the second...), and holds each render until the test lets it go. Renders for
// playback fill their track (4096 frames) and then report their start; a render stopped
// while held gives up.
struct HeldRender {
    ProjectControllerHooks hooks() {
        return {.render = [this](const model::Project&, const engine::RenderSettings& settings,
                                 engine::RenderOutput* out, std::string* error) {
                    const int call = hold();
                    if (failing) {
                        *error = "the render broke";
                        return false;
                    }
                    out->audio.channels = settings.channels;
                    out->audio.sampleRate = settings.sampleRate;
                    out->audio.frames = 4096;
                    out->audio.samples.assign(std::size_t{4096} * static_cast<std::size_t>(settings.channels),
                                              level(call));
                    return true;
                },
                .playback = [this](const model::Project&, const engine::RenderSettings& settings,
                                   const engine::PlaybackRender& render, engine::BackingTrack& track,
                                   std::vector<std::string>*, std::string* error) {
                    const int call = hold(render.stop);
                    if (render.stop.stop_requested()) {
                        *error = "stopped";
                        return false;
                    }
                    if (failing) {
                        *error = "the render broke";
                        return false;
                    }
                    ++playbackCalls;
                    track.begin(4096, settings.channels, 0);
                    const std::span<float> frames = track.unpublished(0, 4096);
                    std::fill(frames.begin(), frames.end(), level(call));
                    track.publish(4096);
                    render.started(warnings);
                    return true;
                },
                .clock = {}};
    }
    static float level(int call) { return static_cast<float>(call) / 8.0f; }
    // Counts the call and waits until the test lets it go (or it is stopped).
    int hold(std::stop_token stop = {}) {
        const std::stop_callback wake(stop, [this] {
            std::lock_guard woken(mutex);
            changed.notify_all();
        });
        std::unique_lock lock(mutex);
        const int call = ++calls;
        changed.notify_all();
        changed.wait(lock, [&] { return released >= call || stop.stop_requested(); });
        return call;
    }
    // Lets every render up to the n-th finish.
    void release(int n) {
        std::lock_guard lock(mutex);
        released = n;
        changed.notify_all();
    }
    void waitForCall(int n) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return calls >= n; });
    }
    int callCount() {
        std::lock_guard lock(mutex);
        return calls;
    }

    std::mutex mutex;
    std::condition_variable changed;
    int calls = 0;
    int released = 1 << 30;  // nothing held unless a test says so
    std::atomic<bool> failing{false};
    std::atomic<int> playbackCalls{0};  // playback renders that filled their track
    std::vector<std::string> warnings;  // what playback renders report
};

// Renders for playback as slowly as the test lets them: a song of 100 s at the document's
// tempo, each render at a constant level that names it (1/8 for the first...), making final
// only as many frames as the test has allowed so far (all renders share the allowance).
struct GatedRender {
    ProjectControllerHooks hooks() {
        return {.render = {},
                .playback = [this](const model::Project& song, const engine::RenderSettings& settings,
                                   const engine::PlaybackRender& render, engine::BackingTrack& track,
                                   std::vector<std::string>*, std::string* error) {
                    const std::stop_callback wake(render.stop, [this] {
                        std::lock_guard woken(mutex);
                        changed.notify_all();
                    });
                    const auto frames = static_cast<std::int64_t>(100.0 * settings.sampleRate);
                    track.begin(frames, settings.channels, render.from,
                                {settings.sampleRate, engine::renderTempo(song)});
                    float level = 0.0f;
                    {
                        std::lock_guard lock(mutex);
                        froms.push_back(track.view().from);
                        level = static_cast<float>(froms.size()) / 8.0f;
                    }
                    render.started({});
                    std::unique_lock lock(mutex);
                    ++active;
                    for (std::int64_t end = track.view().from; end < frames;) {
                        changed.wait(lock, [&] { return allowed > 0 || render.stop.stop_requested(); });
                        if (render.stop.stop_requested()) {
                            --active;
                            changed.notify_all();
                            *error = "stopped";
                            return false;
                        }
                        const std::int64_t count = std::min(allowed, frames - end);
                        allowed -= count;
                        const std::span<float> samples = track.unpublished(end, count);
                        std::fill(samples.begin(), samples.end(), level);
                        end += count;
                        track.publish(end);
                        changed.notify_all();
                    }
                    --active;
                    changed.notify_all();
                    return true;
                },
                .clock = {}};
    }
    void allow(std::int64_t frames) {
        std::lock_guard lock(mutex);
        allowed += frames;
        changed.notify_all();
    }
    // Until the render that runs has made final what it was allowed (none may run).
    void settle() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return allowed == 0 || active == 0; });
    }
    std::vector<std::int64_t> starts() {
        std::lock_guard lock(mutex);
        return froms;
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::int64_t allowed = 0;
    int active = 0;  // renders making frames final
    std::vector<std::int64_t> froms;  // where each render began making frames final
};

// ---- Play renders at once -----------------------------------------------------------------

TEST(ProjectPlayback, PlaySwapsInTheRenderedSong) {
    ProjectRig rig;
    rig.writeProject("keys.ostproj", songWithKeys("Keys"));
    ASSERT_TRUE(rig.project.openProject("keys.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_TRUE(rig.transport.playing());
    const std::vector<float> heard = rig.pull(kFrames);
    EXPECT_FALSE(silent(heard));
    EXPECT_EQ(heard, expectedStart(rig, rig.project.document()));
    EXPECT_EQ(rig.project.message(), "Opened keys.ostproj") << "a clean render shows no message";
}

TEST(ProjectPlayback, PlayOnAnEmptySongInstallsNothingAndSaysNothing) {
    ProjectRig rig;
    rig.transport.setMetronome(false);
    QSignalSpy messages(&rig.project, &ProjectController::messageChanged);
    rig.transport.play();
    EXPECT_TRUE(silent(rig.pull(kFrames)));
    EXPECT_EQ(messages.count(), 0);
}

TEST(ProjectPlayback, AMissingAudioFileIsNamedAndTheRestStillPlays) {
    ProjectRig rig;
    model::Project song = songWithKeys("Mixed");
    model::Track loops;
    loops.id = model::Uuid::generate();
    loops.kind = model::kAudioTrackKind;
    model::Clip gone;
    gone.id = model::Uuid::generate();
    gone.audioSource = "gone.wav";
    loops.clips.push_back(gone);
    std::vector<model::Track> tracks = song.tracks();
    tracks.push_back(loops);
    rig.writeProject("mixed.ostproj",
                     model::makeProject(song.id(), song.name(), 120.0, std::move(tracks), model::JsonValue{}));
    ASSERT_TRUE(rig.project.openProject("mixed.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    EXPECT_TRUE(rig.project.message().startsWith("Some audio could not be played: ")) << rig.project.message().toStdString();
    EXPECT_TRUE(rig.project.message().contains("gone.wav"));
    EXPECT_TRUE(rig.project.problem());
    EXPECT_EQ(rig.pull(kFrames), expectedStart(rig, rig.project.document()));
}

TEST(ProjectPlayback, WithoutAnApplicationAnEditWhilePlayingRendersAtOnce) {
    ProjectRig rig;
    rig.writeProject("keys.ostproj", songWithKeys("Keys"));
    ASSERT_TRUE(rig.project.openProject("keys.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    const std::vector<float> before = rig.pull(kFrames);
    rig.project.setTempo(200.0);
    rig.transport.stop();
    rig.transport.play();  // back to the start of the song
    rig.project.setTempo(240.0);
    const std::vector<float> after = rig.pull(kFrames);
    EXPECT_EQ(after, expectedStart(rig, rig.project.document()));
    EXPECT_NE(after, before);
}

// Play renders the song again only when a fresh render could differ from the last one.
TEST(ProjectPlayback, PlayingAgainAfterAnEditUndoOrRefreshHearsTheSongAsItIsNow) {
    ProjectRig rig;
    rig.writeProject("keys.ostproj", songWithKeys("Keys"));
    ASSERT_TRUE(rig.project.openProject("keys.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    const std::vector<float> first = rig.pull(kFrames);
    rig.transport.stop();
    rig.transport.play();
    EXPECT_EQ(rig.pull(kFrames), first);
    rig.transport.stop();

    rig.project.setTempo(230.0);
    rig.transport.play();
    const std::vector<float> faster = rig.pull(kFrames);
    EXPECT_EQ(faster, expectedStart(rig, rig.project.document()));
    EXPECT_NE(faster, first);
    rig.transport.stop();

    rig.project.undo();
    rig.transport.play();
    EXPECT_EQ(rig.pull(kFrames), first);
    rig.transport.stop();

    rig.project.refreshSamples();
    rig.transport.play();
    EXPECT_EQ(rig.pull(kFrames), first);
}

TEST(ProjectPlayback, ARenderWarningIsShownAtEveryPlay) {
    ProjectRig rig;
    model::Project song = songWithKeys("Warned");
    std::vector<model::Track> tracks = song.tracks();
    model::Device delay;
    delay.id = model::Uuid::generate();
    delay.typeId = "ostrel.delay";
    delay.parameters = {{"no_such_knob", 1.0}};
    tracks[0].devices.push_back(delay);
    rig.writeProject("warned.ostproj",
                     model::makeProject(song.id(), song.name(), 120.0, std::move(tracks), model::JsonValue{}));
    ASSERT_TRUE(rig.project.openProject("warned.ostproj"));
    for (int play = 0; play < 2; ++play) {
        rig.project.setMessage("", false);
        rig.transport.play();
        EXPECT_TRUE(rig.project.message().startsWith("Some audio could not be played: ")) << play;
        EXPECT_TRUE(rig.project.message().contains("no_such_knob")) << play;
        EXPECT_TRUE(rig.project.problem());
        rig.transport.stop();
    }
}

TEST(ProjectPlayback, ASoundFileChangedOnDiskIsHeardAtTheNextPlay) {
    ProjectRig rig;
    model::Track loops;
    loops.id = model::Uuid::generate();
    loops.kind = model::kAudioTrackKind;
    model::Clip loop;
    loop.id = model::Uuid::generate();
    loop.audioSource = "loop.wav";
    loops.clips.push_back(loop);
    rig.writeSample("loop.wav", 48000, 48000.0, 0.25f);
    rig.writeProject("loop.ostproj",
                     model::makeProject(model::Uuid::generate(), "Loop", 120.0, {loops}, model::JsonValue{}));
    ASSERT_TRUE(rig.project.openProject("loop.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    const std::vector<float> quiet = rig.pull(kFrames);
    rig.transport.stop();

    rig.writeSample("loop.wav", 48000, 48000.0, 0.5f);
    rig.transport.play();
    const std::vector<float> loud = rig.pull(kFrames);
    EXPECT_EQ(loud, expectedStart(rig, rig.project.document()));
    EXPECT_NE(loud, quiet);
}

// ---- A sound card reopened while playing ---------------------------------------------------

// A sound file of `seconds` seconds whose every sample is its time in the file, at 48 kHz.
void writeTimeFile(const ProjectRig& rig, int seconds) {
    std::vector<float> times(static_cast<std::size_t>(seconds) * 48000);
    for (std::size_t i = 0; i < times.size(); ++i) {
        times[i] = static_cast<float>(static_cast<double>(i) / 48000.0);
    }
    std::filesystem::create_directories(rig.samples());
    std::string error;
    EXPECT_TRUE(engine::writeWavFile(rig.samples() / "time.wav", times, 1, 48000, engine::WavFormat::Float32, &error))
        << error;
}

// A song of one audio track whose clips play that file: one clip from beat 0 when
// `clipsPerBeat` is false, so what the card plays says where in the song it is and how fast
// it moves; else a clip on each of the first `beats` beats b, from b seconds into the file,
// so it says the beat (the whole part) and the time into it.
model::Project timeSong(ProjectRig& rig, bool clipsPerBeat = false, int beats = 20) {
    writeTimeFile(rig, clipsPerBeat ? beats + 10 : 10);
    model::Track loops;
    loops.id = model::Uuid::generate();
    loops.kind = model::kAudioTrackKind;
    for (int beat = 0; beat < (clipsPerBeat ? beats : 1); ++beat) {
        model::Clip clip;
        clip.id = model::Uuid::generate();
        clip.audioSource = "time.wav";
        clip.startBeats = beat;
        clip.lengthBeats = clipsPerBeat ? 1.0 : 20.0;
        clip.audioOffsetSeconds = beat;
        loops.clips.push_back(clip);
    }
    return model::makeProject(model::Uuid::generate(), "Time", 120.0, {loops}, model::JsonValue{});
}

struct CardChange {
    const char* name;
    const char* key;
    const char* value;
    double rate;  // of the card after the change
};

void PrintTo(const CardChange& change, std::ostream* out) { *out << change.name; }

class CardChangesWhilePlaying : public testing::TestWithParam<CardChange> {};

// A new sample rate, buffer size or device reopens the card: the song goes on from where
// it was (after a short hold that fades in), and at the right speed, rendered again at the
// new rate when the rate changed.
TEST_P(CardChangesWhilePlaying, TheSongGoesOnFromWhereItWasAtTheRightSpeed) {
    const CardChange& change = GetParam();
    ProjectRig rig;
    rig.writeProject("time.ostproj", timeSong(rig));
    ASSERT_TRUE(rig.project.openProject("time.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    rig.card->play(kFrames, 40);
    const float before = rig.card->heard.back();
    ASSERT_NEAR(before, 40.0 * kFrames / 48000.0, 1e-4);
    const std::size_t reopened = rig.card->heard.size();

    ASSERT_TRUE(rig.settings.setValue(change.key, change.value));
    ASSERT_EQ(rig.card->config().sampleRate, change.rate);
    rig.card->play(kFrames, 40);
    ASSERT_TRUE(rig.transport.playing());

    const std::vector<float>& heard = rig.card->heard;
    std::size_t first = reopened;
    while (first < heard.size() && heard[first] == 0.0f) {
        first += 2;  // a hold while the song is rendered again
    }
    ASSERT_LT(first, heard.size()) << "heard again";
    // Out of the hold's fade, the first sample says where the song went on.
    const std::size_t faded = first + 2 * engine::AudioEngine::kHoldFadeFrames;
    const double resumed = heard[faded] - static_cast<double>(engine::AudioEngine::kHoldFadeFrames) / change.rate;
    EXPECT_NEAR(resumed, before, 2.0 / change.rate) << "the song goes on from where it was";
    for (std::size_t i = faded; i + 2 < heard.size(); i += 2) {
        ASSERT_NEAR(heard[i + 2] - heard[i], 1.0 / change.rate, 1e-6) << "at the card's speed, frame " << i / 2;
    }
}

INSTANTIATE_TEST_SUITE_P(Settings, CardChangesWhilePlaying,
                         testing::Values(CardChange{"SampleRate", "audio.sample_rate", "44100", 44100.0},
                                         CardChange{"BufferSize", "audio.buffer_size", "256", 48000.0},
                                         CardChange{"Device", "audio.output_device", "aa02", 48000.0}),
                         [](const testing::TestParamInfo<CardChange>& info) { return std::string(info.param.name); });

// ---- Play and edits while playing, in the background --------------------------------------

class ProjectBackgroundPlayback : public WithApplication {};

// What the engine plays once a new render has taken over: a period for the fade, then one.
std::vector<float> heardAfterTheFade(ProjectRig& rig) {
    rig.pull(engine::AudioEngine::kTrackFadeFrames);
    return rig.pull(kFrames);
}

TEST_F(ProjectBackgroundPlayback, AnEditWhilePlayingReachesTheEngineThroughTheWorker) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_EQ(rig.collect(1).size(), 1u);  // the play's render has started
    EXPECT_EQ(rig.pull(kFrames).front(), HeldRender::level(1));

    rig.project.setTempo(150.0);
    EXPECT_EQ(render.callCount(), 1) << "nothing is rendered before the event loop turns";
    QCoreApplication::processEvents();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, engine::RenderJobKind::PlaybackRebuild);
    EXPECT_TRUE(results[0].ok);
    const std::vector<float> heard = heardAfterTheFade(rig);
    EXPECT_EQ(heard.front(), HeldRender::level(2));
    EXPECT_EQ(heard.back(), HeldRender::level(2));
}

TEST_F(ProjectBackgroundPlayback, ThreeEditsInARowSubmitOneJob) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    render.waitForCall(1);
    rig.project.setTempo(150.0);
    rig.project.setTempo(151.0);
    rig.project.renameProject("Three");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    // Exports render on a worker of their own, never before or behind a render that plays.
    (void)rig.project.renderToWav();
    std::vector<engine::RenderResult> results = rig.collect(3);
    ASSERT_EQ(results.size(), 3u);
    EXPECT_EQ(std::count_if(results.begin(), results.end(),
                            [](const engine::RenderResult& r) { return r.kind == engine::RenderJobKind::WavExport; }),
              1);
    EXPECT_EQ(render.playbackCalls.load(), 2) << "the play's and one for the three edits";
    EXPECT_EQ(render.callCount(), 3);
}

TEST_F(ProjectBackgroundPlayback, AnEditAfterPlayStoppedSubmitsNothing) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.play();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    rig.transport.stop();
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    (void)rig.project.renderToWav();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, engine::RenderJobKind::WavExport) << "no rebuild went before the export";
    EXPECT_EQ(render.callCount(), 2);
}

// A render for an older song that is stopped before it plays is never heard, and its end
// is reported to nobody.
TEST_F(ProjectBackgroundPlayback, AStaleRenderNeverReplacesWhatPlayRenderedSince) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.writeProject("keys.ostproj", songWithKeys("Keys"));
    ASSERT_TRUE(rig.project.openProject("keys.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    render.release(1);  // hold the renders from here on
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    render.waitForCall(2);

    // Stopped and edited again: the render in flight is for a song nobody will play.
    rig.transport.stop();
    rig.project.setTempo(160.0);
    rig.transport.play();
    render.waitForCall(3);
    render.release(3);
    ASSERT_EQ(rig.collect(1).size(), 1u);
    EXPECT_EQ(rig.pull(kFrames).front(), HeldRender::level(3));
    EXPECT_EQ(render.playbackCalls.load(), 2) << "the second gave up";
    EXPECT_FALSE(rig.project.problem());
}

TEST_F(ProjectBackgroundPlayback, TheNewestOfSeveralRebuildsWins) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    render.release(1);
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    render.waitForCall(2);  // the first rebuild is rendering; the next waits behind it
    rig.project.setTempo(151.0);
    QCoreApplication::processEvents();
    render.release(3);
    const std::vector<engine::RenderResult> results = rig.collect(2);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_LT(results[0].generation, results[1].generation);
    EXPECT_EQ(heardAfterTheFade(rig).front(), HeldRender::level(3)) << "the older rebuild is never heard";
}

// A render that was in flight when another document came is the older song's: its end is
// reported to nobody, and the new song's render takes over.
TEST_F(ProjectBackgroundPlayback, AnInstalledDocumentMakesRendersInFlightStale) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    render.release(1);
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    render.waitForCall(2);
    rig.project.undo();
    ASSERT_FALSE(rig.project.dirty());
    rig.project.newProject();  // installs a document while the render runs
    render.failing = true;
    render.release(2);
    ASSERT_EQ(rig.collect(1).size(), 1u);
    EXPECT_FALSE(rig.project.problem()) << "the old song's failure is nobody's news";
    render.failing = false;
    // The new song's own rebuild follows on the next turn of the loop.
    QCoreApplication::processEvents();
    render.release(3);
    ASSERT_EQ(rig.collect(1).size(), 1u);
    EXPECT_EQ(heardAfterTheFade(rig).front(), HeldRender::level(3));
}

TEST_F(ProjectBackgroundPlayback, AFailedRebuildClearsTheTrackAndSaysWhy) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    ASSERT_FALSE(silent(heardAfterTheFade(rig)));

    render.failing = true;
    rig.project.setTempo(160.0);
    QCoreApplication::processEvents();
    std::vector<engine::RenderResult> results;
    while (results.empty() || results.back().ok) {
        results = rig.collect(1);
    }
    EXPECT_FALSE(results.back().ok);
    EXPECT_EQ(rig.project.message(), "The project could not be played: the render broke");
    EXPECT_TRUE(rig.project.problem());
    EXPECT_TRUE(silent(heardAfterTheFade(rig)));
    // Said once, by the render thread.
    std::vector<std::string> warnings;
    for (const core::LogRecord& record : rig.log.records()) {
        if (record.level == core::LogLevel::WARN) {
            warnings.push_back(record.category + ": " + record.message);
        }
    }
    EXPECT_EQ(warnings, std::vector<std::string>{"project: a background render failed: the render broke"});
}

// A song of one audio track playing a constant 0.5 for 20 seconds, without effects, so
// that any render of it is exact wherever it starts.
model::Project steadySong(ProjectRig& rig) {
    rig.writeSample("level.wav", 20 * 48000, 48000.0, 0.5f);
    model::Track loops;
    loops.id = model::Uuid::generate();
    loops.name = "Level";
    loops.kind = model::kAudioTrackKind;
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.audioSource = "level.wav";
    clip.lengthBeats = 40.0;
    loops.clips.push_back(clip);
    return model::makeProject(model::Uuid::generate(), "Steady", 120.0, {loops}, model::JsonValue{});
}

// An edit while playing is heard from where the playhead is, after a short fade and
// without the transport jumping: the render starts near the playhead, not at the song's
// start, and the song played before the edit is the song before the edit.
TEST_F(ProjectBackgroundPlayback, AnEditWhilePlayingReplacesTheSoundFromThePlayhead) {
    ProjectRig rig;
    rig.writeProject("steady.ostproj", steadySong(rig));
    ASSERT_TRUE(rig.project.openProject("steady.ostproj"));
    const QString track = id(rig.project.document().tracks().front().id);
    rig.transport.setMetronome(false);
    rig.transport.play();
    const std::vector<engine::RenderResult> played = rig.collect(1);
    ASSERT_EQ(played.size(), 1u);
    // Rendered through, so the periods pulled below never catch up with the render.
    const auto rendered = [](const engine::BackingTrack& track) {
        while (track.view().end < track.view().frames) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    };
    rendered(*played[0].track);
    const engine::AudioEngine& engine = rig.audio.engine();
    std::vector<float> heard;
    const auto pull = [&] {
        const std::int64_t before = engine.shownPos();
        const std::vector<float> period = rig.pull(kFrames);
        heard.insert(heard.end(), period.begin(), period.end());
        EXPECT_EQ(engine.shownPos(), before + kFrames) << "the transport never holds or jumps";
    };
    rig.pull(kFrames);  // takes the play
    for (int i = 0; i < 40; ++i) {
        pull();
    }
    rig.transport.tick();
    const std::int64_t playhead = engine.shownPos();

    rig.project.setTrackVolume(track, 0.5);
    QCoreApplication::processEvents();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    const std::shared_ptr<engine::BackingTrack> edited = results[0].track;
    ASSERT_NE(edited, nullptr);
    rendered(*edited);
    EXPECT_GT(edited->view().from, 0) << "the song before the playhead is not rendered again";
    // It takes over at the first period that starts where it is final: at once, or, where
    // the render began as far ahead as renders have taken (longer on a busy machine), once
    // the transport gets there.
    const std::int64_t ahead = std::max<std::int64_t>(edited->view().from - playhead, 0);
    const std::int64_t periods = (ahead + kFrames - 1) / kFrames;
    for (std::int64_t i = 0; i < periods + 4; ++i) {
        pull();
    }

    const std::size_t edit = static_cast<std::size_t>(40 + periods) * kFrames * 2;
    for (std::size_t i = 0; i < edit; ++i) {
        ASSERT_EQ(heard[i], 0.5f) << "before the edit, sample " << i;
    }
    const std::size_t fade = static_cast<std::size_t>(engine::AudioEngine::kTrackFadeFrames) * 2;
    for (std::size_t i = edit; i + 2 < edit + fade; ++i) {
        EXPECT_LE(std::abs(heard[i + 2] - heard[i]), 0.25f / 256.0f + 1e-6f) << "no click at sample " << i;
    }
    for (std::size_t i = edit + fade; i < heard.size(); ++i) {
        ASSERT_EQ(heard[i], 0.25f) << "after the fade, sample " << i;
    }
}

// Waits until the render has made its track final to the end.
void renderedThrough(const engine::BackingTrack& track) {
    while (!track.view().begun || track.view().end < track.view().frames) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A tempo change while playing, through the real renders: the song goes on at the old
// tempo until the render at the new one is final, then from the same beat at the new tempo.
// Every period played comes from the right beat: the beat heard never goes back or skips one.
TEST_F(ProjectBackgroundPlayback, ATempoChangeWhilePlayingGoesOnFromTheSameBeat) {
    ProjectRig rig;
    rig.writeProject("beats.ostproj", timeSong(rig, true));
    ASSERT_TRUE(rig.project.openProject("beats.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    const std::vector<engine::RenderResult> played = rig.collect(1);
    ASSERT_EQ(played.size(), 1u);
    renderedThrough(*played[0].track);
    rig.card->play(kFrames, 200);  // to beat 4.3

    rig.transport.setTempo(60.0);
    QCoreApplication::processEvents();
    const std::vector<engine::RenderResult> edited = rig.collect(1);
    ASSERT_EQ(edited.size(), 1u);
    ASSERT_NE(edited[0].track, nullptr);
    renderedThrough(*edited[0].track);
    rig.card->play(kFrames, 400);  // to about beat 8.5

    const std::vector<float>& heard = rig.card->heard;
    double last = heard[0];
    double beatStart = 0.0;
    double longestBeat = 0.0;
    for (std::size_t i = 2; i < heard.size(); i += 2) {
        const double now = heard[i];
        const double beatNow = std::floor(now);
        ASSERT_GE(beatNow, std::floor(last)) << "frame " << i / 2 << " goes back from " << last << " to " << now;
        ASSERT_LE(beatNow, std::floor(last) + 1.0) << "frame " << i / 2 << " skips from " << last << " to " << now;
        if (beatNow > std::floor(last)) {
            beatStart = static_cast<double>(i / 2);
        }
        longestBeat = std::max(longestBeat, static_cast<double>(i / 2) - beatStart);
        last = now;
    }
    EXPECT_GE(std::floor(last), 8.0);
    EXPECT_EQ(longestBeat, 47999.0) << "a beat lasts a second at the new tempo";
}

// Every period the card plays, against the beat the transport is at: on the song whose
// clips say the beat (the whole part) and the seconds into it, each frame must lie in the
// beat the transport counts and no further into it than the slowest and fastest tempo in
// play allow; the transport never jumps. A hold says nothing of the beat: the periods with
// silence, the one that fades into it (it may end on the fade) and the frames of its fade in
// (over more than one period when periods are short) are skipped.
struct BeatChecker {
    static constexpr std::int64_t kLong = std::int64_t{1} << 40;
    double slowest = 120.0;
    double fastest = 120.0;
    double beats = 0.0;  // where the transport was after the last period
    const engine::BackingTrack* track = nullptr;  // the track heard after it
    std::int64_t sinceHold = 0;                    // frames played since the last hold
    std::int64_t sinceTakeOver = kLong;            // and since the heard track changed
    int checked = 0;
    int wrong = 0;
    std::string first;

    void period(const std::vector<float>& heard, const engine::AudioEngine& engine) {
        const double now = engine.shownBeats();
        const double tempo = engine.shownTempo();
        const double beatsPerFrame = tempo / (60.0 * 48000.0);
        const auto n = static_cast<std::int64_t>(heard.size() / 2);
        const bool held = std::any_of(heard.begin(), heard.end(), [](float s) { return s == 0.0f; }) ||
                          engine.waitingForSong();
        const double moved = now - beats;
        if (engine.heardTrack() != track) {
            sinceTakeOver = 0;
        }
        const std::int64_t fadeIn = sinceHold;
        const std::int64_t crossfade = sinceTakeOver;
        sinceHold = held ? 0 : sinceHold + n;
        sinceTakeOver += n;
        beats = now;
        track = engine.heardTrack();
        if (held) {
            return;
        }
        ++checked;
        if (std::abs(moved - static_cast<double>(n) * beatsPerFrame) > 3.0 * beatsPerFrame) {
            note("the transport moved " + std::to_string(moved) + " beats in a period at " + std::to_string(now));
            return;
        }
        for (std::int64_t i = std::max<std::int64_t>(0, engine::AudioEngine::kHoldFadeFrames - fadeIn); i < n; ++i) {
            const double beat = now - static_cast<double>(n - i) * beatsPerFrame;
            const double whole = std::floor(beat);
            const double into = beat - whole;
            // The track fading out goes on at its own tempo: over the fade the two drift apart
            // by at most the fade's length times their tempos' difference.
            const double drift = crossfade + i < engine::AudioEngine::kTrackFadeFrames
                                     ? static_cast<double>(crossfade + i) * (fastest - slowest) / slowest
                                     : 0.0;
            const double margin = (3.0 + drift) * beatsPerFrame;
            if (into < margin || into > 1.0 - margin) {
                continue;
            }
            const double value = heard[static_cast<std::size_t>(2 * i)];
            const double seconds = value - whole;
            const double low = into * 60.0 / fastest - 3.0 / 48000.0;
            const double high = into * 60.0 / slowest + 3.0 / 48000.0;
            if (seconds < low || seconds > high) {
                note("at beat " + std::to_string(beat) + " the card played " + std::to_string(value));
                return;
            }
        }
    }
    void note(const std::string& what) {
        if (wrong++ == 0) {
            first = what;
        }
    }
};

// Renders for playback with the program's renderer, and makes final only as many frames
// as the test has allowed so far (all renders share the allowance), so the test says how
// far each render has got when the engine looks.
struct SteppedRender {
    ProjectControllerHooks hooks() {
        return {.render = {},
                .playback = [this](const model::Project& song, const engine::RenderSettings& settings,
                                   const engine::PlaybackRender& render, engine::BackingTrack& track,
                                   std::vector<std::string>* warnings, std::string* error) {
                    std::unique_lock lock(mutex);
                    ++active;  // from here on, settle waits for this render
                    lock.unlock();
                    engine::BackingTrack whole;
                    engine::PlaybackRender all;
                    all.from = render.from;
                    const bool made = engine::renderForPlayback(song, settings, all, whole, warnings, error) &&
                                      publish(whole.view(), render, track, error);
                    lock.lock();
                    --active;
                    changed.notify_all();
                    return made;
                },
                .clock = {}};
    }
    // The frames of `made` into the track as the allowance lets them be final.
    bool publish(const engine::BackingTrack::View& made, const engine::PlaybackRender& render,
                 engine::BackingTrack& track, std::string* error) {
        const std::stop_callback wake(render.stop, [this] {
            std::lock_guard woken(mutex);
            changed.notify_all();
        });
        track.begin(made.frames, made.channels, made.from, made.timing);
        render.started({});
        std::unique_lock lock(mutex);
        for (std::int64_t end = made.from; end < made.end;) {
            changed.wait(lock, [&] { return allowed > 0 || render.stop.stop_requested(); });
            if (render.stop.stop_requested()) {
                *error = "stopped";
                return false;
            }
            const std::int64_t count = std::min(allowed, made.end - end);
            allowed -= count;
            const std::span<float> samples = track.unpublished(end, count);
            std::copy_n(made.samples + end * made.channels, samples.size(), samples.begin());
            end += count;
            track.publish(end);
            changed.notify_all();
        }
        return true;
    }
    // Each period: the frames every render together may make final until the next.
    void allow(std::int64_t frames) {
        std::lock_guard lock(mutex);
        allowed = frames;
        changed.notify_all();
    }
    // Until the render that runs has made final what it was allowed (none may run).
    void settle() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return allowed == 0 || active == 0; });
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::int64_t allowed = 0;
    int active = 0;  // renders under way
};

// Tempo changes in quick succession, each rendered anew and taken over from the beat the
// transport is at: every period the card plays is from that beat, through the crossfades,
// a hand-over asked for during a crossfade (periods shorter than the fade) and holds (a
// render slower than real time).
TEST_F(ProjectBackgroundPlayback, TempoBurstsPlayEveryPeriodFromTheTransportsBeat) {
    struct Case {
        const char* name;
        int changes;
        int periodsApart;
        std::uint32_t period;   // frames
        std::int64_t rendered;  // frames the renders make final while the card plays a period
    } cases[] = {
        {"5 in a second", 5, 19, kFrames, 4 * kFrames},
        {"20 in a second", 20, 5, kFrames, 4 * kFrames},
        {"one a period", 20, 1, kFrames, 4 * kFrames},
        {"during a crossfade", 20, 1, 128, 4 * kFrames},
        {"during a hold", 5, 19, kFrames, 200},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SteppedRender render;
        ProjectRig rig(render.hooks());
        rig.writeProject("beats.ostproj", timeSong(rig, true, 40));
        ASSERT_TRUE(rig.project.openProject("beats.ostproj"));
        rig.transport.setMetronome(false);
        rig.transport.play();
        const engine::AudioEngine& engine = rig.audio.engine();
        BeatChecker check;
        check.slowest = 118.0;
        check.fastest = 130.5;
        std::int64_t rendered = 4 * kFrames;
        int takeOvers = -1;
        const engine::BackingTrack* heard = nullptr;
        const auto period = [&] {
            check.period(rig.pull(c.period), engine);
            takeOvers += engine.heardTrack() != heard ? 1 : 0;
            heard = engine.heardTrack();
            render.allow(rendered * c.period / kFrames);
            render.settle();
            (void)rig.project.onRenderFinished();
            QCoreApplication::processEvents();
        };
        while (engine.shownBeats() < 12.2) {
            period();
        }
        rendered = c.rendered;
        const double tempos[] = {124.0, 118.0, 130.0, 126.0, 122.0};
        for (int k = 0; k < c.changes; ++k) {
            rig.transport.setTempo(tempos[k % 5] + 0.1 * (k / 5));
            for (int p = 0; p < c.periodsApart; ++p) {
                period();
            }
        }
        rendered = 4 * kFrames;
        for (int p = 0; p < 4000 && engine.shownTempo() != rig.transport.tempo(); ++p) {
            period();
        }
        EXPECT_EQ(engine.shownTempo(), rig.transport.tempo()) << "the last tempo is heard";
        for (int p = 0; p < 400 * static_cast<int>(kFrames / c.period); ++p) {
            period();
        }
        EXPECT_EQ(check.wrong, 0) << check.first << " (" << check.checked << " periods checked)";
        // How many of the burst's renders take over depends on how fast the machine renders;
        // at least the last one does.
        EXPECT_GE(takeOvers, 1) << "a render at a new tempo took over";
        EXPECT_GT(check.checked, 300);
    }
}

// An earlier render serves a new play only when it is final at the new start (or gets there
// within a new render's pre-roll, none in this song); otherwise the play renders anew.
TEST_F(ProjectBackgroundPlayback, PlayAfterAStopReusesAnEarlierRenderOnlyWhereItIsFinal) {
    struct Case {
        double startBeat;
        std::vector<std::int64_t> starts;  // of the renders, in frames
    } cases[] = {
        {3.0, {0}},                // inside what the first render made final
        {150.0, {0, 3600000}},     // far past it: a render of its own from there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.startBeat);
        GatedRender render;
        ProjectRig rig(render.hooks());
        rig.transport.setMetronome(false);
        rig.transport.play();
        const std::vector<engine::RenderResult> played = rig.collect(1);
        ASSERT_EQ(played.size(), 1u);
        render.allow(4 * 48000);
        ASSERT_TRUE(test::waitUntil([&] { return played[0].track->view().end >= 4 * 48000; }));
        rig.pull(kFrames);
        rig.transport.stop();
        rig.pull(kFrames);
        rig.transport.setStartBeat(c.startBeat);
        rig.transport.play();
        if (c.starts.size() > 1) {
            ASSERT_TRUE(test::waitUntil([&] { return render.starts().size() > 1; })) << "a render of its own";
        }
        EXPECT_EQ(render.starts(), c.starts);
        render.allow(48000);
        std::vector<float> heard;
        ASSERT_TRUE(test::waitUntil([&] {
            heard = rig.pull(kFrames);
            return heard.front() != 0.0f;
        }));
        EXPECT_EQ(heard.front(), static_cast<float>(c.starts.size()) / 8.0f) << "the render made for the play is heard";
    }
}

// A change while playing is heard even when the render is slower than real time: the
// render that cannot keep ahead of the playhead gives way, and the change is heard after a
// hold. Here the renders make 200 frames final for every 512-frame period played.
TEST_F(ProjectBackgroundPlayback, AChangeWhilePlayingIsHeardWhenTheRenderIsSlowerThanRealTime) {
    struct Case {
        const char* name;
        std::function<void(ProjectRig&)> change;
    } cases[] = {
        {"an edit", [](ProjectRig& rig) { rig.project.renameProject("Edited"); }},
        {"a tempo change", [](ProjectRig& rig) { rig.transport.setTempo(90.0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GatedRender render;
        ProjectRig rig(render.hooks());
        rig.transport.setMetronome(false);
        rig.transport.play();
        ASSERT_EQ(rig.collect(1).size(), 1u);
        // Each period: the render may go on by 200 frames; the results are collected as the
        // program's timer does, once the worker has made what it was allowed.
        const auto period = [&] {
            const std::vector<float> heard = rig.pull(kFrames);
            render.allow(200);
            render.settle();
            (void)rig.project.onRenderFinished();
            QCoreApplication::processEvents();
            return heard.front();
        };
        int periods = 0;
        while (period() != HeldRender::level(1) && ++periods < 200) {
        }
        ASSERT_LT(periods, 200) << "the song plays";
        for (int i = 0; i < 100; ++i) {
            period();
        }
        c.change(rig);
        periods = 0;
        while (period() != HeldRender::level(2) && ++periods < 2000) {
        }
        EXPECT_LT(periods, 2000) << "the change is heard";
        EXPECT_EQ(render.starts().size(), 2u);
    }
}

// ---- WAV export ---------------------------------------------------------------------------

class ProjectExport : public WithApplication {};

TEST_F(ProjectExport, AnExportWritesTheFileAndTheAnnouncementCarriesItsPathAndLength) {
    ProjectRig rig;
    rig.writeProject("song.ostproj", songWithKeys("Song: 1/2"));
    ASSERT_TRUE(rig.project.openProject("song.ostproj"));
    EXPECT_TRUE(rig.project.renderToWav().isEmpty());
    EXPECT_EQ(rig.project.message(), "Rendering in the background; a message will say where it saved.");
    EXPECT_FALSE(rig.project.problem());

    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    const std::filesystem::path file = rig.exports() / "Song_ 1_2.wav";
    ASSERT_TRUE(results[0].ok) << results[0].error;
    EXPECT_EQ(results[0].path, QDir(qPath(rig.exports())).filePath("Song_ 1_2.wav").toStdString());
    engine::AudioData written;
    std::string error;
    ASSERT_TRUE(engine::loadWavFile(file, written, &error)) << error;
    EXPECT_EQ(written.sampleRate, 48000.0);
    EXPECT_EQ(written.channels, 2);
    EXPECT_EQ(results[0].seconds, static_cast<double>(written.frames) / 48000.0);
    EXPECT_EQ(rig.project.message(), QString("Rendered %1 seconds to %2")
                                         .arg(results[0].seconds, 0, 'f', 1)
                                         .arg(QDir::toNativeSeparators(qPath(file))));
    EXPECT_FALSE(rig.project.problem());

    const std::vector<nlohmann::json> sent = renderFinishedNotifications(results);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (nlohmann::json{{"path", results[0].path}, {"seconds", results[0].seconds}}));
}

TEST_F(ProjectExport, ExportingTwiceReplacesTheFileAndAnUnnamedSongIsUntitled) {
    ProjectRig rig;
    rig.writeProject("blank.ostproj", songWithKeys("   "));
    ASSERT_TRUE(rig.project.openProject("blank.ostproj"));
    (void)rig.project.renderToWav();
    (void)rig.project.renderToWav();
    const std::vector<engine::RenderResult> results = rig.collect(2);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_TRUE(results[0].ok && results[1].ok);
    EXPECT_EQ(results[0].path, results[1].path);
    EXPECT_TRUE(std::filesystem::exists(rig.exports() / "Untitled.wav"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(rig.exports()), {}), 1);
}

TEST_F(ProjectExport, ASongWithNothingToHearEndsWithAProblemAndOnlyAnError) {
    ProjectRig rig;
    rig.writeProject("mute.ostproj", songWithKeys("Mute", ""));
    ASSERT_TRUE(rig.project.openProject("mute.ostproj"));
    (void)rig.project.renderToWav();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(rig.project.message(),
              "Nothing to hear yet: give a track an instrument (the button on the track) and add a pattern.");
    EXPECT_TRUE(rig.project.problem());
    EXPECT_EQ(renderFinishedNotifications(results)[0], (nlohmann::json{{"error", "nothing to hear yet"}}));
    EXPECT_FALSE(std::filesystem::exists(rig.exports() / "Mute.wav"));
}

TEST_F(ProjectExport, AFileThatCannotBeWrittenIsReportedAsARenderFailure) {
    ProjectRig rig;
    rig.writeProject("song.ostproj", songWithKeys("Song"));
    ASSERT_TRUE(rig.project.openProject("song.ostproj"));
    std::filesystem::create_directories(rig.exports() / "Song.wav");
    writeFile(rig.exports() / "Song.wav" / "inside", "x");
    (void)rig.project.renderToWav();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_TRUE(rig.project.message().startsWith("Could not render: ")) << rig.project.message().toStdString();
    EXPECT_TRUE(rig.project.problem());
    // Regression: logged by the render thread and again by the GUI thread.
    int logged = 0;
    for (const core::LogRecord& record : rig.log.records()) {
        logged += record.message.find(results[0].error) != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(logged, 1);
}

TEST_F(ProjectExport, AnExportFolderThatCannotBeMadeIsReported) {
    ProjectRig rig;
    std::filesystem::create_directories(rig.projects());
    writeFile(rig.exports(), "a file where the folder should be");
    EXPECT_TRUE(rig.project.renderToWav().isEmpty());
    EXPECT_EQ(rig.project.message().toStdString(), "Ostrel could not create the export folder (cannot create folder " +
                                                       rig.exports().string() + ": Not a directory).");
    EXPECT_TRUE(rig.project.problem());
}

TEST(ProjectDirectExport, WithoutAnApplicationTheFileIsWrittenAtOnceAndItsPathReturned) {
    ProjectRig rig;
    rig.writeProject("song.ostproj", songWithKeys("Song: 1/2"));
    ASSERT_TRUE(rig.project.openProject("song.ostproj"));
    const QString path = rig.project.renderToWav();
    EXPECT_EQ(path, QDir(qPath(rig.exports())).filePath("Song_ 1_2.wav"));
    engine::AudioData written;
    std::string error;
    ASSERT_TRUE(engine::loadWavFile(rig.exports() / "Song_ 1_2.wav", written, &error)) << error;
    EXPECT_EQ(rig.project.message(),
              QString("Rendered %1 seconds to %2")
                  .arg(static_cast<double>(written.frames) / 48000.0, 0, 'f', 1)
                  .arg(QDir::toNativeSeparators(path)));
    EXPECT_FALSE(rig.project.problem());
}

TEST(ProjectDirectExport, NothingToHearAndAFolderInTheWayAreReported) {
    ProjectRig rig;
    EXPECT_TRUE(rig.project.renderToWav().isEmpty());
    EXPECT_EQ(rig.project.message(),
              "Nothing to hear yet: give a track an instrument (the button on the track) and add a pattern.");
    EXPECT_TRUE(rig.project.problem());

    rig.writeProject("song.ostproj", songWithKeys("Song"));
    ASSERT_TRUE(rig.project.openProject("song.ostproj"));
    std::filesystem::create_directories(rig.exports() / "Song.wav");
    writeFile(rig.exports() / "Song.wav" / "inside", "x");
    EXPECT_TRUE(rig.project.renderToWav().isEmpty());
    EXPECT_TRUE(rig.project.message().startsWith("Could not write the WAV file: "));
    EXPECT_TRUE(rig.project.problem());
}

}  // namespace
