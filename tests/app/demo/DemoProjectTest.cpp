// The demonstration project the start-up builds, on a real project controller.

#include "ProjectTestSupport.h"
#include "app/demo/DemoProject.h"
#include "app/demo/DemoSounds.h"
#include "audiofile/WavReader.h"

#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// Stands in for the main window: notes which demonstration functions were called, in order.
class WindowStandIn : public QObject {
    Q_OBJECT

public:
    QStringList calls;

    Q_INVOKABLE void showDevicesDemo() { calls.append("devices"); }
    Q_INVOKABLE void showStepDemo() { calls.append("step"); }
    Q_INVOKABLE void showFmDemo() { calls.append("fm"); }
    Q_INVOKABLE void showRackDemo() { calls.append("rack"); }
    Q_INVOKABLE void showSamplesDemo() { calls.append("samples"); }
};

QStringList trackNames(app::ProjectController& project) {
    QStringList names;
    for (const QVariant& track : project.tracks()) names.append(track.toMap().value("name").toString());
    return names;
}

QVariantMap trackNamed(app::ProjectController& project, const QString& name) {
    for (const QVariant& track : project.tracks()) {
        if (track.toMap().value("name").toString() == name) return track.toMap();
    }
    return {};
}

app::DemoViews allViews() {
    app::DemoViews views;
    views.devices = true;
    views.step = true;
    views.fm = true;
    views.sampler = true;
    views.audio = true;
    return views;
}

}  // namespace

TEST(DemoProjectTest, NightDriveHasFourTracksAtOneHundredTwentyEightAndIsExported) {
    ProjectRig rig;
    WindowStandIn window;
    app::buildDemoProject(rig.project, {}, &window);
    EXPECT_EQ(rig.project.name(), "Night drive");
    EXPECT_EQ(trackNames(rig.project), QStringList({"Drums", "Bass line", "Lead", "Pad"}));
    EXPECT_DOUBLE_EQ(rig.project.tempo(), 128.0);
    EXPECT_TRUE(window.calls.isEmpty()) << "no view was asked for";
    // Without an event loop the export is written at once.
    const QString wav = qPath(rig.exports() / "Night drive.wav");
    ASSERT_TRUE(QFile::exists(wav));
    engine::AudioData audio;
    std::string error;
    ASSERT_TRUE(engine::loadWavFile(rig.exports() / "Night drive.wav", audio, &error)) << error;
    EXPECT_EQ(audio.channels, 2);
    // Every step is an edit of its own: undoing them all leaves the empty song.
    EXPECT_TRUE(rig.project.canUndo());
    while (rig.project.canUndo()) rig.project.undo();
    EXPECT_EQ(rig.project.name(), "Untitled");
    EXPECT_TRUE(rig.project.tracks().isEmpty());
}

// The demonstration's export once touched full scale and clipped: with every view's
// tracks too it stays a decibel below, and still plays loud.
TEST(DemoProjectTest, TheExportPeaksBelowFullScaleWithAndWithoutTheViewsTracks) {
    for (bool all : {false, true}) {
        ProjectRig rig;
        app::buildDemoProject(rig.project, all ? allViews() : app::DemoViews{}, nullptr);
        engine::AudioData audio;
        std::string error;
        ASSERT_TRUE(engine::loadWavFile(rig.exports() / "Night drive.wav", audio, &error)) << error;
        float peak = 0.0f;
        for (float v : audio.samples) peak = std::max(peak, std::abs(v));
        EXPECT_LT(peak, 0.89f) << (all ? "every view" : "four tracks");
        EXPECT_GT(peak, 0.4f) << (all ? "every view" : "four tracks");
    }
}

TEST(DemoProjectTest, TheViewsAreShownInTheirOrderAfterWhatTheyShow) {
    ProjectRig rig;
    WindowStandIn window;
    app::buildDemoProject(rig.project, allViews(), &window);
    EXPECT_EQ(window.calls, QStringList({"devices", "step", "fm", "rack", "samples"}));
    EXPECT_EQ(trackNames(rig.project),
              QStringList({"Drums", "Bass line", "Lead", "Pad", "Keys", "Beat", "Chords", "Vocal take"}));
}

TEST(DemoProjectTest, WithoutAWindowTheViewsStillAddTheirTracks) {
    ProjectRig rig;
    app::DemoViews views;
    views.fm = true;
    app::buildDemoProject(rig.project, views, nullptr);
    EXPECT_EQ(trackNames(rig.project).last(), "Keys");
}

TEST(DemoProjectTest, TheSamplerViewWritesTheThreeDrumsAndASamplerTrack) {
    ProjectRig rig;
    std::filesystem::create_directories(rig.samples());
    // Files of those names are overwritten.
    writeBytes(qPath(rig.samples() / "Kick.wav"), "old");
    app::DemoViews views;
    views.sampler = true;
    app::buildDemoProject(rig.project, views, nullptr);

    TempDir reference;
    int kind = 0;
    for (const char* name : {"Kick.wav", "Snare.wav", "Hat.wav"}) {
        app::writeDemoDrumSample(qPath(reference.path()), name, kind++);
        EXPECT_EQ(readBytes(qPath(rig.samples() / name)), readBytes(qPath(reference / name))) << name;
    }
    EXPECT_TRUE(rig.project.sampleFiles().contains("Snare.wav"));
    EXPECT_FALSE(trackNamed(rig.project, "Beat").isEmpty());
    const QVariantMap chords = trackNamed(rig.project, "Chords");
    EXPECT_EQ(chords.value("instrument").toString(), "Sampler");
    EXPECT_EQ(chords.value("kind").toString(), "midi");
}

TEST(DemoProjectTest, TheAudioViewPutsTheGeneratedChordTwiceOnAnAudioTrack) {
    ProjectRig rig;
    app::DemoViews views;
    views.audio = true;
    app::buildDemoProject(rig.project, views, nullptr);

    engine::AudioData chord;
    std::string error;
    ASSERT_TRUE(engine::loadWavFile(rig.samples() / "Demo chord.wav", chord, &error)) << error;
    EXPECT_EQ(chord.channels, 2);
    EXPECT_EQ(chord.sampleRate, 44100.0);
    EXPECT_EQ(chord.samples.size(), 176400u);
    const QVariantMap take = trackNamed(rig.project, "Vocal take");
    EXPECT_EQ(take.value("kind").toString(), "audio");
    const QVariantList clips = take.value("clipList").toList();
    ASSERT_EQ(clips.size(), 2);
    EXPECT_DOUBLE_EQ(clips[0].toMap().value("start").toDouble(), 0.0);
    EXPECT_DOUBLE_EQ(clips[1].toMap().value("start").toDouble(), 6.0);
}

#include "DemoProjectTest.moc"
