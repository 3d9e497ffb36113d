#include "model/Commands.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"
#include "model/Lookup.h"

namespace ostrel::model {
namespace {

using test::editKeyForTests;
using test::sampleProject;

using Factory = std::function<std::unique_ptr<Command>(const Project&)>;

struct Kind {
    std::string name;
    Factory make;
    std::string description;
};

Note makeNote(int pitch) {
    Note note;
    note.id = Uuid::generate();
    note.pitch = pitch;
    note.velocity = 80;
    note.startBeats = 2.5;
    return note;
}

// One instance of every kind, each aimed at the sample project so that it changes it.
std::vector<Kind> everyKind() {
    auto t = [](const Project& p, int i) { return p.tracks()[i].id; };
    auto c = [](const Project& p, int i, int j) { return p.tracks()[i].clips[j].id; };
    auto n = [](const Project& p, int i, int j, int k) { return p.tracks()[i].clips[j].notes[k].id; };
    auto d = [](const Project& p, int i, int j) { return p.tracks()[i].devices[j].id; };
    return {
        {"AddClip", [=](const Project& p) {
             Clip clip;
             clip.id = Uuid::generate();
             clip.notes.push_back(makeNote(40));
             return std::make_unique<AddClipCommand>(t(p, 2), clip);
         }, "Add clip"},
        {"AddDevice", [=](const Project& p) {
             Device device;
             device.id = Uuid::generate();
             device.typeId = "ostrel.eq";
             return std::make_unique<AddDeviceCommand>(t(p, 0), device);
         }, "Add device"},
        {"AddNote", [=](const Project& p) {
             return std::make_unique<AddNoteCommand>(t(p, 0), c(p, 0, 1), makeNote(64));
         }, "Add note"},
        {"AddTrack", [](const Project&) {
             return std::make_unique<AddTrackCommand>("Drums", Uuid::generate(), "audio");
         }, "Add track"},
        {"MoveDevice", [=](const Project& p) {
             return std::make_unique<MoveDeviceCommand>(t(p, 1), d(p, 1, 0), 2);
         }, "Move device"},
        {"RemoveClip", [=](const Project& p) {
             return std::make_unique<RemoveClipCommand>(t(p, 0), c(p, 0, 0));
         }, "Remove clip"},
        {"RemoveDevice", [=](const Project& p) {
             return std::make_unique<RemoveDeviceCommand>(t(p, 1), d(p, 1, 1));
         }, "Remove device"},
        {"RemoveNote", [=](const Project& p) {
             return std::make_unique<RemoveNoteCommand>(t(p, 1), c(p, 1, 0), n(p, 1, 0, 1));
         }, "Remove note"},
        {"RemoveTrack", [=](const Project& p) {
             return std::make_unique<RemoveTrackCommand>(t(p, 1));
         }, "Remove track"},
        {"RenameTrack", [=](const Project& p) {
             return std::make_unique<RenameTrackCommand>(t(p, 2), "Lead");
         }, "Rename track"},
        {"SetDeviceEnabled", [=](const Project& p) {
             return std::make_unique<SetDeviceEnabledCommand>(t(p, 0), d(p, 0, 1), false);
         }, "Bypass device"},
        {"SetDeviceParameter", [=](const Project& p) {
             return std::make_unique<SetDeviceParameterCommand>(t(p, 0), d(p, 0, 2), "time_ms", 250.0);
         }, "Set time_ms"},
        {"SetProjectName", [](const Project&) {
             return std::make_unique<SetProjectNameCommand>("Other song");
         }, "Rename project"},
        {"SetTempo", [](const Project&) { return std::make_unique<SetTempoCommand>(140.0); }, "Set tempo"},
        {"SetTrackInstrument", [=](const Project& p) {
             return std::make_unique<SetTrackInstrumentCommand>(t(p, 0), "Sampler");
         }, "Set instrument"},
        {"SetTrackInstrumentConfig", [=](const Project& p) {
             return std::make_unique<SetTrackInstrumentConfigCommand>(t(p, 0),
                                                                     nlohmann::json{{"sample", "kick.wav"}});
         }, "Set instrument settings"},
        {"SetTrackMuted", [=](const Project& p) {
             return std::make_unique<SetTrackMutedCommand>(t(p, 1), true);
         }, "Mute track"},
        {"SetTrackSolo", [=](const Project& p) {
             return std::make_unique<SetTrackSoloCommand>(t(p, 1), true);
         }, "Solo track"},
        {"SetTrackVolume", [=](const Project& p) {
             return std::make_unique<SetTrackVolumeCommand>(t(p, 1), 0.25);
         }, "Set track volume"},
        {"UpdateClip", [=](const Project& p) {
             return std::make_unique<UpdateClipCommand>(t(p, 0), c(p, 0, 1), 8.0, 2.0);
         }, "Edit clip"},
        {"UpdateNote", [=](const Project& p) {
             return std::make_unique<UpdateNoteCommand>(t(p, 0), c(p, 0, 0), n(p, 0, 0, 2), makeNote(72));
         }, "Edit note"},
        {"Composite", [=](const Project& p) {
             std::vector<std::unique_ptr<Command>> children;
             children.push_back(std::make_unique<SetTempoCommand>(90.0));
             children.push_back(std::make_unique<RemoveTrackCommand>(t(p, 0)));
             children.push_back(std::make_unique<RenameTrackCommand>(t(p, 2), "Only"));
             return std::make_unique<CompositeCommand>("Tidy up", std::move(children));
         }, "Tidy up"},
    };
}

TEST(CommandRoundTrip, EveryKindRevertsToAnEqualProjectAndReappliesTheSameEdit) {
    const EditKey key = editKeyForTests();
    const auto kinds = everyKind();
    ASSERT_EQ(kinds.size(), 22u);
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        Project project = sampleProject();
        const Project before = project;
        auto command = kind.make(project);
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
    EXPECT_EQ(SetDeviceEnabledCommand(id, id, false).description(), "Bypass device");
    EXPECT_EQ(SetTrackMutedCommand(id, true).description(), "Mute track");
    EXPECT_EQ(SetTrackMutedCommand(id, false).description(), "Unmute track");
    EXPECT_EQ(SetTrackSoloCommand(id, true).description(), "Solo track");
    EXPECT_EQ(SetTrackSoloCommand(id, false).description(), "Unsolo track");
    EXPECT_EQ(SetDeviceParameterCommand(id, id, "cutoff_hz", 1.0).description(), "Set cutoff_hz");
}

struct Refusal {
    std::string name;
    Factory make;
    std::string message;
};

TEST(CommandFailures, ApplyWithAMissingTargetThrowsAndChangesNothing) {
    const EditKey key = editKeyForTests();
    const Uuid missing = Uuid::generate();
    auto t = [](const Project& p) { return p.tracks()[0].id; };
    auto c = [](const Project& p) { return p.tracks()[0].clips[0].id; };
    auto d = [](const Project& p) { return p.tracks()[0].devices[0].id; };
    const std::vector<Refusal> refusals = {
        {"AddClip", [&](const Project&) { return std::make_unique<AddClipCommand>(missing, Clip{}); },
         "no track with that id"},
        {"AddDevice", [&](const Project&) { return std::make_unique<AddDeviceCommand>(missing, Device{}); },
         "no track with that id"},
        {"AddNote/track", [&](const Project&) { return std::make_unique<AddNoteCommand>(missing, missing, Note{}); },
         "no track with that id"},
        {"AddNote/clip", [&](const Project& p) { return std::make_unique<AddNoteCommand>(t(p), missing, Note{}); },
         "no clip with that id"},
        {"MoveDevice", [&](const Project& p) { return std::make_unique<MoveDeviceCommand>(t(p), missing, 0); },
         "no device with that id"},
        {"RemoveClip", [&](const Project& p) { return std::make_unique<RemoveClipCommand>(t(p), missing); },
         "no clip with that id"},
        {"RemoveDevice", [&](const Project& p) { return std::make_unique<RemoveDeviceCommand>(t(p), missing); },
         "no device with that id"},
        {"RemoveNote", [&](const Project& p) { return std::make_unique<RemoveNoteCommand>(t(p), c(p), missing); },
         "no note with that id"},
        {"RemoveTrack", [&](const Project&) { return std::make_unique<RemoveTrackCommand>(missing); },
         "no track with that id"},
        {"RenameTrack", [&](const Project&) { return std::make_unique<RenameTrackCommand>(missing, "x"); },
         "no track with that id"},
        {"SetDeviceEnabled",
         [&](const Project& p) { return std::make_unique<SetDeviceEnabledCommand>(t(p), missing, false); },
         "no device with that id"},
        {"SetDeviceParameter",
         [&](const Project& p) { return std::make_unique<SetDeviceParameterCommand>(t(p), missing, "k", 1.0); },
         "no device with that id"},
        {"SetTrackInstrument",
         [&](const Project&) { return std::make_unique<SetTrackInstrumentCommand>(missing, "x"); },
         "no track with that id"},
        {"SetTrackInstrumentConfig",
         [&](const Project&) { return std::make_unique<SetTrackInstrumentConfigCommand>(missing, JsonValue{}); },
         "no track with that id"},
        {"SetTrackMuted", [&](const Project&) { return std::make_unique<SetTrackMutedCommand>(missing, true); },
         "no track with that id"},
        {"SetTrackSolo", [&](const Project&) { return std::make_unique<SetTrackSoloCommand>(missing, true); },
         "no track with that id"},
        {"SetTrackVolume", [&](const Project&) { return std::make_unique<SetTrackVolumeCommand>(missing, 0.5); },
         "no track with that id"},
        {"UpdateClip", [&](const Project& p) { return std::make_unique<UpdateClipCommand>(t(p), missing, 0, 1); },
         "no clip with that id"},
        {"UpdateNote",
         [&](const Project& p) { return std::make_unique<UpdateNoteCommand>(t(p), c(p), missing, Note{}); },
         "no note with that id"},
        {"SetDeviceParameter/track", [&](const Project& p) {
             return std::make_unique<SetDeviceParameterCommand>(missing, d(p), "k", 1.0);
         }, "no track with that id"},
    };
    for (const Refusal& refusal : refusals) {
        SCOPED_TRACE(refusal.name);
        Project project = sampleProject();
        const Project before = project;
        auto command = refusal.make(project);
        try {
            command->apply(project, key);
            ADD_FAILURE() << "expected std::invalid_argument";
        } catch (const std::invalid_argument& error) {
            EXPECT_EQ(std::string(error.what()), refusal.message);
        }
        EXPECT_EQ(project, before);
    }
}

TEST(CommandEffects, AddTrackBuildsADefaultTrackWithIdNameAndKind) {
    const EditKey key = editKeyForTests();
    Project project;
    const Uuid id = Uuid::generate();
    AddTrackCommand command("Drums", id, "audio");
    command.apply(project, key);
    Track expected;
    expected.id = id;
    expected.name = "Drums";
    expected.kind = "audio";
    ASSERT_EQ(project.tracks().size(), 1u);
    EXPECT_EQ(project.tracks()[0], expected);
}

TEST(CommandEffects, RemovingTheMiddleTrackThenRevertingRestoresItWhole) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    RemoveTrackCommand command(project.tracks()[1].id);
    command.apply(project, key);
    ASSERT_EQ(project.tracks().size(), 2u);
    EXPECT_EQ(project.tracks()[1].id, before.tracks()[2].id);
    command.revert(project, key);
    EXPECT_EQ(project.tracks()[1], before.tracks()[1]);
    EXPECT_EQ(project, before);
}

TEST(CommandEffects, MoveDevicePastTheEndGoesLastAndRevertPutsItBack) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    const Track& track = project.tracks()[0];
    const Uuid first = track.devices[0].id;
    MoveDeviceCommand command(track.id, first, 99);
    command.apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices.back().id, first);
    EXPECT_EQ(project.tracks()[0].devices.size(), 3u);
    command.revert(project, key);
    EXPECT_EQ(project, before);
}

TEST(CommandEffects, MoveDeviceToAnEarlierPlace) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Track& track = project.tracks()[0];
    const Uuid last = track.devices[2].id;
    const Uuid trackId = track.id;
    MoveDeviceCommand command(trackId, last, 0);
    command.apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].id, last);
}

TEST(CommandEffects, RevertingAParameterThatHadNoValueRemovesTheKey) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Track& track = project.tracks()[0];
    const Uuid trackId = track.id;
    const Uuid deviceId = track.devices[0].id;
    SetDeviceParameterCommand fresh(trackId, deviceId, "feedback", 0.3);
    fresh.apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.at("feedback"), 0.3);
    fresh.revert(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.count("feedback"), 0u);

    SetDeviceParameterCommand existing(trackId, deviceId, "mix", 0.9);
    existing.apply(project, key);
    existing.revert(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.at("mix"), 0.5);
}

TEST(CommandEffects, UpdateNoteKeepsTheEditedNotesIdWhateverIdItWasGiven) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Track& track = project.tracks()[0];
    const Uuid trackId = track.id;
    const Uuid clipId = track.clips[0].id;
    const Uuid noteId = track.clips[0].notes[1].id;
    Note replacement = makeNote(50);
    UpdateNoteCommand command(trackId, clipId, noteId, replacement);
    command.apply(project, key);
    const Note& edited = project.tracks()[0].clips[0].notes[1];
    EXPECT_EQ(edited.id, noteId);
    EXPECT_EQ(edited.pitch, 50);
    EXPECT_EQ(findNoteIndex(project.tracks()[0].clips[0], noteId), 1u);
}

TEST(CommandEffects, UpdateClipChangesOnlyStartAndLength) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Clip original = project.tracks()[0].clips[1];
    UpdateClipCommand command(project.tracks()[0].id, original.id, 12.0, 3.0);
    command.apply(project, key);
    Clip expected = original;
    expected.startBeats = 12.0;
    expected.lengthBeats = 3.0;
    EXPECT_EQ(project.tracks()[0].clips[1], expected);
}

TEST(CommandEffects, SetDeviceEnabledKeepsTheDevicesPlace) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    Device expected = project.tracks()[0].devices[1];
    SetDeviceEnabledCommand command(project.tracks()[0].id, expected.id, false);
    command.apply(project, key);
    expected.enabled = false;
    EXPECT_EQ(project.tracks()[0].devices[1], expected);
}

TEST(CompositeCommandOrder, RevertsTheNoteBeforeTheClipItWentInto) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    const Uuid trackId = project.tracks()[2].id;
    Clip clip;
    clip.id = Uuid::generate();
    std::vector<std::unique_ptr<Command>> children;
    children.push_back(std::make_unique<AddClipCommand>(trackId, clip));
    children.push_back(std::make_unique<AddNoteCommand>(trackId, clip.id, makeNote(61)));
    CompositeCommand composite("Draw", std::move(children));
    composite.apply(project, key);
    ASSERT_EQ(project.tracks()[2].clips.size(), 1u);
    EXPECT_EQ(project.tracks()[2].clips[0].notes.size(), 1u);
    EXPECT_NO_THROW(composite.revert(project, key));
    EXPECT_EQ(project, before);
    EXPECT_FALSE(composite.mergeWith(composite));
}

TEST(CompositeCommandOrder, AChildThatThrowsLeavesTheProjectAsItWas) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Project before = project;
    std::vector<std::unique_ptr<Command>> children;
    children.push_back(std::make_unique<SetTempoCommand>(80.0));
    children.push_back(std::make_unique<RemoveTrackCommand>(project.tracks()[0].id));
    children.push_back(std::make_unique<RemoveTrackCommand>(Uuid::generate()));
    CompositeCommand composite("Broken", std::move(children));
    EXPECT_THROW(composite.apply(project, key), std::invalid_argument);
    EXPECT_EQ(project, before) << "the children applied before the failure are taken back";
}

struct MergeCase {
    std::string name;
    std::function<std::unique_ptr<Command>()> first;
    std::function<std::unique_ptr<Command>()> next;
    bool merges;
};

TEST(CommandMerging, MergesOnlyTheSameKindOnTheSameTarget) {
    const Uuid a = Uuid::generate();
    const Uuid b = Uuid::generate();
    const Uuid c = Uuid::generate();
    const std::vector<MergeCase> cases = {
        {"tempo with tempo", [] { return std::make_unique<SetTempoCommand>(130); },
         [] { return std::make_unique<SetTempoCommand>(140); }, true},
        {"name with name", [] { return std::make_unique<SetProjectNameCommand>("a"); },
         [] { return std::make_unique<SetProjectNameCommand>("b"); }, true},
        {"tempo with name", [] { return std::make_unique<SetTempoCommand>(130); },
         [] { return std::make_unique<SetProjectNameCommand>("b"); }, false},
        {"volume same track", [&] { return std::make_unique<SetTrackVolumeCommand>(a, 0.1); },
         [&] { return std::make_unique<SetTrackVolumeCommand>(a, 0.2); }, true},
        {"volume other track", [&] { return std::make_unique<SetTrackVolumeCommand>(a, 0.1); },
         [&] { return std::make_unique<SetTrackVolumeCommand>(b, 0.2); }, false},
        {"rename same track", [&] { return std::make_unique<RenameTrackCommand>(a, "x"); },
         [&] { return std::make_unique<RenameTrackCommand>(a, "y"); }, true},
        {"rename other track", [&] { return std::make_unique<RenameTrackCommand>(a, "x"); },
         [&] { return std::make_unique<RenameTrackCommand>(b, "y"); }, false},
        {"knob same key", [&] { return std::make_unique<SetDeviceParameterCommand>(a, b, "mix", 0.1); },
         [&] { return std::make_unique<SetDeviceParameterCommand>(a, b, "mix", 0.2); }, true},
        {"knob other key", [&] { return std::make_unique<SetDeviceParameterCommand>(a, b, "mix", 0.1); },
         [&] { return std::make_unique<SetDeviceParameterCommand>(a, b, "time_ms", 0.2); }, false},
        {"knob other device", [&] { return std::make_unique<SetDeviceParameterCommand>(a, b, "mix", 0.1); },
         [&] { return std::make_unique<SetDeviceParameterCommand>(a, c, "mix", 0.2); }, false},
        {"knob other track", [&] { return std::make_unique<SetDeviceParameterCommand>(a, b, "mix", 0.1); },
         [&] { return std::make_unique<SetDeviceParameterCommand>(c, b, "mix", 0.2); }, false},
        {"clip same clip", [&] { return std::make_unique<UpdateClipCommand>(a, b, 0, 1); },
         [&] { return std::make_unique<UpdateClipCommand>(a, b, 2, 3); }, true},
        {"clip other clip", [&] { return std::make_unique<UpdateClipCommand>(a, b, 0, 1); },
         [&] { return std::make_unique<UpdateClipCommand>(a, c, 2, 3); }, false},
        {"note same note", [&] { return std::make_unique<UpdateNoteCommand>(a, b, c, Note{}); },
         [&] { return std::make_unique<UpdateNoteCommand>(a, b, c, Note{}); }, true},
        {"note other note", [&] { return std::make_unique<UpdateNoteCommand>(a, b, c, Note{}); },
         [&] { return std::make_unique<UpdateNoteCommand>(a, b, a, Note{}); }, false},
        {"note other clip", [&] { return std::make_unique<UpdateNoteCommand>(a, b, c, Note{}); },
         [&] { return std::make_unique<UpdateNoteCommand>(a, a, c, Note{}); }, false},
        {"mute never merges", [&] { return std::make_unique<SetTrackMutedCommand>(a, true); },
         [&] { return std::make_unique<SetTrackMutedCommand>(a, false); }, false},
        {"enabled never merges", [&] { return std::make_unique<SetDeviceEnabledCommand>(a, b, true); },
         [&] { return std::make_unique<SetDeviceEnabledCommand>(a, b, false); }, false},
        {"instrument never merges", [&] { return std::make_unique<SetTrackInstrumentCommand>(a, "x"); },
         [&] { return std::make_unique<SetTrackInstrumentCommand>(a, "y"); }, false},
    };
    for (const MergeCase& test : cases) {
        auto first = test.first();
        auto next = test.next();
        EXPECT_EQ(first->mergeWith(*next), test.merges) << test.name;
    }
}

TEST(CommandMerging, AMergedStepUndoesToTheFirstValueAndRedoesTheNewest) {
    const EditKey key = editKeyForTests();
    Project project = sampleProject();
    const Track& track = project.tracks()[0];
    const Uuid trackId = track.id;
    const Uuid deviceId = track.devices[0].id;
    SetDeviceParameterCommand first(trackId, deviceId, "mix", 0.7);
    SetDeviceParameterCommand second(trackId, deviceId, "mix", 0.9);
    first.apply(project, key);
    second.apply(project, key);
    ASSERT_TRUE(first.mergeWith(second));
    first.revert(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.at("mix"), 0.5);
    first.apply(project, key);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters.at("mix"), 0.9);
}

TEST(CommandMerging, MergingWithItselfKeepsItsValue) {
    const EditKey key = editKeyForTests();
    Project project;
    SetTempoCommand command(133.0);
    EXPECT_TRUE(command.mergeWith(command));
    command.apply(project, key);
    EXPECT_EQ(project.tempoBpm(), 133.0);
}

}  // namespace
}  // namespace ostrel::model
