#include "model/document/Project.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"

namespace ostrel::model {
namespace {

using test::editKeyForTests;
using test::sampleProject;

TEST(MakeProject, ExtraThatIsNotAnObjectBecomesAnEmptyObject) {
    for (const nlohmann::json& extra : {nlohmann::json(), nlohmann::json::array({1}), nlohmann::json(3)}) {
        EXPECT_TRUE(makeProject(Uuid::generate(), "x", 120.0, {}, extra).extra().isEmptyObject()) << extra.dump();
    }
}

// Undo tests rely on this equality: it must reach every field of every record.
TEST(ProjectEquality, CopyEqualsAndEveryFieldCountsDownToANotesVelocity) {
    const EditKey key = editKeyForTests();
    const Project original = sampleProject();
    EXPECT_NE(Project{}, Project{}) << "two new projects differ by their fresh ids";
    Project deep = original;
    EXPECT_EQ(deep, original);
    const Uuid trackId = deep.tracks()[0].id;
    const Uuid clipId = deep.tracks()[0].clips[0].id;
    Note note = deep.removeNote(key, trackId, clipId, 2);
    note.velocity = 99;
    deep.insertNote(key, trackId, clipId, 2, note);
    EXPECT_NE(deep, original);

    Project withConfig = original;
    withConfig.setTrackInstrumentConfig(key, trackId, nlohmann::json{{"root_note", 60}});
    EXPECT_NE(withConfig, original) << "JSON members compare by content";
    EXPECT_NE(JsonValue{}, JsonValue{nlohmann::json()}) << "the default is an empty object, not null";

    Project nan;
    nan.setTempo(key, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(Project(nan) == nan) << "doubles compare with ==";
}

// Each primitive checks the track, then the clip or device, then the index; a refused
// call changes nothing.
TEST(ProjectPrimitives, ChecksInOrderAndARefusalChangesNothing) {
    const EditKey key = editKeyForTests();
    Project p = sampleProject();
    const Uuid t = p.tracks()[0].id;
    const Uuid c = p.tracks()[0].clips[1].id;
    const Uuid x = Uuid::generate();
    const std::string noTrack = "no track with that id";
    const std::string noClip = "no clip with that id";
    const std::string noDevice = "no device with that id";
    const std::vector<std::pair<std::function<void()>, std::string>> refusals = {
        {[&] { p.setTrackName(key, x, "x"); }, noTrack},
        {[&] { p.setTrackInstrument(key, x, "x"); }, noTrack},
        {[&] { p.setTrackInstrumentConfig(key, x, {}); }, noTrack},
        {[&] { p.setTrackMuted(key, x, true); }, noTrack},
        {[&] { p.setTrackSolo(key, x, true); }, noTrack},
        {[&] { p.setTrackVolume(key, x, 0.5); }, noTrack},
        {[&] { p.insertClip(key, x, 99, Clip{}); }, noTrack},
        {[&] { p.removeClip(key, x, 99); }, noTrack},
        {[&] { p.insertNote(key, x, x, 99, Note{}); }, noTrack},
        {[&] { p.insertNote(key, t, x, 99, Note{}); }, noClip},
        {[&] { p.removeNote(key, t, x, 0); }, noClip},
        {[&] { p.replaceNote(key, x, x, 0, Note{}); }, noTrack},
        {[&] { p.replaceNote(key, t, x, 0, Note{}); }, noClip},
        {[&] { p.insertDevice(key, x, 99, Device{}); }, noTrack},
        {[&] { p.setDeviceParameter(key, x, x, "a", 1); }, noTrack},
        {[&] { p.setDeviceParameter(key, t, x, "a", 1); }, noDevice},
        {[&] { p.eraseDeviceParameter(key, t, x, "mix"); }, noDevice},
    };
    for (const auto& [action, message] : refusals) test::expectRefused<std::invalid_argument>(p, action, message);

    // An index may equal the count when inserting (it appends), never when removing.
    const std::vector<std::function<void()>> outOfRange = {
        [&] { p.insertTrack(key, 4, Track{}); },     [&] { p.removeTrack(key, 3); },
        [&] { p.insertClip(key, t, 3, Clip{}); },    [&] { p.removeClip(key, t, 2); },
        [&] { p.insertNote(key, t, c, 4, Note{}); }, [&] { p.removeNote(key, t, c, 3); },
        [&] { p.replaceNote(key, t, c, 3, p.tracks()[0].clips[1].notes[0]); },
        [&] { p.insertDevice(key, t, 4, Device{}); }, [&] { p.removeDevice(key, t, 3); },
    };
    for (const auto& action : outOfRange) test::expectRefused<std::out_of_range>(p, action, "index out of range");

    // Regression: a second record with an id its list holds was saved into a file the reader refuses whole.
    const Track& track = p.tracks()[0];
    const std::vector<std::pair<std::function<void()>, std::string>> duplicates = {
        {[&] { p.insertTrack(key, 0, track); }, "a track with that id already exists"},
        {[&] { p.insertClip(key, t, 0, track.clips[0]); }, "a clip with that id already exists"},
        {[&] { p.insertNote(key, t, c, 0, track.clips[1].notes[0]); }, "a note with that id already exists"},
        {[&] { p.replaceNote(key, t, c, 0, track.clips[1].notes[2]); }, "a note with that id already exists"},
        {[&] { p.insertDevice(key, t, 0, track.devices[0]); }, "a device with that id already exists"},
    };
    for (const auto& [action, message] : duplicates) test::expectRefused<std::invalid_argument>(p, action, message);
}

TEST(ProjectPrimitives, ReplaceNoteSwapsOneNoteAndLeavesEveryOtherInItsPlace) {
    const EditKey key = editKeyForTests();
    Project p = sampleProject();
    const Uuid t = p.tracks()[0].id;
    const Uuid c = p.tracks()[0].clips[1].id;
    const std::vector<Note> before = p.tracks()[0].clips[1].notes;

    Note louder = before[1];
    louder.velocity = 127;
    louder.startBeats = -3.0;  // earlier than every other note: still the second in the list
    EXPECT_EQ(p.replaceNote(key, t, c, 1, louder), before[1]);
    EXPECT_EQ(p.tracks()[0].clips[1].notes, (std::vector<Note>{before[0], louder, before[2]}));

    // A fresh id is no duplicate; the id that left the clip may come back anywhere.
    const Note fresh = test::makeNote(70, 9.0);
    EXPECT_EQ(p.replaceNote(key, t, c, 2, fresh), before[2]);
    EXPECT_EQ(p.replaceNote(key, t, c, 0, before[2]), before[0]);
    EXPECT_EQ(p.tracks()[0].clips[1].notes, (std::vector<Note>{before[2], louder, fresh}));
}


// What each edit changed carries a new stamp and nothing else does; a refused edit leaves
// every stamp; stamps are no part of the content.
TEST(ProjectPrimitives, AnEditStampsWhatItChangedAndNothingElse) {
    const EditKey key = editKeyForTests();
    Project p = sampleProject();
    const Uuid t = p.tracks()[0].id;
    const Uuid c = p.tracks()[0].clips[1].id;
    const Uuid d = p.tracks()[0].devices[0].id;
    enum class Stamped { Track, TrackAndClip };
    const std::vector<std::pair<std::function<void()>, Stamped>> edits = {
        {[&] { p.setTrackName(key, t, "x"); }, Stamped::Track},
        {[&] { p.setTrackInstrument(key, t, "x"); }, Stamped::Track},
        {[&] { p.setTrackInstrumentConfig(key, t, {}); }, Stamped::Track},
        {[&] { p.setTrackMuted(key, t, true); }, Stamped::Track},
        {[&] { p.setTrackSolo(key, t, true); }, Stamped::Track},
        {[&] { p.setTrackVolume(key, t, 0.5); }, Stamped::Track},
        {[&] { p.insertClip(key, t, 0, test::withFreshId<Clip>()); }, Stamped::Track},
        {[&] { p.removeClip(key, t, 0); }, Stamped::Track},
        {[&] { p.insertNote(key, t, c, 0, test::makeNote(70, 1.0)); }, Stamped::TrackAndClip},
        {[&] { p.removeNote(key, t, c, 0); }, Stamped::TrackAndClip},
        {[&] { p.replaceNote(key, t, c, 0, test::makeNote(71, 1.0)); }, Stamped::TrackAndClip},
        {[&] { p.insertDevice(key, t, 0, test::withFreshId<Device>()); }, Stamped::Track},
        {[&] { p.setDeviceParameter(key, t, d, "mix", 0.1); }, Stamped::Track},
        {[&] { p.eraseDeviceParameter(key, t, d, "mix"); }, Stamped::Track},
        {[&] { p.removeDevice(key, t, 0); }, Stamped::Track},
    };
    // Every track's and clip's stamp by id.
    const auto stamps = [&p] {
        std::map<std::string, std::uint64_t> all;
        for (const Track& track : p.tracks()) {
            all[track.id.toString()] = track.stamp.value;
            for (const Clip& clip : track.clips) all[clip.id.toString()] = clip.stamp.value;
        }
        return all;
    };
    for (std::size_t i = 0; i < edits.size(); ++i) {
        const std::map<std::string, std::uint64_t> before = stamps();
        edits[i].first();
        for (const auto& [id, stamp] : stamps()) {
            if (!before.contains(id)) continue;  // a clip the edit added
            const bool stamped = id == t.toString() || (id == c.toString() && edits[i].second == Stamped::TrackAndClip);
            EXPECT_EQ(stamp != before.at(id), stamped) << "edit " << i << ", " << id;
        }
    }
    const Project copy = p;
    p.setTrackVolume(key, t, copy.tracks()[0].volume);
    EXPECT_EQ(p, copy) << "stamps are no part of the content";
    const std::uint64_t kept = p.tracks()[0].stamp.value;
    test::expectRefused<std::invalid_argument>(p, [&] { p.insertClip(key, t, 0, p.tracks()[0].clips[0]); },
                                               "a clip with that id already exists");
    EXPECT_EQ(p.tracks()[0].stamp.value, kept) << "a refused edit stamps nothing";
}

}  // namespace
}  // namespace ostrel::model
