#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "devices/instruments/InstrumentConfig.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

model::Note note(int pitch, double start, double length) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

nlohmann::json fullRack() {
    nlohmann::json pads = nlohmann::json::array();
    for (int n = 36; n < 52; ++n) {
        pads.push_back({{"note", n}, {"sample", "kick.01.wav"}});
    }
    return {{"pads", pads}};
}

// A song at 120 BPM: a bare MIDI track with a clip of two notes at 4..8, an audio track with a
// clip of "two.wav", a full Drum Rack, and samples of 2 s, 0.05 s and 1 s.
struct Song {
    Song() {
        rig.writeSample("two.wav", 96000);
        rig.writeSample("blip.wav", 2400);
        rig.writeSample("kick.01.wav", 48000);
        std::ofstream(rig.samples() / "broken.wav") << "not a sound";

        model::Track midi = track("Track 1", "");
        model::Clip verse;
        verse.id = model::Uuid::generate();
        verse.name = "Verse";
        verse.startBeats = 4.0;
        verse.lengthBeats = 4.0;
        verse.notes = {note(60, 1.5, 1.0), note(64, 2.0, 1.0)};
        midi.clips.push_back(verse);
        model::Track audio = track("Audio 1", "");
        audio.kind = model::kAudioTrackKind;
        model::Clip loop;
        loop.id = model::Uuid::generate();
        loop.name = "two";
        loop.audioSource = "two.wav";
        loop.audioOffsetSeconds = 0.5;
        audio.clips.push_back(loop);
        model::Track drums = track("Drums", "Drum Rack", fullRack());
        midiId = id(midi.id);
        audioId = id(audio.id);
        drumsId = id(drums.id);
        verseId = id(verse.id);
        loopId = id(loop.id);

        rig.writeProject("song.ostproj",
                         model::makeProject(model::Uuid::generate(), "Song", 120.0, {midi, audio, drums}, {}));
        EXPECT_TRUE(rig.project.openProject("song.ostproj"));
    }

    const model::Project& doc() const { return rig.project.document(); }
    const model::Track& at(int index) const { return doc().tracks()[static_cast<std::size_t>(index)]; }
    const model::Clip& clip(int trackIndex, int clipIndex) const {
        return at(trackIndex).clips[static_cast<std::size_t>(clipIndex)];
    }

    ProjectRig rig;
    QString midiId, audioId, drumsId, verseId, loopId;
};

// ---- One undo step per edit -------------------------------------------------------------

const std::vector<StepCase<Song>> kSteps = {
    {"add track", [](Song& s) { return s.rig.project.addTrack(); }, "Add track",
     [](const Song& s, const QString& r) {
         const model::Track& t = s.at(3);
         EXPECT_EQ(id(t.id), r);
         EXPECT_EQ(t.name, "Track 4");
         EXPECT_EQ(t.kind, "midi");
         EXPECT_EQ(t.volume, 1.0);
         EXPECT_TRUE(t.clips.empty() && t.devices.empty() && t.instrumentPatch.empty() && !t.muted && !t.solo);
     }},
    {"add audio track", [](Song& s) { return s.rig.project.addAudioTrack(); }, "Add track",
     [](const Song& s, const QString& r) {
         EXPECT_EQ(id(s.at(3).id), r);
         EXPECT_EQ(s.at(3).name, "Audio 2") << "Audio 1 is taken";
         EXPECT_EQ(s.at(3).kind, "audio");
     }},
    {"remove track", [](Song& s) { return s.rig.project.removeTrack(s.midiId), QString(); }, "Remove track",
     [](const Song& s, const QString&) {
         ASSERT_EQ(s.doc().tracks().size(), 2u);
         EXPECT_EQ(s.at(0).name, "Audio 1");
     }},
    {"rename trims", [](Song& s) { return s.rig.project.renameTrack(s.midiId, "  Bass \t"), QString(); },
     "Rename track", [](const Song& s, const QString&) { EXPECT_EQ(s.at(0).name, "Bass"); }},
    {"mute", [](Song& s) { return s.rig.project.setTrackMuted(s.midiId, true), QString(); }, "Mute track",
     [](const Song& s, const QString&) { EXPECT_TRUE(s.at(0).muted); }},
    {"solo", [](Song& s) { return s.rig.project.setTrackSolo(s.audioId, true), QString(); }, "Solo track",
     [](const Song& s, const QString&) { EXPECT_TRUE(s.at(1).solo); }},
    {"volume to the hundredth", [](Song& s) { return s.rig.project.setTrackVolume(s.midiId, 1.234), QString(); },
     "Set track volume", [](const Song& s, const QString&) { EXPECT_EQ(s.at(0).volume, 1.23); }},
    {"volume held at 1.5", [](Song& s) { return s.rig.project.setTrackVolume(s.midiId, 2.0), QString(); },
     "Set track volume", [](const Song& s, const QString&) { EXPECT_EQ(s.at(0).volume, 1.5); }},
    {"volume held at 0", [](Song& s) { return s.rig.project.setTrackVolume(s.midiId, -1.0), QString(); },
     "Set track volume", [](const Song& s, const QString&) { EXPECT_EQ(s.at(0).volume, 0.0); }},
    {"empty clip at 0, at least a beat", [](Song& s) { return s.rig.project.addEmptyClip(s.midiId, -2.0, 0.5); },
     "Add clip",
     [](const Song& s, const QString& r) {
         const model::Clip& c = s.clip(0, 1);
         EXPECT_EQ(id(c.id), r);
         EXPECT_EQ(c.name, "Clip");
         EXPECT_EQ(c.startBeats, 0.0);
         EXPECT_EQ(c.lengthBeats, 1.0);
         EXPECT_TRUE(c.notes.empty() && c.audioSource.empty());
     }},
    {"empty clip on the grid", [](Song& s) { return s.rig.project.addEmptyClip(s.audioId, 3.0004, 8.0); },
     "Add clip",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.clip(1, 1).startBeats, 3.0);
         EXPECT_EQ(s.clip(1, 1).lengthBeats, 8.0);
     }},
    {"audio clip of two seconds", [](Song& s) { return s.rig.project.addAudioClip(s.audioId, "two.wav", 1.0); },
     "Add clip",
     [](const Song& s, const QString& r) {
         const model::Clip& c = s.clip(1, 1);
         EXPECT_EQ(id(c.id), r);
         EXPECT_EQ(c.name, "two");
         EXPECT_EQ(c.audioSource, "two.wav");
         EXPECT_EQ(c.startBeats, 1.0);
         EXPECT_EQ(c.lengthBeats, 4.0) << "2 s at 120 BPM";
     }},
    {"short audio clip", [](Song& s) { return s.rig.project.addAudioClip(s.audioId, "blip.wav", 0.0); }, "Add clip",
     [](const Song& s, const QString&) { EXPECT_EQ(s.clip(1, 1).lengthBeats, 0.25); }},
    {"audio clip named to the last dot", [](Song& s) { return s.rig.project.addAudioClip(s.audioId, "kick.01.wav", 0.0); },
     "Add clip", [](const Song& s, const QString&) { EXPECT_EQ(s.clip(1, 1).name, "kick.01"); }},
    {"drop on an audio track", [](Song& s) { return QString::number(s.rig.project.dropSample(s.audioId, "two.wav", 2.0)); },
     "Add clip",
     [](const Song& s, const QString& r) {
         EXPECT_EQ(r, "1");
         EXPECT_EQ(s.clip(1, 1).startBeats, 2.0);
     }},
    {"drop on a plain MIDI track makes a Sampler",
     [](Song& s) { return QString::number(s.rig.project.dropSample(s.midiId, "kick.01.wav", 2.0)); }, "Drop sample",
     [](const Song& s, const QString& r) {
         EXPECT_EQ(r, "1");
         EXPECT_EQ(s.at(0).instrumentPatch, "Sampler");
         nlohmann::json expected = engine::defaultInstrumentConfig("Sampler");
         expected["sample"] = "kick.01.wav";
         EXPECT_EQ(s.at(0).instrumentConfig.get(), expected);
         EXPECT_EQ(s.at(0).clips.size(), 1u) << "no clip is placed";
     }},
    {"duplicate", [](Song& s) { return s.rig.project.duplicateClip(s.midiId, s.verseId); }, "Add clip",
     [](const Song& s, const QString& r) {
         const model::Clip& original = s.clip(0, 0);
         const model::Clip& copy = s.clip(0, 1);
         EXPECT_EQ(id(copy.id), r);
         EXPECT_NE(copy.id, original.id);
         EXPECT_EQ(copy.startBeats, 8.0);
         EXPECT_EQ(copy.lengthBeats, 4.0);
         ASSERT_EQ(copy.notes.size(), 2u);
         for (std::size_t i = 0; i < 2; ++i) {
             EXPECT_NE(copy.notes[i].id, original.notes[i].id);
             EXPECT_EQ(copy.notes[i].pitch, original.notes[i].pitch);
             EXPECT_EQ(copy.notes[i].startBeats, original.notes[i].startBeats);
         }
     }},
    {"move within the track", [](Song& s) { return s.rig.project.moveClip(s.midiId, s.verseId, "", 2.0004), QString(); },
     "Edit clip",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.clip(0, 0).startBeats, 2.0);
         EXPECT_EQ(s.clip(0, 0).lengthBeats, 4.0);
     }},
    {"move to another track keeps the id",
     [](Song& s) { return s.rig.project.moveClip(s.midiId, s.verseId, s.audioId, -3.0), QString(); }, "Move clip",
     [](const Song& s, const QString&) {
         EXPECT_TRUE(s.at(0).clips.empty());
         ASSERT_EQ(s.at(1).clips.size(), 2u);
         EXPECT_EQ(id(s.clip(1, 1).id), s.verseId);
         EXPECT_EQ(s.clip(1, 1).startBeats, 0.0);
         EXPECT_EQ(s.clip(1, 1).notes.size(), 2u);
     }},
    {"resize", [](Song& s) { return s.rig.project.resizeClip(s.midiId, s.verseId, 0.1), QString(); }, "Edit clip",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.clip(0, 0).lengthBeats, 0.25);
         EXPECT_EQ(s.clip(0, 0).startBeats, 4.0);
     }},
    {"split a note clip", [](Song& s) { return s.rig.project.splitClip(s.midiId, s.verseId, 6.0); }, "Split clip",
     [](const Song& s, const QString& r) {
         ASSERT_EQ(s.at(0).clips.size(), 2u);
         const model::Clip& left = s.clip(0, 0);
         const model::Clip& right = s.clip(0, 1);
         EXPECT_EQ(id(left.id), s.verseId);
         EXPECT_EQ(id(right.id), r);
         EXPECT_EQ(left.startBeats, 4.0);
         EXPECT_EQ(left.lengthBeats, 2.0);
         EXPECT_EQ(right.startBeats, 6.0);
         EXPECT_EQ(right.lengthBeats, 2.0);
         ASSERT_EQ(left.notes.size(), 1u);
         EXPECT_EQ(left.notes[0].startBeats, 1.5);
         EXPECT_EQ(left.notes[0].lengthBeats, 0.5) << "cut at the split";
         ASSERT_EQ(right.notes.size(), 1u);
         EXPECT_EQ(right.notes[0].startBeats, 0.0);
         EXPECT_EQ(right.notes[0].lengthBeats, 1.0);
         EXPECT_EQ(right.notes[0].pitch, 64);
     }},
    {"split a sound clip moves the offset", [](Song& s) { return s.rig.project.splitClip(s.audioId, s.loopId, 1.0); },
     "Split clip",
     [](const Song& s, const QString&) {
         EXPECT_EQ(s.clip(1, 0).audioOffsetSeconds, 0.5);
         EXPECT_EQ(s.clip(1, 1).audioOffsetSeconds, 1.0) << "one beat at 120 BPM is 0.5 s";
         EXPECT_EQ(s.clip(1, 1).audioSource, "two.wav");
     }},
    {"remove clip", [](Song& s) { return s.rig.project.removeClip(s.midiId, s.verseId), QString(); }, "Remove clip",
     [](const Song& s, const QString&) { EXPECT_TRUE(s.at(0).clips.empty()); }},
};

TEST(ProjectEditingSteps, EachEditIsOneNamedStepThatUndoesAndRedoesToEqualDocuments) { expectOneStep(kSteps); }

// ---- Silent refusals --------------------------------------------------------------------

const QString kUnknown = id(model::Uuid::generate());
const QString kGarbage = QStringLiteral("not-an-id");

const std::vector<std::pair<const char*, std::function<void(Song&)>>> kSilent = {
    {"remove unknown track", [](Song& s) { s.rig.project.removeTrack(kUnknown); }},
    {"rename unparseable id", [](Song& s) { s.rig.project.renameTrack(kGarbage, "X"); }},
    {"rename to spaces", [](Song& s) { s.rig.project.renameTrack(s.midiId, "   "); }},
    {"rename to the same name", [](Song& s) { s.rig.project.renameTrack(s.midiId, " Track 1 "); }},
    {"mute unknown", [](Song& s) { s.rig.project.setTrackMuted(kUnknown, true); }},
    {"unmute an unmuted track", [](Song& s) { s.rig.project.setTrackMuted(s.midiId, false); }},
    {"unsolo an unsoloed track", [](Song& s) { s.rig.project.setTrackSolo(s.midiId, false); }},
    {"volume that rounds to the current", [](Song& s) { s.rig.project.setTrackVolume(s.midiId, 1.004); }},
    // Regression: numbers that are not finite made clips and volumes no file can hold.
    {"volume that is no number", [](Song& s) { s.rig.project.setTrackVolume(s.midiId, kNaN); }},
    {"volume of unknown track", [](Song& s) { s.rig.project.setTrackVolume(kGarbage, 0.5); }},
    {"empty clip on unknown track", [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(kUnknown, 0, 4).isEmpty()); }},
    {"empty clip at no number", [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(s.midiId, kNaN, 4).isEmpty()); }},
    {"empty clip of endless length", [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(s.midiId, 0, kInf).isEmpty()); }},
    {"audio clip on unknown track", [](Song& s) { EXPECT_TRUE(s.rig.project.addAudioClip(kUnknown, "two.wav", 0).isEmpty()); }},
    {"drop on unknown track", [](Song& s) { EXPECT_FALSE(s.rig.project.dropSample(kGarbage, "two.wav", 0)); }},
    {"duplicate unknown clip", [](Song& s) { EXPECT_TRUE(s.rig.project.duplicateClip(s.midiId, s.loopId).isEmpty()); }},
    {"move to own start", [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, "", 4.0); }},
    {"move to own start, own track named", [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, s.midiId, 4.0004); }},
    {"move to unknown track", [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, kUnknown, 0.0); }},
    {"move to no number", [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, s.audioId, kNaN); }},
    {"move clip of another track", [](Song& s) { s.rig.project.moveClip(s.audioId, s.verseId, s.midiId, 0.0); }},
    {"resize to the same length", [](Song& s) { s.rig.project.resizeClip(s.midiId, s.verseId, 3.9999); }},
    {"resize to no number", [](Song& s) { s.rig.project.resizeClip(s.midiId, s.verseId, kNaN); }},
    // Regression: a clip of 1e300 beats was taken, and no render survives it.
    {"empty clip beyond the song's end",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(s.midiId, 100001, 4).isEmpty()); }},
    {"empty clip longer than a song",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(s.midiId, 0, 1e300).isEmpty()); }},
    {"audio clip beyond the song's end",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addAudioClip(s.audioId, "two.wav", 1e9).isEmpty()); }},
    {"move beyond the song's end", [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, "", 100000.5); }},
    {"resize longer than a song", [](Song& s) { s.rig.project.resizeClip(s.midiId, s.verseId, 2e5); }},
    // Regression: clips were checked for where they start, not where they end, so a clip could
    // run past the limit that a pattern keeps to.
    {"empty clip that would end past the song's end",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(s.midiId, 99999, 4).isEmpty()); }},
    {"short empty clip, made a beat long, past the song's end",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addEmptyClip(s.midiId, 99999.5, 0.5).isEmpty()); }},
    {"audio clip that would end past the song's end",
     [](Song& s) { EXPECT_TRUE(s.rig.project.addAudioClip(s.audioId, "two.wav", 99997).isEmpty()); }},
    {"move so that the clip ends past the song's end",
     [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, "", 99997); }},
    {"move onto another track, ending past the song's end",
     [](Song& s) { s.rig.project.moveClip(s.midiId, s.verseId, s.drumsId, 99997); }},
    {"resize so that the clip ends past the song's end",
     [](Song& s) { s.rig.project.resizeClip(s.midiId, s.verseId, 99997); }},
    {"split near the start", [](Song& s) { EXPECT_TRUE(s.rig.project.splitClip(s.midiId, s.verseId, 4.2).isEmpty()); }},
    {"split near the end", [](Song& s) { EXPECT_TRUE(s.rig.project.splitClip(s.midiId, s.verseId, 7.9).isEmpty()); }},
    {"split outside", [](Song& s) { EXPECT_TRUE(s.rig.project.splitClip(s.midiId, s.verseId, 20.0).isEmpty()); }},
    {"split at no number", [](Song& s) { EXPECT_TRUE(s.rig.project.splitClip(s.midiId, s.verseId, kNaN).isEmpty()); }},
    {"remove unknown clip", [](Song& s) { s.rig.project.removeClip(s.midiId, kUnknown); }},
};

TEST(ProjectEditingClips, TheSongsLimitIsTheLastPlaceAClipMayEnd) {
    Song s;
    const QString last = s.rig.project.addEmptyClip(s.midiId, ProjectController::kMaxBeats - 4, 4);
    ASSERT_FALSE(last.isEmpty()) << "the limit itself is a place to end";
    EXPECT_TRUE(s.rig.project.duplicateClip(s.midiId, last).isEmpty()) << "the copy would end beyond it";
    s.rig.project.resizeClip(s.midiId, s.verseId, ProjectController::kMaxBeats - 4);
    EXPECT_EQ(s.clip(0, 0).lengthBeats, ProjectController::kMaxBeats - 4) << "the verse starts at beat 4";
    EXPECT_EQ(s.at(0).clips.size(), 2u);
}

TEST(ProjectEditingSteps, UnknownIdsRefusedValuesAndNoOpsRecordNothingAndSayNothing) {
    for (const auto& [label, edit] : kSilent) {
        SCOPED_TRACE(label);
        Song s;
        const model::Project before = s.doc();
        QSignalSpy messages(&s.rig.project, &ProjectController::messageChanged);
        QSignalSpy history(&s.rig.project, &ProjectController::historyChanged);
        edit(s);
        EXPECT_TRUE(s.doc() == before);
        EXPECT_FALSE(s.rig.project.canUndo());
        EXPECT_EQ(messages.count(), 0);
        EXPECT_EQ(history.count(), 0);
    }
}

// ---- Refusals that say why ----------------------------------------------------------------

struct ProblemCase {
    const char* label;
    std::function<bool(Song&)> edit;  // true when the member's result is its empty one
    QString message;
};

const std::vector<ProblemCase> kProblems = {
    {"sound file on a MIDI track", [](Song& s) { return s.rig.project.addAudioClip(s.midiId, "two.wav", 0).isEmpty(); },
     "Sound files go on an audio track: add one with Edit > Add audio track."},
    {"unreadable sound file", [](Song& s) { return s.rig.project.addAudioClip(s.audioId, "broken.wav", 0).isEmpty(); },
     "The sound file broken.wav could not be read: "},
    {"missing sound file dropped", [](Song& s) { return !s.rig.project.dropSample(s.midiId, "gone.wav", 0); },
     "The sound file gone.wav could not be read: "},
    {"a path dropped", [](Song& s) { return !s.rig.project.dropSample(s.audioId, "../two.wav", 0); },
     "../two.wav is not a plain file name."},
    {"a full Drum Rack", [](Song& s) { return !s.rig.project.dropSample(s.drumsId, "two.wav", 0); },
     "All 16 pads of this Drum Rack already have a sound: drop it on a pad to replace that one."},
};

TEST(ProjectEditingSteps, RefusedSoundFilesAndAFullRackSayWhyAndRecordNothing) {
    for (const ProblemCase& problem : kProblems) {
        SCOPED_TRACE(problem.label);
        Song s;
        const model::Project before = s.doc();
        QSignalSpy messages(&s.rig.project, &ProjectController::messageChanged);
        EXPECT_TRUE(problem.edit(s));
        EXPECT_TRUE(s.rig.project.message().startsWith(problem.message)) << s.rig.project.message().toStdString();
        EXPECT_TRUE(s.rig.project.problem());
        EXPECT_EQ(messages.count(), 1);
        EXPECT_TRUE(s.doc() == before);
        EXPECT_FALSE(s.rig.project.canUndo());
    }
}

// ---- Names, merges and the Drum Rack ------------------------------------------------------

TEST(ProjectEditingTracks, NewTracksTakeTheFirstFreeNumber) {
    ProjectRig rig;
    const QString first = rig.project.addTrack();
    rig.project.addTrack();
    EXPECT_EQ(rig.project.document().tracks()[0].name, "Track 1");
    rig.project.removeTrack(first);
    rig.project.addTrack();
    EXPECT_EQ(rig.project.document().tracks()[1].name, "Track 3") << "Track 2 is taken";
    rig.project.addAudioTrack();
    rig.project.addAudioTrack();
    EXPECT_EQ(rig.project.document().tracks()[2].name, "Audio 1");
    EXPECT_EQ(rig.project.document().tracks()[3].name, "Audio 2");
}

TEST(ProjectEditingTracks, DragsOfAVolumeOrAClipAreOneStep) {
    Song s;
    const model::Project before = s.doc();
    s.rig.project.setTrackVolume(s.midiId, 0.5);
    s.rig.project.setTrackVolume(s.midiId, 0.25);
    s.rig.project.moveClip(s.midiId, s.verseId, "", 5.0);
    s.rig.project.moveClip(s.midiId, s.verseId, "", 6.0);
    s.rig.project.resizeClip(s.midiId, s.verseId, 2.0);
    EXPECT_EQ(s.clip(0, 0).startBeats, 6.0);
    EXPECT_EQ(s.clip(0, 0).lengthBeats, 2.0);
    s.rig.project.undo();
    s.rig.project.undo();
    EXPECT_TRUE(s.doc() == before);
    EXPECT_FALSE(s.rig.project.canUndo());
}

TEST(ProjectEditingClips, APadWhoseSampleIsNoTextCountsAsFree) {
    Song s;
    nlohmann::json rack = fullRack();
    rack["pads"][5]["sample"] = 7;
    model::Track drums = track("Odd", "Drum Rack", rack);
    s.rig.writeProject("odd.ostproj", model::makeProject(model::Uuid::generate(), "Odd", 120.0, {drums}, {}));
    ASSERT_TRUE(s.rig.project.openProject("odd.ostproj"));
    QSignalSpy messages(&s.rig.project, &ProjectController::messageChanged);
    EXPECT_TRUE(s.rig.project.dropSample(id(drums.id), "two.wav", 0));
    EXPECT_EQ(messages.count(), 0) << "not a full rack";
}

}  // namespace
