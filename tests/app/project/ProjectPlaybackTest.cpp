#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "app/api/MainLoopHandOffs.h"
#include "audiofile/WavReader.h"
#include "playback/render/SongRenderer.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

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
// 2/8 for the second...), and holds each render until the test lets it go.
struct HeldRender {
    ProjectControllerHooks hooks() {
        return {.render = [this](const model::Project&, const engine::RenderSettings& settings,
                                 engine::RenderOutput* out, std::string* error) {
                    std::unique_lock lock(mutex);
                    const int call = ++calls;
                    changed.notify_all();
                    changed.wait(lock, [&] { return released >= call; });
                    if (failing) {
                        *error = "the render broke";
                        return false;
                    }
                    out->audio.channels = settings.channels;
                    out->audio.sampleRate = settings.sampleRate;
                    out->audio.frames = 4096;
                    out->audio.samples.assign(std::size_t{4096} * static_cast<std::size_t>(settings.channels),
                                              static_cast<float>(call) / 8.0f);
                    return true;
                },
                .clock = {}};
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
    bool failing = false;
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

// ---- Edits while playing, in the background -----------------------------------------------

class ProjectBackgroundPlayback : public WithApplication {};

TEST_F(ProjectBackgroundPlayback, AnEditWhilePlayingReachesTheEngineThroughTheWorker) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    ASSERT_TRUE(silent(rig.pull(kFrames)));

    rig.project.setTempo(150.0);
    EXPECT_EQ(render.callCount(), 0) << "nothing is rendered before the event loop turns";
    QCoreApplication::processEvents();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, engine::RenderJobKind::PlaybackRebuild);
    EXPECT_TRUE(results[0].ok);
    const std::vector<float> heard = rig.pull(kFrames);
    EXPECT_EQ(heard.front(), 1.0f / 8.0f);
    EXPECT_EQ(heard.back(), 1.0f / 8.0f);
}

TEST_F(ProjectBackgroundPlayback, ThreeEditsInARowSubmitOneJob) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    rig.project.setTempo(150.0);
    rig.project.setTempo(151.0);
    rig.project.renameProject("Three");
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    // An export behind it shows what the worker was given before.
    (void)rig.project.renderToWav();
    const std::vector<engine::RenderResult> results = rig.collect(2);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0].kind, engine::RenderJobKind::PlaybackRebuild);
    EXPECT_EQ(results[1].kind, engine::RenderJobKind::WavExport);
    EXPECT_EQ(render.callCount(), 2);
}

TEST_F(ProjectBackgroundPlayback, AnEditAfterPlayStoppedSubmitsNothing) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.play();
    rig.transport.stop();
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    (void)rig.project.renderToWav();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].kind, engine::RenderJobKind::WavExport) << "no rebuild went before the export";
    EXPECT_EQ(render.callCount(), 1);
}

TEST_F(ProjectBackgroundPlayback, AStaleRenderNeverReplacesWhatPlayRenderedSince) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.writeProject("keys.ostproj", songWithKeys("Keys"));
    ASSERT_TRUE(rig.project.openProject("keys.ostproj"));
    rig.transport.setMetronome(false);
    rig.transport.play();
    render.release(0);  // hold the background render
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    render.waitForCall(1);

    // Play again: the song is rendered at once, and the render in flight is older than that.
    rig.transport.stop();
    rig.transport.play();
    const std::vector<float> fresh = expectedStart(rig, rig.project.document());
    render.release(1);
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_TRUE(results[0].ok);
    EXPECT_EQ(rig.pull(kFrames), fresh);
}

TEST_F(ProjectBackgroundPlayback, TheNewestOfSeveralRebuildsWins) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    render.release(0);
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    render.waitForCall(1);  // the first is rendering; the next waits behind it
    rig.project.setTempo(151.0);
    QCoreApplication::processEvents();
    render.release(2);
    const std::vector<engine::RenderResult> results = rig.collect(2);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_LT(results[0].generation, results[1].generation);
    EXPECT_EQ(rig.pull(kFrames).front(), 2.0f / 8.0f);
}

TEST_F(ProjectBackgroundPlayback, AnInstalledDocumentMakesRendersInFlightStale) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    render.release(0);
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    render.waitForCall(1);
    rig.project.undo();
    ASSERT_FALSE(rig.project.dirty());
    rig.project.newProject();  // installs a document while the render runs
    render.release(1);
    ASSERT_EQ(rig.collect(1).size(), 1u);
    EXPECT_TRUE(silent(rig.pull(kFrames))) << "the render of the old song was not installed";
    // The new song's own rebuild follows on the next turn of the loop.
    QCoreApplication::processEvents();
    render.release(2);
    ASSERT_EQ(rig.collect(1).size(), 1u);
    EXPECT_EQ(rig.pull(kFrames).front(), 2.0f / 8.0f);
}

TEST_F(ProjectBackgroundPlayback, AFailedRebuildClearsTheTrackAndSaysWhy) {
    HeldRender render;
    ProjectRig rig(render.hooks());
    rig.transport.setMetronome(false);
    rig.transport.play();
    rig.project.setTempo(150.0);
    QCoreApplication::processEvents();
    ASSERT_EQ(rig.collect(1).size(), 1u);
    ASSERT_FALSE(silent(rig.pull(kFrames)));

    render.failing = true;
    rig.project.setTempo(160.0);
    QCoreApplication::processEvents();
    const std::vector<engine::RenderResult> results = rig.collect(1);
    ASSERT_EQ(results.size(), 1u);
    EXPECT_FALSE(results[0].ok);
    EXPECT_EQ(rig.project.message(), "The project could not be played: the render broke");
    EXPECT_TRUE(rig.project.problem());
    EXPECT_TRUE(silent(rig.pull(kFrames)));
    bool warned = false;
    for (const core::LogRecord& record : rig.log.records()) {
        warned |= record.level == core::LogLevel::WARN && record.category == "project" &&
                  record.message == "the project could not be prepared for playback: the render broke";
    }
    EXPECT_TRUE(warned);
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
    EXPECT_EQ(rig.project.message(), "Ostrel could not create the export folder.");
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
