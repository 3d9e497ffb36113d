#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

model::Note note(int pitch, double start, double length, int velocity = 100) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

model::Clip clipAt(double start, double length, std::vector<model::Note> notes = {}) {
    model::Clip c;
    c.id = model::Uuid::generate();
    c.name = "Clip";
    c.startBeats = start;
    c.lengthBeats = length;
    c.notes = std::move(notes);
    return c;
}

// A song at 120 BPM opened from a file, so its history starts empty: "Keys" holds a clip of
// length 4 at beat 4 with notes at 0.1 (length 1), 0.5 and 3.9 (length 0.5), the first with a
// key the program does not know; "Audio 1" is an audio track.
struct Song {
    Song() {
        model::Track keys = track("Keys");
        model::Note first = note(60, 0.1, 1.0);
        first.extra = nlohmann::json{{"articulation", "staccato"}};
        keys.clips.push_back(clipAt(4.0, 4.0, {first, note(62, 0.5, 0.5), note(64, 3.9, 0.5, 127)}));
        model::Track audio = track("Audio 1");
        audio.kind = model::kAudioTrackKind;
        keysId = id(keys.id);
        audioId = id(audio.id);
        clipId = id(keys.clips[0].id);
        for (const model::Note& n : keys.clips[0].notes) {
            noteIds.push_back(id(n.id));
        }
        open({keys, audio});
    }

    void open(std::vector<model::Track> tracks) {
        rig.writeProject("song.ostproj", model::makeProject(model::Uuid::generate(), "Song", 120.0, std::move(tracks), {}));
        ASSERT_TRUE(rig.project.openProject("song.ostproj"));
    }

    const model::Project& doc() const { return rig.project.document(); }
    const model::Track& at(int index) const { return doc().tracks()[static_cast<std::size_t>(index)]; }
    const model::Clip& clip(int trackIndex = 0, int clipIndex = 0) const {
        return at(trackIndex).clips[static_cast<std::size_t>(clipIndex)];
    }
    const model::Note& noteAt(int index) const { return clip().notes[static_cast<std::size_t>(index)]; }

    ProjectRig rig;
    QString keysId, audioId, clipId;
    std::vector<QString> noteIds;
};

const QString kUnknown = id(model::Uuid::generate());
const QString kGarbage = QStringLiteral("not-an-id");

// ---- One undo step per edit -------------------------------------------------------------

const std::vector<StepCase<Song>> kSteps = {
    {"add note", [](Song& s) { return s.rig.project.addNote(s.keysId, s.clipId, 72, 90, 1.25, 0.5); }, "Add note",
     [](const Song& s, const QString& r) {
         ASSERT_EQ(s.clip().notes.size(), 4u);
         const model::Note& n = s.noteAt(3);
         EXPECT_EQ(id(n.id), r) << "appended";
         EXPECT_EQ(n.pitch, 72);
         EXPECT_EQ(n.velocity, 90);
         EXPECT_EQ(n.startBeats, 1.25);
         EXPECT_EQ(n.lengthBeats, 0.5);
     }},
    {"add note: velocity 0 is 1, a start before the clip is its start",
     [](Song& s) { return s.rig.project.addNote(s.keysId, s.clipId, 60, 0, -3.0, 0.5); }, "Add note",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.noteAt(3).velocity, 1);
         EXPECT_EQ(s.noteAt(3).startBeats, 0.0);
     }},
    {"add note: velocity 200 is 127, unrounded, past the clip's end",
     [](Song& s) { return s.rig.project.addNote(s.keysId, s.clipId, 0, 200, 6.0001, 0.3333); }, "Add note",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.noteAt(3).velocity, 127);
         EXPECT_EQ(s.noteAt(3).pitch, 0);
         EXPECT_EQ(s.noteAt(3).startBeats, 6.0001);
         EXPECT_EQ(s.noteAt(3).lengthBeats, 0.3333);
     }},
    {"edit note in place, unknown keys dropped",
     [](Song& s) { return s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[0], 67, 300, 2.0, 1.5), QString(); },
     "Edit note",
     [](const Song& s, const QString&) {
         const model::Note& n = s.noteAt(0);
         EXPECT_EQ(id(n.id), s.noteIds[0]);
         EXPECT_EQ(n.pitch, 67);
         EXPECT_EQ(n.velocity, 127);
         EXPECT_EQ(n.startBeats, 2.0);
         EXPECT_EQ(n.lengthBeats, 1.5);
         EXPECT_TRUE(n.extra.isEmptyObject()) << "an edit replaces the note whole";
         EXPECT_EQ(s.clip().notes.size(), 3u);
     }},
    {"edit note: velocity -5 is 1, negative start is 0",
     [](Song& s) { return s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[1], 62, -5, -1.0, 0.5), QString(); },
     "Edit note",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.noteAt(1).velocity, 1);
         EXPECT_EQ(s.noteAt(1).startBeats, 0.0);
     }},
    {"remove note", [](Song& s) { return s.rig.project.removeNote(s.keysId, s.clipId, s.noteIds[1]), QString(); },
     "Remove note",
     [](const Song& s, const QString&) {
         ASSERT_EQ(s.clip().notes.size(), 2u);
         EXPECT_EQ(id(s.noteAt(0).id), s.noteIds[0]);
         EXPECT_EQ(id(s.noteAt(1).id), s.noteIds[2]);
     }},
    {"quantize snaps to sixteenths and holds notes inside the clip",
     [](Song& s) { return QString::number(s.rig.project.quantizeClip(s.keysId, s.clipId)); }, "Quantize clip",
     [](const Song& s, const QString& r) {
         EXPECT_EQ(r, "2");
         EXPECT_EQ(s.noteAt(0).startBeats, 0.0);
         EXPECT_EQ(s.noteAt(1).startBeats, 0.5) << "already on the grid";
         EXPECT_EQ(s.noteAt(2).startBeats, 3.5) << "4.0 would end past the clip";
         EXPECT_EQ(s.noteAt(2).lengthBeats, 0.5);
         EXPECT_EQ(id(s.noteAt(2).id), s.noteIds[2]);
     }},
};

TEST(ProjectNotesSteps, EachEditIsOneNamedStepThatUndoesAndRedoesToEqualDocuments) { expectOneStep(kSteps); }

TEST(ProjectNotesSteps, DraggingANoteIsOneStep) {
    Song s;
    const model::Project before = s.doc();
    for (double start : {1.0, 1.5, 2.0}) {
        s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[1], 62, 100, start, 0.5);
    }
    EXPECT_EQ(s.noteAt(1).startBeats, 2.0);
    s.rig.project.undo();
    EXPECT_TRUE(s.doc() == before);
    EXPECT_FALSE(s.rig.project.canUndo());
}

// ---- Silent refusals --------------------------------------------------------------------

const std::vector<std::pair<const char*, std::function<void(Song&)>>> kSilent = {
    {"add pitch 128", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 128, 100, 0, 1).isEmpty()); }},
    {"add pitch -1", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, -1, 100, 0, 1).isEmpty()); }},
    {"add length 0", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 0, 0).isEmpty()); }},
    {"add length below 0", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 0, -1).isEmpty()); }},
    {"add length no number", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 0, kNaN).isEmpty()); }},
    {"add length endless", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 0, kInf).isEmpty()); }},
    {"add start no number", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, kNaN, 1).isEmpty()); }},
    {"add start endless below", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, -kInf, 1).isEmpty()); }},
    {"add start past the song's limit",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 100001.0, 1).isEmpty()); }},
    {"add length past the song's limit",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 0, 1e6).isEmpty()); }},
    {"add ending past the song's limit",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, s.clipId, 60, 100, 99995.0, 2.0).isEmpty()); }},
    {"add on unknown track", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(kUnknown, s.clipId, 60, 100, 0, 1).isEmpty()); }},
    {"add on unknown clip", [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.keysId, kGarbage, 60, 100, 0, 1).isEmpty()); }},
    {"add on clip of another track",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addNote(s.audioId, s.clipId, 60, 100, 0, 1).isEmpty()); }},
    {"edit to the same note", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[1], 62, 100, 0.5, 0.5); }},
    {"edit to the same note, velocity clamped alike",
     [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[2], 64, 200, 3.9, 0.5); }},
    // Regression: an id that parses but names no note threw out of the member, which a call
    // from the QML cannot survive.
    {"edit a note the clip does not hold", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, kUnknown, 60, 100, 0, 1); }},
    {"edit an unparseable note id", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, kGarbage, 60, 100, 0, 1); }},
    {"edit to pitch 128", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[0], 128, 100, 0, 1); }},
    {"edit to length 0", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[0], 60, 100, 0, 0); }},
    {"edit to no number", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[0], 60, 100, kNaN, 1); }},
    {"edit past the song's limit", [](Song& s) { s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[0], 60, 100, 1e9, 1); }},
    {"edit on unknown track", [](Song& s) { s.rig.project.editNote(kUnknown, s.clipId, s.noteIds[0], 61, 100, 0, 1); }},
    {"remove unknown note", [](Song& s) { s.rig.project.removeNote(s.keysId, s.clipId, kUnknown); }},
    {"remove unparseable note", [](Song& s) { s.rig.project.removeNote(s.keysId, s.clipId, kGarbage); }},
    {"remove from unknown clip", [](Song& s) { s.rig.project.removeNote(s.keysId, kUnknown, s.noteIds[0]); }},
    {"quantize unknown clip", [](Song& s) { EXPECT_EQ(s.rig.project.quantizeClip(s.keysId, kUnknown), 0); }},
    {"quantize unknown track", [](Song& s) { EXPECT_EQ(s.rig.project.quantizeClip(kGarbage, s.clipId), 0); }},
    {"quantize a clip on the grid",
     [](Song& s) {
         s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[0], 60, 100, 0.0, 1.0);
         s.rig.project.editNote(s.keysId, s.clipId, s.noteIds[2], 64, 127, 3.5, 0.5);
     }},
    {"pattern on unknown track", [](Song& s) { s.rig.project.addPattern(kUnknown); }},
    {"pattern on an audio track", [](Song& s) { s.rig.project.addPattern(s.audioId); }},
    {"stop without recording", [](Song& s) { s.rig.project.stopRecording(); }},
    {"notes without recording",
     [](Song& s) {
         s.rig.project.recordNote(60, 100);
         s.rig.project.recordNoteOff(60);
     }},
};

TEST(ProjectNotesSteps, UnknownIdsRefusedValuesAndNoOpsRecordNothingAndSayNothing) {
    for (const auto& [label, edit] : kSilent) {
        SCOPED_TRACE(label);
        Song s;
        // The on-grid case edits first: it compares against its own edited song.
        const bool onGrid = std::string(label) == "quantize a clip on the grid";
        if (onGrid) {
            edit(s);
        }
        const model::Project before = s.doc();
        const std::optional<std::string> undoText = s.rig.project.canUndo()
                                                        ? std::optional(s.rig.project.undoText().toStdString())
                                                        : std::nullopt;
        QSignalSpy messages(&s.rig.project, &ProjectController::messageChanged);
        QSignalSpy history(&s.rig.project, &ProjectController::historyChanged);
        QSignalSpy changed(&s.rig.project, &ProjectController::projectChanged);
        if (onGrid) {
            EXPECT_EQ(s.rig.project.quantizeClip(s.keysId, s.clipId), 0);
        } else {
            edit(s);
        }
        EXPECT_TRUE(s.doc() == before);
        EXPECT_EQ(s.rig.project.canUndo() ? std::optional(s.rig.project.undoText().toStdString()) : std::nullopt,
                  undoText);
        EXPECT_EQ(messages.count(), 0);
        EXPECT_EQ(history.count(), 0);
        EXPECT_EQ(changed.count(), 0);
    }
}

// ---- Patterns ---------------------------------------------------------------------------

struct PatternSong {
    explicit PatternSong(model::Track track) : trackId(id(track.id)) { song.open({std::move(track)}); }
    const model::Track& track() const { return song.at(0); }
    const model::Clip& pattern() const { return track().clips.back(); }

    Song song;
    QString trackId;
};

TEST(ProjectNotesPatterns, ADrumTrackWithoutAnInstrumentGetsTheBeatAndModularDrums) {
    PatternSong p(track("Kick Drums"));
    const model::Project before = p.song.doc();
    QSignalSpy messages(&p.song.rig.project, &ProjectController::messageChanged);
    p.song.rig.project.addPattern(p.trackId);

    const model::Clip& c = p.pattern();
    EXPECT_EQ(c.name, "Pattern");
    EXPECT_EQ(c.startBeats, 0.0);
    EXPECT_EQ(c.lengthBeats, 16.0);
    ASSERT_EQ(c.notes.size(), 52u);
    EXPECT_EQ(p.track().instrumentPatch, "Modular Drums");
    for (int bar = 0; bar < 4; ++bar) {
        const auto* n = &c.notes[static_cast<std::size_t>(bar * 13)];
        EXPECT_EQ(n[0].pitch, 36);
        EXPECT_EQ(n[0].velocity, 115);
        EXPECT_EQ(n[0].startBeats, 4.0 * bar);
        EXPECT_EQ(n[2].startBeats, 4.0 * bar + 2.5);
        EXPECT_EQ(n[2].velocity, 90);
        EXPECT_EQ(n[3].pitch, 38);
        EXPECT_EQ(n[4].startBeats, 4.0 * bar + 3.0);
        for (int i = 0; i < 8; ++i) {
            const model::Note& hat = n[5 + i];
            EXPECT_EQ(hat.pitch, bar == 3 && i == 7 ? 46 : 42) << bar << " " << i;
            EXPECT_EQ(hat.velocity, i % 2 == 0 ? 95 : 70);
            EXPECT_EQ(hat.startBeats, 4.0 * bar + 0.5 * i);
            EXPECT_EQ(hat.lengthBeats, 0.25);
        }
    }
    EXPECT_EQ(p.song.rig.project.message(), "Added a 4-bar drum beat. Press Render to hear it.");
    EXPECT_FALSE(p.song.rig.project.problem());
    EXPECT_EQ(messages.count(), 1);
    EXPECT_EQ(p.song.rig.project.undoText(), "Add pattern");

    const model::Project after = p.song.doc();
    p.song.rig.project.undo();
    EXPECT_TRUE(p.song.doc() == before);
    EXPECT_FALSE(p.song.rig.project.canUndo()) << "clip and instrument are one step";
    p.song.rig.project.redo();
    EXPECT_TRUE(p.song.doc() == after);
}

TEST(ProjectNotesPatterns, TheModularDrumsInstrumentAloneMakesADrumTrack) {
    PatternSong p(track("Groove", "Modular Drums"));
    p.song.rig.project.addPattern(p.trackId);
    EXPECT_EQ(p.pattern().notes.size(), 52u);
    EXPECT_EQ(p.song.rig.project.message(), "Added a 4-bar drum beat. Press Render to hear it.");
}

TEST(ProjectNotesPatterns, ABassTrackGetsTheLineOnC2AndKeepsItsInstrument) {
    model::Track bass = track("Bass", "FM Bass");
    bass.clips.push_back(clipAt(0.0, 4.0));
    bass.clips.push_back(clipAt(4.0, 4.0));
    PatternSong p(bass);
    p.song.rig.project.addPattern(p.trackId);
    const model::Clip& c = p.pattern();
    EXPECT_EQ(c.startBeats, 8.0) << "after the last clip";
    ASSERT_EQ(c.notes.size(), 32u);
    const int steps[] = {0, 3, 7, 10, 12, 10, 7, 3};
    for (int i = 0; i < 32; ++i) {
        const model::Note& n = c.notes[static_cast<std::size_t>(i)];
        EXPECT_EQ(n.pitch, 36 + steps[i % 8]);
        EXPECT_EQ(n.velocity, i % 4 == 0 ? 115 : 90);
        EXPECT_EQ(n.startBeats, 0.5 * i);
        EXPECT_EQ(n.lengthBeats, 0.45);
    }
    EXPECT_EQ(p.track().instrumentPatch, "FM Bass");
    EXPECT_EQ(p.song.rig.project.message(), "Added a 4-bar pattern. Press Render to hear it.");
    EXPECT_EQ(p.song.rig.project.undoText(), "Add pattern");
}

TEST(ProjectNotesPatterns, AnyOtherTrackGetsTheArpeggioOnMiddleCAndModularLead) {
    PatternSong p(track("Chords"));
    p.song.rig.project.addPattern(p.trackId);
    EXPECT_EQ(p.pattern().notes[0].pitch, 60);
    EXPECT_EQ(p.pattern().notes[4].pitch, 72);
    EXPECT_EQ(p.track().instrumentPatch, "Modular Lead");
    PatternSong lower(track("sub BASS"));
    lower.song.rig.project.addPattern(lower.trackId);
    EXPECT_EQ(lower.track().instrumentPatch, "Modular Bass") << "names match in any case";
}

TEST(ProjectNotesPatterns, APatternThatWouldEndPastTheSongsLimitIsRefused) {
    model::Track late = track("Late");
    late.clips.push_back(clipAt(99980.0, 8.0));
    PatternSong p(late);
    QSignalSpy messages(&p.song.rig.project, &ProjectController::messageChanged);
    p.song.rig.project.addPattern(p.trackId);
    EXPECT_EQ(p.track().clips.size(), 1u);
    EXPECT_FALSE(p.song.rig.project.canUndo());
    EXPECT_EQ(messages.count(), 0);
}

// ---- Recording --------------------------------------------------------------------------

// A failing sound card: play cannot start.
class DeadCard final : public engine::IAudioBackend {
public:
    std::string backendName() override { return "Dead"; }
    std::vector<engine::AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const engine::AudioConfig&, engine::RenderCallback, void*, std::string* error) override {
        if (error != nullptr) *error = "no device";
        return false;
    }
    void close() override {}
    engine::BackendState state() const override { return engine::BackendState::Failed; }
    engine::LoadStats loadStats() const override { return {}; }
};

struct Take : Song {
    // Plays the hand-driven card on by that many beats and lets the transport show it.
    void advance(double beats) {
        const double framesPerBeat = rig.audio.engine().config().sampleRate * 60.0 / rig.transport.tempo();
        for (auto frames = std::llround(beats * framesPerBeat); frames > 0; frames -= 512) {
            rig.pull(static_cast<std::uint32_t>(std::min<long long>(frames, 512)));
        }
        rig.transport.tick();
    }
    void startAt(double beat) {
        rig.transport.setStartBeat(beat);
        rig.project.startRecording(keysId);
        ASSERT_TRUE(rig.project.recording());
    }
    const model::Clip& recorded() const { return clip(0, 1); }
};

TEST(ProjectNotesRecording, AShortPressBecomesANoteInAClipToTheNextBarLine) {
    Take t;
    QSignalSpy recordingChanged(&t.rig.project, &ProjectController::recordingChanged);
    t.startAt(5.0);
    EXPECT_TRUE(t.rig.transport.playing());
    EXPECT_EQ(t.rig.project.message(), QString::fromUtf8("Recording… play the instrument, then press Record again to keep it."));
    EXPECT_FALSE(t.rig.project.problem());
    t.advance(0.25);
    t.rig.project.recordNote(60, 90);
    t.advance(0.02);
    t.rig.project.recordNoteOff(60);
    EXPECT_EQ(t.at(0).clips.size(), 1u) << "nothing enters the song before the end";
    const model::Project before = t.doc();
    t.rig.project.stopRecording();

    EXPECT_FALSE(t.rig.project.recording());
    EXPECT_EQ(recordingChanged.count(), 2);
    EXPECT_TRUE(t.rig.transport.playing()) << "stopping the take leaves the song playing";
    const model::Clip& c = t.recorded();
    EXPECT_EQ(c.name, "Recording");
    EXPECT_EQ(c.startBeats, 5.0);
    EXPECT_EQ(c.lengthBeats, 3.0);
    ASSERT_EQ(c.notes.size(), 1u);
    EXPECT_EQ(c.notes[0].pitch, 60);
    EXPECT_EQ(c.notes[0].velocity, 90);
    EXPECT_DOUBLE_EQ(c.notes[0].startBeats, 0.25);
    EXPECT_EQ(c.notes[0].lengthBeats, 0.0625);
    EXPECT_EQ(t.rig.project.message(), "Recorded 1 notes into a clip. It can be undone.");
    EXPECT_FALSE(t.rig.project.problem());
    EXPECT_EQ(t.rig.project.undoText(), "Record performance");

    const model::Project after = t.doc();
    t.rig.project.undo();
    EXPECT_TRUE(t.doc() == before);
    EXPECT_FALSE(t.rig.project.canUndo());
    t.rig.project.redo();
    EXPECT_TRUE(t.doc() == after);
}

// Regression: the take started where the transport's position stood right after play, which
// is the old place until the audio thread has run.
TEST(ProjectNotesRecording, TheTakeStartsAtTheStartBeatBeforeTheAudioThreadRuns) {
    Take t;
    t.startAt(9.0);
    t.rig.project.recordNote(62, 100);
    t.advance(1.0);
    t.rig.project.stopRecording();
    EXPECT_EQ(t.recorded().startBeats, 9.0);
    EXPECT_EQ(t.recorded().notes[0].startBeats, 0.0);
    EXPECT_DOUBLE_EQ(t.recorded().notes[0].lengthBeats, 1.0);
}

TEST(ProjectNotesRecording, WhileTheSongPlaysTheTakeStartsAtItsPosition) {
    Take t;
    t.rig.transport.setStartBeat(1.0);
    t.rig.transport.play();
    t.advance(2.5);
    t.rig.project.startRecording(t.keysId);
    t.advance(0.5);
    t.rig.project.recordNote(62, 100);
    t.rig.project.stopRecording();
    EXPECT_DOUBLE_EQ(t.recorded().startBeats, 3.5);
    EXPECT_DOUBLE_EQ(t.recorded().notes[0].startBeats, 0.5);
    EXPECT_DOUBLE_EQ(t.recorded().lengthBeats, 8.0 - 3.5) << "to the bar line after the note";
}

TEST(ProjectNotesRecording, TheSameKeyAgainClosesTheFirstNote) {
    Take t;
    t.startAt(0.0);
    t.rig.project.recordNote(64, 100);
    t.advance(0.5);
    t.rig.project.recordNote(64, 80);
    t.advance(0.25);
    t.rig.project.recordNoteOff(64);
    t.rig.project.recordNoteOff(64);  // nothing left open: nothing happens
    t.rig.project.stopRecording();
    const model::Clip& c = t.recorded();
    ASSERT_EQ(c.notes.size(), 2u);
    EXPECT_DOUBLE_EQ(c.notes[0].lengthBeats, 0.5);
    EXPECT_DOUBLE_EQ(c.notes[1].startBeats, 0.5);
    EXPECT_DOUBLE_EQ(c.notes[1].lengthBeats, 0.25);
    EXPECT_EQ(c.notes[1].velocity, 80);
    EXPECT_EQ(c.lengthBeats, 4.0) << "never shorter than a bar from beat 0";
}

TEST(ProjectNotesRecording, VelocitiesAreClampedAndPitchesOutsideTheRangeDropped) {
    Take t;
    t.startAt(0.0);
    t.rig.project.recordNote(60, 0);
    t.rig.project.recordNote(61, 300);
    t.rig.project.recordNote(128, 100);
    t.rig.project.recordNote(-1, 100);
    t.advance(0.5);
    t.rig.project.stopRecording();
    const model::Clip& c = t.recorded();
    ASSERT_EQ(c.notes.size(), 2u);
    EXPECT_EQ(c.notes[0].velocity, 1);
    EXPECT_EQ(c.notes[1].velocity, 127);
    EXPECT_EQ(t.rig.project.message(), "Recorded 2 notes into a clip. It can be undone.");
}

TEST(ProjectNotesRecording, ANoteHeldWhenTheTakeIsKeptLastsUntilThen) {
    Take t;
    t.startAt(4.0);
    t.advance(0.5);
    t.rig.project.recordNote(60, 100);
    t.advance(2.25);
    t.rig.project.stopRecording();
    ASSERT_EQ(t.recorded().notes.size(), 1u);
    EXPECT_DOUBLE_EQ(t.recorded().notes[0].lengthBeats, 2.25);
}

// The transport is back at 0 when it says it stopped; a held note would otherwise shrink to
// the shortest length.
TEST(ProjectNotesRecording, StoppingTheSongKeepsTheTakeAndHeldNotesLastUntilTheStop) {
    Take t;
    t.startAt(4.0);
    t.advance(0.5);
    t.rig.project.recordNote(60, 100);
    t.advance(0.5);
    t.rig.project.recordNote(67, 100);
    t.advance(1.0);
    t.rig.project.recordNoteOff(60);
    t.advance(1.5);
    t.rig.transport.stop();
    EXPECT_FALSE(t.rig.project.recording());
    const model::Clip& c = t.recorded();
    ASSERT_EQ(c.notes.size(), 2u);
    EXPECT_DOUBLE_EQ(c.notes[0].lengthBeats, 1.5);
    EXPECT_DOUBLE_EQ(c.notes[1].startBeats, 1.0);
    EXPECT_DOUBLE_EQ(c.notes[1].lengthBeats, 2.5) << "held across the end of the take";
    EXPECT_EQ(c.lengthBeats, 4.0);
    EXPECT_EQ(t.rig.project.undoText(), "Record performance");
}

// Regression: after the loop went back, notes were placed at the record start, one on top of
// another, and a note held across the wrap got the shortest length.
TEST(ProjectNotesRecording, AfterTheLoopWrapsNotesLieWhereTheyWerePlayedInThatPass) {
    Take t;
    t.rig.transport.setLoopRange(4.0, 8.0);
    t.startAt(5.0);
    t.advance(1.0);
    t.rig.project.recordNote(60, 100);  // 6.0
    t.advance(0.5);
    t.rig.project.recordNoteOff(60);
    t.advance(1.0);
    t.rig.project.recordNote(67, 100);  // 7.5, held across the wrap
    t.advance(1.0);                     // 8.0 is 4.0 again: now 4.5
    ASSERT_DOUBLE_EQ(t.rig.transport.positionBeats(), 4.5);
    t.rig.project.recordNoteOff(67);
    t.rig.project.recordNote(64, 100);  // 4.5 in the second pass
    t.advance(0.5);
    t.rig.project.recordNoteOff(64);
    t.rig.project.stopRecording();

    const model::Clip& c = t.recorded();
    EXPECT_DOUBLE_EQ(c.startBeats, 4.5) << "the earliest note played";
    ASSERT_EQ(c.notes.size(), 3u);
    EXPECT_DOUBLE_EQ(c.notes[0].startBeats, 1.5);
    EXPECT_DOUBLE_EQ(c.notes[0].lengthBeats, 0.5);
    EXPECT_DOUBLE_EQ(c.notes[1].startBeats, 3.0);
    EXPECT_DOUBLE_EQ(c.notes[1].lengthBeats, 1.0);
    EXPECT_DOUBLE_EQ(c.notes[2].startBeats, 0.0);
    EXPECT_DOUBLE_EQ(c.notes[2].lengthBeats, 0.5);
    EXPECT_DOUBLE_EQ(c.lengthBeats, 12.0 - 4.5) << "to the bar line after the held note's end";
}

TEST(ProjectNotesRecording, ATakeWithNoKeyPressedAddsNothingAndSaysSo) {
    Take t;
    t.startAt(0.0);
    t.advance(1.0);
    QSignalSpy history(&t.rig.project, &ProjectController::historyChanged);
    t.rig.transport.stop();
    EXPECT_FALSE(t.rig.project.recording());
    EXPECT_EQ(t.at(0).clips.size(), 1u);
    EXPECT_EQ(history.count(), 0);
    EXPECT_FALSE(t.rig.project.canUndo());
    EXPECT_EQ(t.rig.project.message(), QString::fromUtf8("Recording stopped — nothing was played, so no clip was added."));
    EXPECT_FALSE(t.rig.project.problem());
}

TEST(ProjectNotesRecording, NotesPastTheSongsLimitAreDropped) {
    Take t;
    t.startAt(99999.5);
    t.rig.project.recordNote(60, 100);
    t.advance(1.0);
    t.rig.project.stopRecording();
    EXPECT_EQ(t.at(0).clips.size(), 1u);
    EXPECT_FALSE(t.rig.project.canUndo());
}

TEST(ProjectNotesRecording, ATrackRemovedDuringTheTakeIsReported) {
    Take t;
    t.startAt(0.0);
    t.rig.project.recordNote(60, 100);
    t.rig.project.removeTrack(t.keysId);
    t.rig.project.stopRecording();
    EXPECT_EQ(t.rig.project.message(), "Recording finished, but the track is gone.");
    EXPECT_TRUE(t.rig.project.problem());
    EXPECT_EQ(t.rig.project.undoText(), "Remove track");
}

TEST(ProjectNotesRecording, StartingAgainWhileRecordingChangesNothing) {
    Take t;
    t.startAt(0.0);
    t.rig.project.recordNote(60, 100);
    QSignalSpy messages(&t.rig.project, &ProjectController::messageChanged);
    QSignalSpy recordingChanged(&t.rig.project, &ProjectController::recordingChanged);
    t.rig.project.startRecording(t.audioId);
    EXPECT_EQ(messages.count(), 0);
    EXPECT_EQ(recordingChanged.count(), 0);
    t.advance(1.0);
    t.rig.project.stopRecording();
    EXPECT_EQ(t.recorded().notes.size(), 1u) << "the first take went on";
}

TEST(ProjectNotesRecording, AnUnknownOrAudioTrackIsRefusedWithAProblem) {
    const std::pair<const char*, QString> cases[] = {
        {"unknown", "Choose a track to record onto first."},
        {"audio", "Playing is recorded onto a MIDI track: pick one (recording audio from a microphone comes later)."},
    };
    for (const auto& [which, text] : cases) {
        SCOPED_TRACE(which);
        Take t;
        QSignalSpy recordingChanged(&t.rig.project, &ProjectController::recordingChanged);
        t.rig.project.startRecording(std::string(which) == "audio" ? t.audioId : kUnknown);
        EXPECT_FALSE(t.rig.project.recording());
        EXPECT_FALSE(t.rig.transport.playing());
        EXPECT_EQ(recordingChanged.count(), 0);
        EXPECT_EQ(t.rig.project.message(), text);
        EXPECT_TRUE(t.rig.project.problem());
    }
}

// Regression: when play could not start, recording said it had begun.
TEST(ProjectNotesRecording, WhenPlayCannotStartNothingIsRecordingAndTheMessageSaysWhy) {
    ProjectRig rig({}, std::make_unique<DeadCard>());
    const QString track = rig.project.addTrack();
    QSignalSpy recordingChanged(&rig.project, &ProjectController::recordingChanged);
    rig.project.startRecording(track);
    EXPECT_FALSE(rig.transport.playing());
    EXPECT_FALSE(rig.project.recording());
    EXPECT_EQ(recordingChanged.count(), 0);
    EXPECT_TRUE(rig.project.problem());
    EXPECT_TRUE(rig.project.message().startsWith("Recording did not start: the song could not play."))
        << rig.project.message().toStdString();
    EXPECT_TRUE(rig.project.message().contains(rig.audio.status())) << rig.project.message().toStdString();
    EXPECT_TRUE(rig.project.message().contains("no device")) << rig.project.message().toStdString();
    rig.project.recordNote(60, 100);
    rig.project.stopRecording();
    EXPECT_EQ(rig.project.undoText(), "Add track");
}

}  // namespace
