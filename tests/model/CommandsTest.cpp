#include "model/Commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"

namespace ostrel::model {
namespace {

using std::make_unique;
using test::editKeyForTests;
using test::makeNote;
using test::withFreshId;
using test::sampleProject;

// Ids of the sample project's records by position.
struct At {
    const Project& p;
    Uuid t(int i) const { return p.tracks()[i].id; }
    Uuid c(int i, int j) const { return p.tracks()[i].clips[j].id; }
    Uuid n(int i, int j, int k) const { return p.tracks()[i].clips[j].notes[k].id; }
    Uuid d(int i, int j) const { return p.tracks()[i].devices[j].id; }
};

struct Kind {
    std::string description;  // also names the case
    std::function<std::unique_ptr<Command>(At)> make;
};

// One instance of every kind, each aimed at the sample project so that it changes it.
std::vector<Kind> everyKind() {
    return {
        {"Add clip", [](At a) { return make_unique<AddClipCommand>(a.t(2), withFreshId<Clip>()); }},
        {"Add device", [](At a) { return make_unique<AddDeviceCommand>(a.t(0), withFreshId<Device>()); }},
        {"Add note", [](At a) { return make_unique<AddNoteCommand>(a.t(0), a.c(0, 1), makeNote(64, 2.5)); }},
        {"Add track", [](At) { return make_unique<AddTrackCommand>("Drums", Uuid::generate(), "audio"); }},
        {"Move device", [](At a) { return make_unique<MoveDeviceCommand>(a.t(1), a.d(1, 0), 2); }},
        {"Remove clip", [](At a) { return make_unique<RemoveClipCommand>(a.t(0), a.c(0, 0)); }},
        {"Remove device", [](At a) { return make_unique<RemoveDeviceCommand>(a.t(1), a.d(1, 1)); }},
        {"Remove note", [](At a) { return make_unique<RemoveNoteCommand>(a.t(1), a.c(1, 0), a.n(1, 0, 1)); }},
        {"Remove track", [](At a) { return make_unique<RemoveTrackCommand>(a.t(1)); }},
        {"Rename track", [](At a) { return make_unique<RenameTrackCommand>(a.t(2), "Lead"); }},
        {"Bypass device", [](At a) { return make_unique<SetDeviceEnabledCommand>(a.t(0), a.d(0, 1), false); }},
        {"Set time_ms", [](At a) {
             return make_unique<SetDeviceParameterCommand>(a.t(0), a.d(0, 2), "time_ms", 250.0);
         }},
        {"Rename project", [](At) { return make_unique<SetProjectNameCommand>("Other song"); }},
        {"Set tempo", [](At) { return make_unique<SetTempoCommand>(140.0); }},
        {"Set instrument", [](At a) { return make_unique<SetTrackInstrumentCommand>(a.t(0), "Sampler"); }},
        {"Set instrument settings", [](At a) {
             return make_unique<SetTrackInstrumentConfigCommand>(a.t(0), nlohmann::json{{"sample", "kick.wav"}});
         }},
        {"Mute track", [](At a) { return make_unique<SetTrackMutedCommand>(a.t(1), true); }},
        {"Solo track", [](At a) { return make_unique<SetTrackSoloCommand>(a.t(1), true); }},
        {"Set track volume", [](At a) { return make_unique<SetTrackVolumeCommand>(a.t(1), 0.25); }},
        {"Edit clip", [](At a) { return make_unique<UpdateClipCommand>(a.t(0), a.c(0, 1), 8.0, 2.0); }},
        {"Edit note", [](At a) {
             return make_unique<UpdateNoteCommand>(a.t(0), a.c(0, 0), a.n(0, 0, 2), makeNote(72, 2.5));
         }},
        {"Tidy up", [](At a) {
             std::vector<std::unique_ptr<Command>> children;
             children.push_back(make_unique<SetTempoCommand>(90.0));
             children.push_back(make_unique<RemoveTrackCommand>(a.t(0)));
             children.push_back(make_unique<RenameTrackCommand>(a.t(2), "Only"));
             return make_unique<CompositeCommand>("Tidy up", std::move(children));
         }},
    };
}

TEST(CommandRoundTrip, EveryKindRevertsToAnEqualProjectAndReappliesTheSameEdit) {
    const EditKey key = editKeyForTests();
    const auto kinds = everyKind();
    ASSERT_EQ(kinds.size(), 22u);
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.description);
        Project project = sampleProject();
        const Project before = project;
        auto command = kind.make(At{project});
        command->apply(project, key);
        const Project after = project;
        EXPECT_NE(after, before) << "the case must change the project";
        command->revert(project, key);
        EXPECT_EQ(project, before);
        command->apply(project, key);
        EXPECT_EQ(project, after);
        command->revert(project, key);
        EXPECT_EQ(project, before);
        EXPECT_EQ(command->description(), kind.description);
    }
}

TEST(CommandDescriptions, FollowTheHeldValue) {
    const Uuid id = Uuid::generate();
    EXPECT_EQ(SetDeviceEnabledCommand(id, id, true).description(), "Switch device on");
    EXPECT_EQ(SetTrackMutedCommand(id, false).description(), "Unmute track");
    EXPECT_EQ(SetTrackSoloCommand(id, false).description(), "Unsolo track");
    EXPECT_EQ(SetDeviceParameterCommand(id, id, "cutoff_hz", 1.0).description(), "Set cutoff_hz");
}

// Every kind made for one project and applied to another finds no track there; the
// composite takes back the tempo change it made before its child failed.
TEST(CommandFailures, ApplyWithAMissingTrackThrowsAndChangesNothing) {
    const EditKey key = editKeyForTests();
    const Project other = sampleProject();
    for (const Kind& kind : everyKind()) {
        if (kind.description == "Add track" || kind.description == "Rename project") continue;
        if (kind.description == "Set tempo") continue;
        SCOPED_TRACE(kind.description);
        Project project = sampleProject();
        auto command = kind.make(At{other});
        test::expectRefused<std::invalid_argument>(project, [&] { command->apply(project, key); },
                                                   "no track with that id");
    }
}

TEST(CommandEffects, MoveDeviceClampsToTheEndAndRevertPutsItBack) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    const Uuid trackId = project.tracks()[0].id;
    const Uuid first = project.tracks()[0].devices[0].id;
    const Uuid last = project.tracks()[0].devices[2].id;
    MoveDeviceCommand toEnd(trackId, first, 99);
    toEnd.apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices.back().id, first);
    toEnd.revert(project, key);
    EXPECT_EQ(project, before);
    MoveDeviceCommand(trackId, last, 0).apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].id, last);
}

TEST(CommandEffects, RevertingAParameterThatHadNoValueRemovesTheKey) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid trackId = project.tracks()[0].id;
    const Uuid deviceId = project.tracks()[0].devices[0].id;
    SetDeviceParameterCommand fresh(trackId, deviceId, "feedback", 0.3);
    fresh.apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.at("feedback"), 0.3);
    fresh.revert(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.count("feedback"), 0u);
}

TEST(CommandEffects, EditsSetExactlyTheirFieldsAndKeepTheRecordsId) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Uuid trackId = Uuid::generate();
    AddTrackCommand("Drums", trackId, "audio").apply(project, key);
    Track added;
    added.id = trackId;
    added.name = "Drums";
    added.kind = "audio";
    EXPECT_EQ(project.tracks().back(), added) << "a default track with this id, name and kind";

    const Track& track = project.tracks()[0];
    const Uuid noteId = track.clips[0].notes[1].id;
    const Note replacement = makeNote(50, 2.5);
    UpdateNoteCommand(track.id, track.clips[0].id, noteId, replacement).apply(project, key);
    Note edited = replacement;
    edited.id = noteId;
    EXPECT_EQ(project.tracks()[0].clips[0].notes[1], edited)
        << "the edited note keeps its id whatever id it was given";

    Clip clip = project.tracks()[0].clips[1];
    UpdateClipCommand(track.id, clip.id, 12.0, 3.0).apply(project, key);
    clip.startBeats = 12.0;
    clip.lengthBeats = 3.0;
    EXPECT_EQ(project.tracks()[0].clips[1], clip);
}

TEST(CompositeCommandOrder, RevertsTheNoteBeforeTheClipItWentInto) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    const Uuid trackId = project.tracks()[2].id;
    const auto clip = withFreshId<Clip>();
    std::vector<std::unique_ptr<Command>> children;
    children.push_back(make_unique<AddClipCommand>(trackId, clip));
    children.push_back(make_unique<AddNoteCommand>(trackId, clip.id, makeNote(61, 2.5)));
    CompositeCommand composite("Draw", std::move(children));
    composite.apply(project, key);
    EXPECT_EQ(project.tracks()[2].clips.at(0).notes.size(), 1u);
    EXPECT_NO_THROW(composite.revert(project, key));
    EXPECT_EQ(project, before);
    EXPECT_FALSE(composite.mergeWith(composite));
}

// Tempo and project name merge with any of their kind; the others only on the same target.
TEST(CommandMerging, MergesOnlyTheSameKindOnTheSameTarget) {
    const Uuid a = Uuid::generate();
    const Uuid b = Uuid::generate();
    const Uuid c = Uuid::generate();
    EXPECT_TRUE(SetTempoCommand(130).mergeWith(SetTempoCommand(140)));
    EXPECT_TRUE(SetProjectNameCommand("a").mergeWith(SetProjectNameCommand("b")));
    EXPECT_FALSE(SetTempoCommand(130).mergeWith(SetProjectNameCommand("b")));
    EXPECT_TRUE(SetTrackVolumeCommand(a, 0.1).mergeWith(SetTrackVolumeCommand(a, 0.2)));
    EXPECT_FALSE(SetTrackVolumeCommand(a, 0.1).mergeWith(SetTrackVolumeCommand(b, 0.2)));
    EXPECT_TRUE(RenameTrackCommand(a, "x").mergeWith(RenameTrackCommand(a, "y")));
    EXPECT_FALSE(RenameTrackCommand(a, "x").mergeWith(RenameTrackCommand(b, "y")));
    EXPECT_TRUE(SetDeviceParameterCommand(a, b, "mix", 0.1).mergeWith(SetDeviceParameterCommand(a, b, "mix", 0.2)));
    EXPECT_FALSE(SetDeviceParameterCommand(a, b, "mix", 0.1).mergeWith(SetDeviceParameterCommand(a, b, "gain", 0.2)));
    EXPECT_FALSE(SetDeviceParameterCommand(a, b, "mix", 0.1).mergeWith(SetDeviceParameterCommand(a, c, "mix", 0.2)));
    EXPECT_FALSE(SetDeviceParameterCommand(a, b, "mix", 0.1).mergeWith(SetDeviceParameterCommand(c, b, "mix", 0.2)));
    EXPECT_TRUE(UpdateClipCommand(a, b, 0, 1).mergeWith(UpdateClipCommand(a, b, 2, 3)));
    EXPECT_FALSE(UpdateClipCommand(a, b, 0, 1).mergeWith(UpdateClipCommand(a, c, 2, 3)));
    EXPECT_TRUE(UpdateNoteCommand(a, b, c, Note{}).mergeWith(UpdateNoteCommand(a, b, c, Note{})));
    EXPECT_FALSE(UpdateNoteCommand(a, b, c, Note{}).mergeWith(UpdateNoteCommand(a, b, a, Note{})));
    EXPECT_FALSE(UpdateNoteCommand(a, b, c, Note{}).mergeWith(UpdateNoteCommand(a, a, c, Note{})));
    EXPECT_FALSE(SetTrackMutedCommand(a, true).mergeWith(SetTrackMutedCommand(a, false)));
    EXPECT_FALSE(SetDeviceEnabledCommand(a, b, true).mergeWith(SetDeviceEnabledCommand(a, b, false)));
    EXPECT_FALSE(SetTrackInstrumentCommand(a, "x").mergeWith(SetTrackInstrumentCommand(a, "y")));

    const EditKey key = editKeyForTests();
    Project project;
    SetTempoCommand tempo(133.0);
    EXPECT_TRUE(tempo.mergeWith(tempo));
    tempo.apply(project, key);
    EXPECT_EQ(project.tempoBpm(), 133.0) << "merging with itself keeps its own value";
}

}  // namespace
}  // namespace ostrel::model
