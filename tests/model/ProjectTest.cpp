#include "model/Project.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"

namespace ostrel::model {
namespace {

using test::editKeyForTests;
using test::sampleProject;

// Runs action, expects exception E with exactly message, and the project unchanged.
template <typename E>
void expectRefused(Project& project, const std::function<void()>& action, const std::string& message) {
    const Project before = project;
    try {
        action();
        ADD_FAILURE() << "expected a throw with \"" << message << "\"";
    } catch (const E& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
    EXPECT_EQ(project, before) << "a refused primitive must change nothing";
}

TEST(ProjectDefaults, RecordsStartWithTheirDefaults) {
    const Project project;
    EXPECT_FALSE(project.id().isNil());
    EXPECT_EQ(project.name(), "Untitled");
    EXPECT_EQ(project.tempoBpm(), 120.0);
    EXPECT_TRUE(project.tracks().empty());
    EXPECT_TRUE(project.extra().isEmptyObject());

    const Track track;
    EXPECT_TRUE(track.id.isNil());
    EXPECT_EQ(track.kind, "midi");
    EXPECT_EQ(track.volume, 1.0);
    EXPECT_FALSE(track.muted);
    EXPECT_FALSE(track.solo);
    EXPECT_TRUE(track.instrumentConfig.get().is_object());
    EXPECT_TRUE(track.instrumentConfig.get().empty());

    const Clip clip;
    EXPECT_EQ(clip.lengthBeats, 4.0);
    const Note note;
    EXPECT_EQ(note.pitch, 60);
    EXPECT_EQ(note.velocity, 100);
    EXPECT_EQ(note.lengthBeats, 1.0);
    const Device device;
    EXPECT_TRUE(device.enabled);
}

TEST(ProjectDefaults, TwoDefaultProjectsDifferByTheirFreshIds) {
    EXPECT_NE(Project{}, Project{});
}

TEST(MakeProject, KeepsTheGivenFields) {
    const Uuid id = Uuid::generate();
    Track track;
    track.id = Uuid::generate();
    const Project project = makeProject(id, "Song", -5.0, {track}, nlohmann::json{{"color", "red"}});
    EXPECT_EQ(project.id(), id);
    EXPECT_EQ(project.name(), "Song");
    EXPECT_EQ(project.tempoBpm(), -5.0);
    ASSERT_EQ(project.tracks().size(), 1u);
    EXPECT_EQ(project.tracks()[0].id, track.id);
    EXPECT_EQ(project.extra().get(), (nlohmann::json{{"color", "red"}}));
}

TEST(MakeProject, ExtraThatIsNotAnObjectBecomesAnEmptyObject) {
    for (const nlohmann::json& extra : {nlohmann::json(), nlohmann::json::array({1}), nlohmann::json(3)}) {
        const Project project = makeProject(Uuid::generate(), "x", 120.0, {}, extra);
        EXPECT_TRUE(project.extra().isEmptyObject()) << extra.dump();
    }
}

TEST(ProjectEquality, CopyEqualsAndEveryFieldCounts) {
    const EditKey key = editKeyForTests();
    const Project original = sampleProject();
    Project copy = original;
    EXPECT_EQ(copy, original);

    const Uuid trackId = copy.tracks()[0].id;
    copy.setTrackVolume(key, trackId, 1.0);
    EXPECT_EQ(copy, original) << "setting the same value keeps the copy equal";
    copy.setTrackVolume(key, trackId, 0.5);
    EXPECT_NE(copy, original);

    Project deep = original;
    const Track& track = deep.tracks()[0];
    Note note = track.clips[0].notes[2];
    deep.removeNote(key, track.id, track.clips[0].id, 2);
    note.velocity = 99;
    deep.insertNote(key, track.id, track.clips[0].id, 2, note);
    EXPECT_NE(deep, original) << "a note's velocity deep inside counts";

    Project withConfig = original;
    withConfig.setTrackInstrumentConfig(key, trackId, nlohmann::json{{"root_note", 60}});
    EXPECT_NE(withConfig, original) << "JSON members compare by content";
}

TEST(ProjectEquality, NaNTempoIsNotEqualToItsOwnCopy) {
    const EditKey key = editKeyForTests();
    Project project;
    project.setTempo(key, std::numeric_limits<double>::quiet_NaN());
    const Project copy = project;
    EXPECT_FALSE(copy == project);
}

TEST(ProjectTrackPrimitives, InsertAtTheCountAppendsAndBeyondIsRefused) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    Track track;
    track.id = Uuid::generate();
    project.insertTrack(key, 3, track);
    ASSERT_EQ(project.tracks().size(), 4u);
    EXPECT_EQ(project.tracks()[3].id, track.id);

    expectRefused<std::out_of_range>(project, [&] { project.insertTrack(key, 5, Track{}); }, "index out of range");
}

TEST(ProjectTrackPrimitives, InsertBeforeAnIndexAndRemoveReturnTheTrack) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Track middle = project.tracks()[1];
    Track front;
    front.id = Uuid::generate();
    project.insertTrack(key, 0, front);
    EXPECT_EQ(project.tracks()[0].id, front.id);
    EXPECT_EQ(project.removeTrack(key, 2), middle);
    EXPECT_EQ(project.tracks().size(), 3u);
    expectRefused<std::out_of_range>(project, [&] { project.removeTrack(key, 3); }, "index out of range");
}

TEST(ProjectTrackPrimitives, SettersReplaceTheirFieldAndRefuseUnknownTracks) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid id = project.tracks()[2].id;
    project.setTrackName(key, id, "Bass");
    project.setTrackInstrument(key, id, "Sampler");
    project.setTrackInstrumentConfig(key, id, nlohmann::json{{"a", 1}});
    project.setTrackMuted(key, id, true);
    project.setTrackSolo(key, id, true);
    project.setTrackVolume(key, id, 7.5);
    const Track& track = project.tracks()[2];
    EXPECT_EQ(track.name, "Bass");
    EXPECT_EQ(track.instrumentPatch, "Sampler");
    EXPECT_EQ(track.instrumentConfig.get(), (nlohmann::json{{"a", 1}}));
    EXPECT_TRUE(track.muted);
    EXPECT_TRUE(track.solo);
    EXPECT_EQ(track.volume, 7.5) << "volume is stored unchanged, without a range check";

    const Uuid missing = Uuid::generate();
    const std::vector<std::function<void()>> refused = {
        [&] { project.setTrackName(key, missing, "x"); },
        [&] { project.setTrackInstrument(key, missing, "x"); },
        [&] { project.setTrackInstrumentConfig(key, missing, JsonValue{}); },
        [&] { project.setTrackMuted(key, missing, false); },
        [&] { project.setTrackSolo(key, missing, false); },
        [&] { project.setTrackVolume(key, missing, 1.0); },
    };
    for (const auto& action : refused) expectRefused<std::invalid_argument>(project, action, "no track with that id");
}

TEST(ProjectClipPrimitives, ChecksTheTrackBeforeTheIndex) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid trackId = project.tracks()[0].id;
    expectRefused<std::invalid_argument>(
        project, [&] { project.removeClip(key, Uuid::generate(), 99); }, "no track with that id");
    expectRefused<std::invalid_argument>(
        project, [&] { project.insertClip(key, Uuid::generate(), 99, Clip{}); }, "no track with that id");
    expectRefused<std::out_of_range>(project, [&] { project.removeClip(key, trackId, 2); }, "index out of range");
    expectRefused<std::out_of_range>(
        project, [&] { project.insertClip(key, trackId, 3, Clip{}); }, "index out of range");

    Clip clip;
    clip.id = Uuid::generate();
    project.insertClip(key, trackId, 2, clip);
    EXPECT_EQ(project.tracks()[0].clips[2].id, clip.id);
    EXPECT_EQ(project.removeClip(key, trackId, 2), clip);
}

TEST(ProjectNotePrimitives, ChecksTrackThenClipThenIndex) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid trackId = project.tracks()[0].id;
    const Uuid clipId = project.tracks()[0].clips[1].id;
    expectRefused<std::invalid_argument>(
        project, [&] { project.insertNote(key, Uuid::generate(), Uuid::generate(), 99, Note{}); },
        "no track with that id");
    expectRefused<std::invalid_argument>(
        project, [&] { project.insertNote(key, trackId, Uuid::generate(), 99, Note{}); }, "no clip with that id");
    expectRefused<std::invalid_argument>(
        project, [&] { project.removeNote(key, trackId, Uuid::generate(), 0); }, "no clip with that id");
    expectRefused<std::out_of_range>(
        project, [&] { project.insertNote(key, trackId, clipId, 4, Note{}); }, "index out of range");
    expectRefused<std::out_of_range>(project, [&] { project.removeNote(key, trackId, clipId, 3); },
                                     "index out of range");

    Note note;
    note.id = Uuid::generate();
    project.insertNote(key, trackId, clipId, 0, note);
    EXPECT_EQ(project.tracks()[0].clips[1].notes.front().id, note.id);
    EXPECT_EQ(project.removeNote(key, trackId, clipId, 0), note);
}

TEST(ProjectDevicePrimitives, ChecksTrackThenDeviceOrIndex) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid trackId = project.tracks()[1].id;
    const Uuid deviceId = project.tracks()[1].devices[0].id;
    expectRefused<std::invalid_argument>(
        project, [&] { project.insertDevice(key, Uuid::generate(), 99, Device{}); }, "no track with that id");
    expectRefused<std::out_of_range>(
        project, [&] { project.insertDevice(key, trackId, 4, Device{}); }, "index out of range");
    expectRefused<std::out_of_range>(project, [&] { project.removeDevice(key, trackId, 3); }, "index out of range");
    expectRefused<std::invalid_argument>(
        project, [&] { project.setDeviceParameter(key, Uuid::generate(), Uuid::generate(), "x", 1.0); },
        "no track with that id");
    expectRefused<std::invalid_argument>(
        project, [&] { project.setDeviceParameter(key, trackId, Uuid::generate(), "x", 1.0); },
        "no device with that id");
    expectRefused<std::invalid_argument>(
        project, [&] { project.eraseDeviceParameter(key, trackId, Uuid::generate(), "mix"); },
        "no device with that id");

    project.setDeviceParameter(key, trackId, deviceId, "time_ms", 250.0);
    EXPECT_EQ(project.tracks()[1].devices[0].parameters.at("time_ms"), 250.0);
    project.setDeviceParameter(key, trackId, deviceId, "time_ms", 300.0);
    EXPECT_EQ(project.tracks()[1].devices[0].parameters.at("time_ms"), 300.0);

    const Project before = project;
    EXPECT_NO_THROW(project.eraseDeviceParameter(key, trackId, deviceId, "absent"));
    EXPECT_EQ(project, before);
    project.eraseDeviceParameter(key, trackId, deviceId, "time_ms");
    EXPECT_EQ(project.tracks()[1].devices[0].parameters.count("time_ms"), 0u);
}

TEST(ProjectScalarPrimitives, TempoAndNameAreStoredAsGiven) {
    const EditKey key = editKeyForTests();
    Project project;
    for (double bpm : {0.0, -40.0, 999.0}) {
        project.setTempo(key, bpm);
        EXPECT_EQ(project.tempoBpm(), bpm);
    }
    project.setName(key, "Café");
    EXPECT_EQ(project.name(), "Café");
}

TEST(ProjectPrimitives, EveryFailureIsALogicError) {
    const EditKey key = editKeyForTests();
    Project project;
    EXPECT_THROW(project.removeTrack(key, 0), std::logic_error);
    EXPECT_THROW(project.setTrackMuted(key, Uuid::generate(), true), std::logic_error);
}

TEST(JsonValue, CopiesAreDeepAndDefaultIsAnEmptyObject) {
    JsonValue value = nlohmann::json{{"list", {1, 2}}};
    JsonValue copy = value;
    EXPECT_EQ(copy, value);
    value = nlohmann::json{{"list", {1}}};
    EXPECT_NE(copy, value);
    EXPECT_EQ(copy.get()["list"].size(), 2u);

    EXPECT_EQ(JsonValue{}, JsonValue{nlohmann::json::object()});
    EXPECT_NE(JsonValue{}, JsonValue{nlohmann::json()});
    EXPECT_FALSE(JsonValue{nlohmann::json()}.isObject());

    JsonValue moved = std::move(copy);
    EXPECT_EQ(moved.get()["list"].size(), 2u);
}

}  // namespace
}  // namespace ostrel::model
