#include "model/Project.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"

namespace ostrel::model {
namespace {

using test::editKeyForTests;
using test::expectRefused;
using test::sampleProject;
using test::withFreshId;

TEST(MakeProject, ExtraThatIsNotAnObjectBecomesAnEmptyObject) {
    for (const nlohmann::json& extra : {nlohmann::json(), nlohmann::json::array({1}), nlohmann::json(3)}) {
        EXPECT_TRUE(makeProject(Uuid::generate(), "x", 120.0, {}, extra).extra().isEmptyObject()) << extra.dump();
    }
}

TEST(ProjectEquality, CopyEqualsAndEveryFieldCountsDownToANotesVelocity) {
    const EditKey key = editKeyForTests();
    const Project original = sampleProject();
    EXPECT_NE(Project{}, Project{}) << "two new projects differ by their fresh ids";
    Project copy = original;
    EXPECT_EQ(copy, original);
    const Uuid trackId = copy.tracks()[0].id;
    copy.setTrackVolume(key, trackId, 1.0);
    EXPECT_EQ(copy, original) << "setting the same value keeps the copy equal";

    Project deep = original;
    const Uuid clipId = deep.tracks()[0].clips[0].id;
    Note note = deep.removeNote(key, trackId, clipId, 2);
    note.velocity = 99;
    deep.insertNote(key, trackId, clipId, 2, note);
    EXPECT_NE(deep, original);

    Project withConfig = original;
    withConfig.setTrackInstrumentConfig(key, trackId, nlohmann::json{{"root_note", 60}});
    EXPECT_NE(withConfig, original) << "JSON members compare by content";

    Project nan;
    nan.setTempo(key, std::numeric_limits<double>::quiet_NaN());
    EXPECT_FALSE(Project(nan) == nan) << "doubles compare with ==";
}

struct Refusal {
    std::string name;
    std::function<void(Project&, EditKey)> action;
    bool outOfRange;  // else std::invalid_argument
    std::string message;
};

// Each primitive checks the track, then the clip or device, then the index; a refused
// call changes nothing.
TEST(ProjectPrimitives, ChecksInOrderAndARefusalChangesNothing) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid t = project.tracks()[0].id;
    const Uuid c = project.tracks()[0].clips[1].id;
    const Uuid x = Uuid::generate();
    const std::string noTrack = "no track with that id";
    const std::string noClip = "no clip with that id";
    const std::string noDevice = "no device with that id";
    const std::string index = "index out of range";
    const std::vector<Refusal> refusals = {
        {"insertTrack", [](Project& p, EditKey k) { p.insertTrack(k, 4, Track{}); }, true, index},
        {"removeTrack", [](Project& p, EditKey k) { p.removeTrack(k, 3); }, true, index},
        {"setTrackName", [&](Project& p, EditKey k) { p.setTrackName(k, x, "x"); }, false, noTrack},
        {"setTrackInstrument", [&](Project& p, EditKey k) { p.setTrackInstrument(k, x, "x"); }, false, noTrack},
        {"setTrackInstrumentConfig", [&](Project& p, EditKey k) { p.setTrackInstrumentConfig(k, x, {}); }, false,
         noTrack},
        {"setTrackMuted", [&](Project& p, EditKey k) { p.setTrackMuted(k, x, true); }, false, noTrack},
        {"setTrackSolo", [&](Project& p, EditKey k) { p.setTrackSolo(k, x, true); }, false, noTrack},
        {"setTrackVolume", [&](Project& p, EditKey k) { p.setTrackVolume(k, x, 0.5); }, false, noTrack},
        {"insertClip/track", [&](Project& p, EditKey k) { p.insertClip(k, x, 99, Clip{}); }, false, noTrack},
        {"insertClip/index", [&](Project& p, EditKey k) { p.insertClip(k, t, 3, Clip{}); }, true, index},
        {"removeClip/track", [&](Project& p, EditKey k) { p.removeClip(k, x, 99); }, false, noTrack},
        {"removeClip/index", [&](Project& p, EditKey k) { p.removeClip(k, t, 2); }, true, index},
        {"insertNote/track", [&](Project& p, EditKey k) { p.insertNote(k, x, x, 99, Note{}); }, false, noTrack},
        {"insertNote/clip", [&](Project& p, EditKey k) { p.insertNote(k, t, x, 99, Note{}); }, false, noClip},
        {"insertNote/index", [&](Project& p, EditKey k) { p.insertNote(k, t, c, 4, Note{}); }, true, index},
        {"removeNote/clip", [&](Project& p, EditKey k) { p.removeNote(k, t, x, 0); }, false, noClip},
        {"removeNote/index", [&](Project& p, EditKey k) { p.removeNote(k, t, c, 3); }, true, index},
        {"insertDevice/track", [&](Project& p, EditKey k) { p.insertDevice(k, x, 99, Device{}); }, false, noTrack},
        {"insertDevice/index", [&](Project& p, EditKey k) { p.insertDevice(k, t, 4, Device{}); }, true, index},
        {"removeDevice/index", [&](Project& p, EditKey k) { p.removeDevice(k, t, 3); }, true, index},
        {"setDeviceParameter/track", [&](Project& p, EditKey k) { p.setDeviceParameter(k, x, x, "a", 1); }, false,
         noTrack},
        {"setDeviceParameter/device", [&](Project& p, EditKey k) { p.setDeviceParameter(k, t, x, "a", 1); }, false,
         noDevice},
        {"eraseDeviceParameter", [&](Project& p, EditKey k) { p.eraseDeviceParameter(k, t, x, "mix"); }, false,
         noDevice},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        const std::function<void()> action = [&] { refusal.action(project, key); };
        if (refusal.outOfRange) {
            expectRefused<std::out_of_range>(project, action, refusal.message);
        } else {
            expectRefused<std::invalid_argument>(project, action, refusal.message);
        }
    }
}

TEST(ProjectPrimitives, InsertAtAnIndexAndRemoveGiveBackTheSameRecord) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    const Uuid trackId = project.tracks()[0].id;
    const Uuid clipId = project.tracks()[0].clips[1].id;
    const auto track = withFreshId<Track>();
    project.insertTrack(key, 3, track);  // at the count: appends
    EXPECT_EQ(project.tracks()[3], track);
    EXPECT_EQ(project.removeTrack(key, 3), track);
    const auto clip = withFreshId<Clip>();
    project.insertClip(key, trackId, 0, clip);
    EXPECT_EQ(project.removeClip(key, trackId, 0), clip);
    const auto note = withFreshId<Note>();
    project.insertNote(key, trackId, clipId, 3, note);
    EXPECT_EQ(project.removeNote(key, trackId, clipId, 3), note);
    const auto device = withFreshId<Device>();
    project.insertDevice(key, trackId, 1, device);
    EXPECT_EQ(project.tracks()[0].devices[1], device);
    EXPECT_EQ(project.removeDevice(key, trackId, 1), device);
    project.eraseDeviceParameter(key, trackId, project.tracks()[0].devices[0].id, "absent");
    EXPECT_EQ(project, before) << "erasing an absent knob changes nothing";
}

TEST(JsonValue, CopiesAreDeepAndTheDefaultIsAnEmptyObject) {
    JsonValue value = nlohmann::json{{"list", {1, 2}}};
    const JsonValue copy = value;
    value = nlohmann::json{{"list", {1}}};
    EXPECT_EQ(copy.get()["list"].size(), 2u);
    EXPECT_EQ(JsonValue{}, JsonValue{nlohmann::json::object()});
    EXPECT_NE(JsonValue{}, JsonValue{nlohmann::json()});
    EXPECT_FALSE(JsonValue{nlohmann::json()}.isObject());
}

}  // namespace
}  // namespace ostrel::model
