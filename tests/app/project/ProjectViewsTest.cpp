#include "app/project/ProjectController.h"

#include "ProjectTestSupport.h"
#include "devices/DeviceCatalog.h"
#include "devices/effects/EffectPresets.h"
#include "devices/instruments/InstrumentConfig.h"
#include "engine/graph/DeviceNode.h"

#include <QVariantMap>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include <nlohmann/json.hpp>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

model::Note note(int pitch, int velocity, double start, double length) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

model::Clip clip(const std::string& name, double start, double length, std::vector<model::Note> notes = {}) {
    model::Clip c;
    c.id = model::Uuid::generate();
    c.name = name;
    c.startBeats = start;
    c.lengthBeats = length;
    c.notes = std::move(notes);
    return c;
}

// A song with a track of every kind: FM, audio, Sampler, Drum Rack and a bare MIDI track.
struct ViewSong {
    ViewSong() {
        fm = track("Keys", "FM E-Piano", nlohmann::json{{"params", {{"feedback", 0.7}}}});
        fm.clips.push_back(clip("Verse", 0.0, 4.0, {note(60, 100, 1.0 / 3.0, 1.0), note(64, 90, 2.0, 0.5)}));
        fm.clips.push_back(clip("Chorus", 4.0, 4.0, {note(67, 80, 0.0, 2.0)}));
        model::Device delay;
        delay.id = model::Uuid::generate();
        delay.typeId = "ostrel.delay";
        delay.name = "Delay - Slapback";
        delay.parameters = {{"mix", 0.25}, {"legacy_knob", 3.0}};
        fm.devices.push_back(delay);
        model::Device unknown;
        unknown.id = model::Uuid::generate();
        unknown.typeId = "ostrel.mystery";
        unknown.enabled = false;
        unknown.parameters = {{"depth", 0.5}};
        fm.devices.push_back(unknown);
        fm.muted = true;
        fm.volume = 0.5;

        audio = track("Loops", "");
        audio.kind = model::kAudioTrackKind;
        model::Clip loop = clip("Loop", 2.0, 6.0);
        loop.audioSource = "loop.wav";
        loop.audioOffsetSeconds = 0.25;
        audio.clips.push_back(loop);
        model::Clip gone = clip("Gone", 8.0, 1.0);
        gone.audioSource = "gone.wav";
        audio.clips.push_back(gone);
        audio.solo = true;

        sampler = track("Sampler", "Sampler", engine::defaultInstrumentConfig("Sampler"));
        drums = track("Drums", "Drum Rack", engine::defaultInstrumentConfig("Drum Rack"));
        bare = track("Empty", "");

        song = model::makeProject(model::Uuid::generate(), "Views", 120.0, {fm, audio, sampler, drums, bare},
                                  model::JsonValue{});
    }
    model::Track fm, audio, sampler, drums, bare;
    model::Project song;
};

// The maps without their revisions, which differ from one build to the next.
QVariantList withoutRevisions(QVariantList tracks) {
    for (QVariant& entry : tracks) {
        QVariantMap track = entry.toMap();
        track.remove("revision");
        QVariantList clips = track["clipList"].toList();
        for (QVariant& clip : clips) {
            QVariantMap map = clip.toMap();
            map.remove("revision");
            clip = map;
        }
        track["clipList"] = clips;
        entry = track;
    }
    return tracks;
}

class ProjectViews : public ::testing::Test {
protected:
    void SetUp() override {
        rig.writeSample("loop.wav", 24000);  // half a second at 48 kHz
        rig.writeProject("views.ostproj", s.song);
        ASSERT_TRUE(rig.project.openProject("views.ostproj"));
        tracks = rig.project.tracks();
        ASSERT_EQ(tracks.size(), 5);
    }
    QVariantMap trackMap(int index) const { return tracks[index].toMap(); }

    ViewSong s;
    ProjectRig rig;
    QVariantList tracks;
};

TEST_F(ProjectViews, ATrackMapHasExactlyItsKeys) {
    const QStringList keys = {"clipList", "clips", "deviceList", "devices", "fmValues", "id", "index", "instrument",
                              "instrumentConfig", "kind", "muted", "name", "notes", "revision", "solo", "volume"};
    for (const QVariant& entry : tracks) {
        EXPECT_EQ(entry.toMap().keys(), keys);
    }
}

TEST_F(ProjectViews, AnFmTrackShowsItsFieldsClipsAndKnobs) {
    const QVariantMap fm = trackMap(0);
    EXPECT_EQ(fm["id"].toString(), id(s.fm.id));
    EXPECT_EQ(fm["name"].toString(), "Keys");
    EXPECT_EQ(fm["clips"].toInt(), 2);
    EXPECT_EQ(fm["kind"].toString(), "midi");
    EXPECT_EQ(fm["instrument"].toString(), "FM E-Piano");
    EXPECT_TRUE(fm["muted"].toBool());
    EXPECT_FALSE(fm["solo"].toBool());
    EXPECT_EQ(fm["volume"].toDouble(), 0.5);
    EXPECT_EQ(fm["notes"].toInt(), 3);
    EXPECT_EQ(fm["index"].toInt(), 0);
    EXPECT_EQ(fm["devices"].toInt(), 2);
    EXPECT_EQ(fm["instrumentConfig"].toMap(), (QVariantMap{{"params", QVariantMap{{"feedback", 0.7}}}}));

    // Every FM knob: the table's defaults, the instrument's own values, the track's on top.
    const QVariantMap fmValues = fm["fmValues"].toMap();
    const auto scratch = engine::createDevice("ostrel.mod.fm");
    ASSERT_NE(scratch, nullptr);
    for (const engine::ParamDescriptor& knob : scratch->params.descriptors()) {
        EXPECT_TRUE(fmValues.contains(knob.id)) << knob.id;
    }
    EXPECT_EQ(fmValues.size(), static_cast<qsizetype>(scratch->params.descriptors().size()));
    EXPECT_EQ(fmValues["algorithm"].toDouble(), 3.0);
    EXPECT_EQ(fmValues["release_ms"].toDouble(), 250.0);
    EXPECT_EQ(fmValues["op4_ratio"].toDouble(), 14.0);
    EXPECT_EQ(fmValues["feedback"].toDouble(), 0.7);
}

// A clip map carries no notes; a view that draws or edits the clip asks for them.
TEST_F(ProjectViews, NoteClipMapsHaveNoAudioKeysAndTheirNotesComeAsTriples) {
    const QVariantList clips = trackMap(0)["clipList"].toList();
    ASSERT_EQ(clips.size(), 2);
    const QVariantMap verse = clips[0].toMap();
    EXPECT_EQ(verse.keys(), (QStringList{"audio", "id", "length", "name", "revision", "start"}));
    EXPECT_EQ(verse["id"].toString(), id(s.fm.clips[0].id));
    EXPECT_EQ(verse["name"].toString(), "Verse");
    EXPECT_EQ(verse["start"].toDouble(), 0.0);
    EXPECT_EQ(verse["length"].toDouble(), 4.0);
    EXPECT_FALSE(verse["audio"].toBool());
    const QVariantList notes = rig.project.clipNoteList(id(s.fm.id), verse["id"].toString());
    ASSERT_EQ(notes.size(), 2);
    EXPECT_EQ(notes[0].toList(), (QVariantList{60, 1.0 / 3.0, 1.0}));
    EXPECT_EQ(notes[1].toList(), (QVariantList{64, 2.0, 0.5}));
    EXPECT_EQ(clips[1].toMap()["start"].toDouble(), 4.0);
}

TEST_F(ProjectViews, DeviceMapsFillEveryKnobOfTheTypeUnderTheStoredValues) {
    const QVariantList devices = trackMap(0)["deviceList"].toList();
    ASSERT_EQ(devices.size(), 2);
    const QVariantMap delay = devices[0].toMap();
    EXPECT_EQ(delay.keys(), (QStringList{"deviceId", "enabled", "id", "name", "values"}));
    EXPECT_EQ(delay["id"].toString(), id(s.fm.devices[0].id));
    EXPECT_EQ(delay["deviceId"].toString(), "ostrel.delay");
    EXPECT_EQ(delay["name"].toString(), "Delay - Slapback");
    EXPECT_TRUE(delay["enabled"].toBool());
    const QVariantMap values = delay["values"].toMap();
    const auto scratch = engine::createDevice("ostrel.delay");
    for (const engine::ParamDescriptor& knob : scratch->params.descriptors()) {
        if (std::string(knob.id) != "mix") {
            EXPECT_EQ(values[knob.id].toDouble(), static_cast<double>(knob.defaultValue)) << knob.id;
        }
    }
    EXPECT_EQ(values["mix"].toDouble(), 0.25);
    EXPECT_EQ(values["legacy_knob"].toDouble(), 3.0) << "a stored id the table lacks is added";

    const QVariantMap unknown = devices[1].toMap();
    EXPECT_FALSE(unknown["enabled"].toBool());
    EXPECT_EQ(unknown["values"].toMap(), (QVariantMap{{"depth", 0.5}})) << "an unknown type has no defaults";
}

TEST_F(ProjectViews, AudioClipsShowTheirFilesLengthAndPeaksAndAMissingFileShowsNothing) {
    const QVariantMap audio = trackMap(1);
    EXPECT_EQ(audio["kind"].toString(), "audio");
    EXPECT_TRUE(audio["solo"].toBool());
    EXPECT_TRUE(audio["fmValues"].toMap().isEmpty());
    const QVariantList clips = audio["clipList"].toList();
    ASSERT_EQ(clips.size(), 2);

    const QVariantMap loop = clips[0].toMap();
    EXPECT_EQ(loop.keys(), (QStringList{"audio", "audioSeconds", "id", "length", "name", "offsetSeconds", "peaks",
                                        "revision", "source", "start"}));
    EXPECT_TRUE(loop["audio"].toBool());
    EXPECT_EQ(loop["source"].toString(), "loop.wav");
    EXPECT_EQ(loop["offsetSeconds"].toDouble(), 0.25);
    EXPECT_EQ(loop["audioSeconds"].toDouble(), 0.5);
    const QVariantList peaks = loop["peaks"].toList();
    ASSERT_EQ(peaks.size(), 400);
    for (const QVariant& peak : peaks) {
        EXPECT_EQ(peak.toDouble(), 0.5);
    }
    EXPECT_TRUE(rig.project.clipNoteList(id(s.audio.id), loop["id"].toString()).isEmpty());

    const QVariantMap gone = clips[1].toMap();
    EXPECT_TRUE(gone["audio"].toBool());
    EXPECT_EQ(gone["source"].toString(), "gone.wav");
    EXPECT_EQ(gone["audioSeconds"].toDouble(), 0.0);
    EXPECT_TRUE(gone["peaks"].toList().isEmpty());
}

TEST_F(ProjectViews, SampleInstrumentsHaveNoFmValuesAndShowTheirConfiguration) {
    const QVariantMap sampler = trackMap(2);
    EXPECT_EQ(sampler["instrument"].toString(), "Sampler");
    EXPECT_TRUE(sampler["fmValues"].toMap().isEmpty());
    EXPECT_EQ(sampler["instrumentConfig"].toMap()["root_note"].toInt(), 60);
    EXPECT_EQ(sampler["instrumentConfig"].toMap()["loop"].toBool(), false);
    const QVariantMap drums = trackMap(3);
    EXPECT_EQ(drums["instrument"].toString(), "Drum Rack");
    EXPECT_TRUE(drums["fmValues"].toMap().isEmpty());
    EXPECT_EQ(drums["instrumentConfig"].toMap(), (QVariantMap{{"pads", QVariantList{}}}));
}

TEST_F(ProjectViews, ABareMidiTrackHasEmptyDefaults) {
    const QVariantMap bare = trackMap(4);
    EXPECT_EQ(bare["clips"].toInt(), 0);
    EXPECT_TRUE(bare["clipList"].toList().isEmpty());
    EXPECT_EQ(bare["kind"].toString(), "midi");
    EXPECT_TRUE(bare["instrument"].toString().isEmpty());
    EXPECT_TRUE(bare["fmValues"].toMap().isEmpty());
    EXPECT_TRUE(bare["instrumentConfig"].toMap().isEmpty());
    EXPECT_EQ(bare["devices"].toInt(), 0);
    EXPECT_FALSE(bare["muted"].toBool());
    EXPECT_FALSE(bare["solo"].toBool());
    EXPECT_EQ(bare["volume"].toDouble(), 1.0);
    EXPECT_EQ(bare["notes"].toInt(), 0);
    EXPECT_EQ(bare["index"].toInt(), 4);
}

TEST_F(ProjectViews, LengthIsTheEndOfTheLastClip) {
    EXPECT_EQ(rig.project.lengthBeats(), 9.0);
    rig.project.newProject();
    EXPECT_EQ(rig.project.lengthBeats(), 0.0);
    EXPECT_TRUE(rig.project.tracks().isEmpty());
}

TEST_F(ProjectViews, ClipNotesGiveFiveTextsPerNote) {
    const QStringList texts = rig.project.clipNotes(id(s.fm.id), id(s.fm.clips[0].id));
    EXPECT_EQ(texts, (QStringList{id(s.fm.clips[0].notes[0].id), "60", "100", "0.333333", "1",
                                  id(s.fm.clips[0].notes[1].id), "64", "90", "2", "0.5"}));
    EXPECT_EQ(rig.project.clipNotes(id(s.fm.id), id(s.fm.clips[0].id).toUpper()), texts)
        << "ids of either case parse";
    EXPECT_TRUE(rig.project.clipNotes(id(s.fm.id), id(model::Uuid::generate())).isEmpty());
    EXPECT_TRUE(rig.project.clipNotes(id(s.audio.id), id(s.fm.clips[0].id)).isEmpty());
    EXPECT_TRUE(rig.project.clipNotes("not an id", id(s.fm.clips[0].id)).isEmpty());
}

TEST_F(ProjectViews, TrackInstrumentAndKindByIdAndEmptyForUnknownIds) {
    EXPECT_EQ(rig.project.trackInstrument(id(s.drums.id)), "Drum Rack");
    EXPECT_EQ(rig.project.trackKind(id(s.audio.id)), "audio");
    EXPECT_EQ(rig.project.trackKind(id(s.fm.id)), "midi");
    EXPECT_TRUE(rig.project.trackInstrument(id(model::Uuid::generate())).isEmpty());
    EXPECT_TRUE(rig.project.trackKind("1234").isEmpty());
}

TEST_F(ProjectViews, DeviceKnobsListTheTypesTableInOrder) {
    const QVariantList knobs = rig.project.deviceKnobs("ostrel.delay");
    const auto scratch = engine::createDevice("ostrel.delay");
    const auto table = scratch->params.descriptors();
    ASSERT_EQ(knobs.size(), static_cast<qsizetype>(table.size()));
    for (std::size_t i = 0; i < table.size(); ++i) {
        const QVariantMap knob = knobs[static_cast<qsizetype>(i)].toMap();
        EXPECT_EQ(knob.keys(), (QStringList{"def", "help", "key", "kind", "max", "min", "name", "unit"}));
        EXPECT_EQ(knob["key"].toString(), table[i].id);
        EXPECT_EQ(knob["name"].toString(), table[i].name);
        EXPECT_EQ(knob["unit"].toString(), table[i].unit);
        EXPECT_EQ(knob["min"].toDouble(), static_cast<double>(table[i].min));
        EXPECT_EQ(knob["max"].toDouble(), static_cast<double>(table[i].max));
        EXPECT_EQ(knob["def"].toDouble(), static_cast<double>(table[i].defaultValue));
        EXPECT_EQ(knob["kind"].toInt(), static_cast<int>(table[i].kind));
        EXPECT_EQ(knob["help"].toString(), table[i].help);
    }
    EXPECT_FALSE(rig.project.deviceKnobs("ostrel.mod.fm").isEmpty());
    EXPECT_TRUE(rig.project.deviceKnobs("ostrel.nothing").isEmpty());
}

TEST_F(ProjectViews, TheEffectCatalogueListsFiveEffectsWithTheirPresets) {
    const QVariantList effects = rig.project.effectCatalogue();
    ASSERT_EQ(effects.size(), 5);
    const QStringList ids = {"ostrel.delay", "ostrel.reverb", "ostrel.eq", "ostrel.compressor", "ostrel.chorus"};
    qsizetype presetCount = 0;
    for (int i = 0; i < 5; ++i) {
        const QVariantMap effect = effects[i].toMap();
        EXPECT_EQ(effect.keys(), (QStringList{"id", "name", "presets"}));
        EXPECT_EQ(effect["id"].toString(), ids[i]);
        for (const engine::DeviceInfo& info : engine::listDevices()) {
            if (info.typeId == ids[i].toStdString()) {
                EXPECT_EQ(effect["name"].toString().toStdString(), info.displayName);
            }
        }
        std::vector<const engine::Preset*> expected;
        for (const engine::Preset& preset : engine::factoryPresets()) {
            if (preset.deviceId == ids[i].toStdString()) {
                expected.push_back(&preset);
            }
        }
        const QVariantList presets = effect["presets"].toList();
        ASSERT_EQ(presets.size(), static_cast<qsizetype>(expected.size()));
        for (std::size_t p = 0; p < expected.size(); ++p) {
            const QVariantMap preset = presets[static_cast<qsizetype>(p)].toMap();
            EXPECT_EQ(preset.keys(), (QStringList{"name", "tags"}));
            EXPECT_EQ(preset["name"].toString().toStdString(), expected[p]->name);
            QStringList tags;
            for (const std::string& tag : expected[p]->tags) {
                tags << QString::fromStdString(tag);
            }
            EXPECT_EQ(preset["tags"].toStringList(), tags);
        }
        presetCount += presets.size();
    }
    EXPECT_EQ(presetCount, static_cast<qsizetype>(engine::factoryPresets().size()));
}

TEST_F(ProjectViews, AFileThatAppearsIsSeenOnlyAfterTheSamplesAreRefreshed) {
    rig.writeSample("gone.wav", 4800);
    EXPECT_EQ(rig.project.tracks()[1].toMap()["clipList"].toList()[1].toMap()["audioSeconds"].toDouble(), 0.0);
    rig.project.refreshSamples();
    EXPECT_EQ(rig.project.tracks()[1].toMap()["clipList"].toList()[1].toMap()["audioSeconds"].toDouble(), 0.1);
}

TEST_F(ProjectViews, ReadsFollowTheDocumentThroughInstallsUndoAndRedo) {
    rig.project.renameProject("Renamed");
    EXPECT_EQ(rig.project.tracks(), tracks) << "a rename leaves the tracks as they are";
    rig.project.undo();
    ASSERT_TRUE(rig.project.save());
    rig.project.newProject();
    EXPECT_TRUE(rig.project.tracks().isEmpty());
    ASSERT_TRUE(rig.project.openProject("views.ostproj"));
    EXPECT_EQ(withoutRevisions(rig.project.tracks()), withoutRevisions(tracks))
        << "another song's maps are new ones, with the same content";
}

// The views keep what an edit did not change: the maps of the other tracks and of the other
// clips, and the note lists of the other clips, are the very values read before.
TEST_F(ProjectViews, AnEditBuildsAgainOnlyTheTrackAndClipsItChanged) {
    ProjectController& project = rig.project;
    const QString fm = id(s.fm.id);
    const QString verse = id(s.fm.clips[0].id);
    const QString chorus = id(s.fm.clips[1].id);
    struct Case {
        const char* edit;
        std::function<void()> run;
        std::vector<int> changedTracks;
        QStringList changedClips;  // of the FM track
    };
    const std::vector<Case> cases = {
        {"a volume", [&] { project.setTrackVolume(id(s.bare.id), 0.25); }, {4}, {}},
        {"a note", [&] { (void)project.addNote(fm, verse, 72, 100, 3.0, 0.5); }, {0}, {verse}},
        {"a clip's length", [&] { project.resizeClip(fm, chorus, 8.0); }, {0}, {chorus}},
        {"an effect", [&] { (void)project.addDevice(fm, "ostrel.delay", QString()); }, {0}, {}},
        {"the song's name", [&] { project.renameProject("Other"); }, {}, {}},
        {"an undo", [&] { project.undo(); }, {}, {}},  // of the rename
        // The tracks after it move up: their maps change their index.
        {"a removed track", [&] { project.removeTrack(id(s.sampler.id)); }, {2, 3}, {}},
    };
    for (const Case& c : cases) {
        const QVariantList before = project.tracks();
        const QVariantList verseNotes = project.clipNoteList(fm, verse);
        const QVariantList chorusNotes = project.clipNoteList(fm, chorus);
        const QVariantList fmClips = before[0].toMap()["clipList"].toList();
        c.run();
        const QVariantList after = project.tracks();
        QVariantList revisions;
        for (int i = 0; i < after.size(); ++i) {
            const QVariantMap map = after[i].toMap();
            revisions.append(map["revision"]);
            EXPECT_EQ(project.track(map["id"].toString()), map) << c.edit;
            EXPECT_EQ(project.trackAt(i), map) << c.edit;
            const auto was = std::find_if(before.begin(), before.end(), [&](const QVariant& old) {
                return old.toMap()["id"] == map["id"];
            });
            ASSERT_NE(was, before.end());
            const bool changed = std::find(c.changedTracks.begin(), c.changedTracks.end(), i) != c.changedTracks.end();
            EXPECT_EQ(!was->toMap().isSharedWith(map), changed) << c.edit << ": track " << i;
            EXPECT_EQ(was->toMap()["revision"] != map["revision"], changed) << c.edit << ": track " << i;
        }
        EXPECT_EQ(project.trackRevisions(), revisions) << c.edit;
        const QVariantList clipsNow = project.track(fm)["clipList"].toList();
        for (int k = 0; k < 2; ++k) {
            const QString clipId = k == 0 ? verse : chorus;
            const bool changed = c.changedClips.contains(clipId);
            EXPECT_EQ(!fmClips[k].toMap().isSharedWith(clipsNow[k].toMap()), changed) << c.edit << ": clip " << k;
            EXPECT_EQ(!(k == 0 ? verseNotes : chorusNotes).isSharedWith(project.clipNoteList(fm, clipId)), changed)
                << c.edit << ": the notes of clip " << k;
        }
    }
    EXPECT_EQ(project.clipNoteList(fm, verse).size(), 3);
    EXPECT_TRUE(project.track(id(s.sampler.id)).isEmpty());
    EXPECT_TRUE(project.trackAt(4).isEmpty());
    EXPECT_TRUE(project.trackAt(-1).isEmpty());
    EXPECT_TRUE(project.clipNoteList(fm, id(model::Uuid::generate())).isEmpty());
    EXPECT_TRUE(project.clipNoteList("not an id", verse).isEmpty());
}

TEST(ProjectViewsEmpty, AnEmptyDocumentHasNoTracksAndNoLength) {
    ProjectRig rig;
    EXPECT_TRUE(rig.project.tracks().isEmpty());
    EXPECT_EQ(rig.project.lengthBeats(), 0.0);
    EXPECT_EQ(rig.project.effectCatalogue().size(), 5);
}

}  // namespace
