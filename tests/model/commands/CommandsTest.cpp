#include "model/commands/Commands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"
#include "model/commands/History.h"

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

// One track holding one clip with notes at these starts, pitches 60 upwards, in this order.
Project clipWithStarts(const std::vector<double>& starts) {
    auto clip = withFreshId<Clip>();
    for (std::size_t i = 0; i < starts.size(); ++i) {
        clip.notes.push_back(makeNote(60 + static_cast<std::int32_t>(i), starts[i]));
    }
    auto track = withFreshId<Track>();
    track.clips.push_back(std::move(clip));
    std::vector<Track> tracks;
    tracks.push_back(std::move(track));
    return makeProject(Uuid::generate(), "Notes", 120.0, std::move(tracks), JsonValue{});
}

const std::vector<Note>& notesOf(const Project& project) {
    return project.tracks()[0].clips[0].notes;
}

// The clip's notes are kept in the order they were added, not by start: files, the API's
// lists and the tie order of notes that start together all read that order, so an edit
// must leave the note where it was whatever its new start.
TEST(UpdateNotePlace, TheEditedNoteStaysAtItsPlaceWhereverItsStartGoes) {
    struct Case {
        const char* name;
        std::size_t index;
        double start;
    };
    const std::vector<Case> cases = {
        {"same start", 2, 1.0},
        {"earlier than the notes before it", 3, 0.0},
        {"earlier than every note", 4, -1.0},
        {"later than the notes after it", 1, 5.0},
        {"equal to the starts of the notes before it", 4, 1.0},
        {"equal to the start of the note after it", 0, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Project project = clipWithStarts({0.0, 1.0, 1.0, 1.0, 2.0});
        const std::vector<Note> before = notesOf(project);
        const Track& track = project.tracks()[0];
        Note edited = before[c.index];
        edited.startBeats = c.start;
        edited.pitch = 90;
        std::vector<Note> expected = before;
        expected[c.index] = edited;

        History history(project, 0);
        history.execute(make_unique<UpdateNoteCommand>(track.id, track.clips[0].id, edited.id, edited));
        EXPECT_EQ(notesOf(project), expected);
        history.undo();
        EXPECT_EQ(notesOf(project), before);
        history.redo();
        EXPECT_EQ(notesOf(project), expected);
    }
}

// Snapping every note of a played clip to the grid, as one step: undo gives back the very
// same list, redo the very same edited one, and the listeners hear what any edit sends.
TEST(UpdateNotePlace, AQuantizeOfEveryNoteUndoesAndRedoesToTheExactLists) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> played(0.0, 16.0);
    std::vector<double> starts(200);
    for (double& start : starts) start = played(random);
    Project project = clipWithStarts(starts);
    const std::vector<Note> before = notesOf(project);
    const Uuid trackId = project.tracks()[0].id;
    const Uuid clipId = project.tracks()[0].clips[0].id;
    std::vector<Note> expected = before;
    for (Note& note : expected) note.startBeats = std::round(note.startBeats * 4.0) / 4.0;

    History history(project, 0);
    std::vector<std::pair<ChangeKind, std::string>> changes;
    history.addListener([&](const Change& change) { changes.emplace_back(change.kind, change.description); });
    history.beginTransaction("Quantize");
    for (const Note& note : expected) {
        history.execute(make_unique<UpdateNoteCommand>(trackId, clipId, note.id, note));
    }
    history.commitTransaction();
    EXPECT_EQ(notesOf(project), expected);
    history.undo();
    EXPECT_EQ(notesOf(project), before);
    history.redo();
    EXPECT_EQ(notesOf(project), expected);
    history.undo();
    EXPECT_EQ(notesOf(project), before);

    std::vector<std::pair<ChangeKind, std::string>> heard{{ChangeKind::TransactionBegun, "Quantize"}};
    heard.insert(heard.end(), expected.size(), {ChangeKind::Executed, "Edit note"});
    heard.insert(heard.end(), {{ChangeKind::TransactionCommitted, "Quantize"},
                               {ChangeKind::Undone, "Quantize"},
                               {ChangeKind::Redone, "Quantize"},
                               {ChangeKind::Undone, "Quantize"}});
    EXPECT_EQ(changes, heard);
}

TEST(UpdateNotePlace, MergedEditsOfOneNoteUndoToTheFirstValueAtTheSamePlace) {
    Project project = clipWithStarts({0.0, 1.0, 2.0});
    const std::vector<Note> before = notesOf(project);
    const Track& track = project.tracks()[0];
    Note edited = before[1];
    History history(project, 0);
    for (const double start : {3.0, -2.0, 0.5}) {
        edited.startBeats = start;
        history.execute(make_unique<UpdateNoteCommand>(track.id, track.clips[0].id, edited.id, edited));
    }
    history.undo();
    EXPECT_FALSE(history.canUndo()) << "the three edits are one step";
    EXPECT_EQ(notesOf(project), before);
    history.redo();
    EXPECT_EQ(notesOf(project), (std::vector<Note>{before[0], edited, before[2]}));
}

// Regression guard for the remembered place: once the clip has shifted, applying again
// must still edit the note with that id and no other.
TEST(UpdateNotePlace, ApplyingAgainAfterTheClipShiftedFindsTheNoteById) {
    const EditKey key = editKeyForTests();
    Project project = clipWithStarts({0.0, 1.0, 2.0});
    const std::vector<Note> before = notesOf(project);
    const Uuid trackId = project.tracks()[0].id;
    const Uuid clipId = project.tracks()[0].clips[0].id;
    Note edited = before[1];
    edited.pitch = 99;
    UpdateNoteCommand command(trackId, clipId, edited.id, edited);
    command.apply(project, key);
    command.revert(project, key);

    const Note added = makeNote(40, 0.0);
    project.insertNote(key, trackId, clipId, 0, added);
    command.apply(project, key);
    EXPECT_EQ(notesOf(project), (std::vector<Note>{added, before[0], edited, before[2]}));
    command.revert(project, key);
    EXPECT_EQ(notesOf(project), (std::vector<Note>{added, before[0], before[1], before[2]}));

    project.removeNote(key, trackId, clipId, 0);
    project.removeNote(key, trackId, clipId, 0);
    command.apply(project, key);
    EXPECT_EQ(notesOf(project), (std::vector<Note>{edited, before[2]}));
}

TEST(UpdateNotePlace, AnUnknownNoteIsRefusedAndChangesNothing) {
    const EditKey key = editKeyForTests();
    Project project = clipWithStarts({0.0, 1.0});
    const Track& track = project.tracks()[0];
    UpdateNoteCommand command(track.id, track.clips[0].id, Uuid::generate(), makeNote(50, 0.0));
    test::expectRefused<std::invalid_argument>(project, [&] { command.apply(project, key); }, "no note with that id");
}

}  // namespace
}  // namespace ostrel::model
