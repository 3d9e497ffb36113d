#include "model/History.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "ModelTestSupport.h"
#include "model/Commands.h"

namespace ostrel::model {
namespace {

using test::sampleProject;

// Records every change a history sends.
struct Recorder {
    std::vector<Change> changes;
    std::vector<ChangeKind> kinds() const {
        std::vector<ChangeKind> result;
        for (const auto& change : changes) result.push_back(change.kind);
        return result;
    }
};

class HistoryTest : public ::testing::Test {
protected:
    HistoryTest() : project(sampleProject()), history(project, 200) {
        history.addListener([this](const Change& change) { recorder.changes.push_back(change); });
    }

    Uuid track(int i) const { return project.tracks()[i].id; }

    Project project;
    History history;
    Recorder recorder;
};

TEST_F(HistoryTest, EmptyStacksDoNothingAndSendNothing) {
    const Project before = project;
    history.undo();
    history.redo();
    EXPECT_EQ(project, before);
    EXPECT_TRUE(recorder.changes.empty());
    EXPECT_FALSE(history.canUndo());
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(history.undoDescription(), std::nullopt);
    EXPECT_EQ(history.redoDescription(), std::nullopt);
}

TEST_F(HistoryTest, ExecuteUndoRedoRestoreTheDocumentAndAnnounceEachStep) {
    const Project before = project;
    history.execute(std::make_unique<RemoveTrackCommand>(track(1)));
    const Project after = project;
    EXPECT_EQ(history.undoDescription(), "Remove track");
    history.undo();
    EXPECT_EQ(project, before);
    EXPECT_EQ(history.redoDescription(), "Remove track");
    EXPECT_FALSE(history.canUndo());
    history.redo();
    EXPECT_EQ(project, after);
    EXPECT_THAT(recorder.kinds(), ::testing::ElementsAre(ChangeKind::Executed, ChangeKind::Undone, ChangeKind::Redone));
    for (const auto& change : recorder.changes) EXPECT_EQ(change.description, "Remove track");
}

TEST_F(HistoryTest, TwoTempoChangesMakeOneStep) {
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTempoCommand>(140.0));
    EXPECT_EQ(recorder.kinds(), (std::vector<ChangeKind>{ChangeKind::Executed, ChangeKind::Executed}));
    EXPECT_EQ(history.undoDescription(), "Set tempo");
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 120.0);
    EXPECT_FALSE(history.canUndo());
    history.redo();
    EXPECT_EQ(project.tempoBpm(), 140.0);
}

TEST_F(HistoryTest, ProjectRenamesMergeWhateverTheirNames) {
    history.execute(std::make_unique<SetProjectNameCommand>("A"));
    history.execute(std::make_unique<SetProjectNameCommand>("B"));
    history.undo();
    EXPECT_EQ(project.name(), "Song");
    EXPECT_FALSE(history.canUndo());
}

TEST_F(HistoryTest, VolumeChangesMergeOnlyOnTheSameTrack) {
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.5));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(1), 0.5));
    history.undo();
    ASSERT_TRUE(history.canUndo()) << "different tracks make two steps";
    history.undo();
    EXPECT_FALSE(history.canUndo());

    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.5));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.25));
    history.undo();
    EXPECT_FALSE(history.canUndo()) << "the same track makes one step";
    EXPECT_EQ(project.tracks()[0].volume, 1.0);
}

TEST_F(HistoryTest, MergingTriesOnlyTheNewestStep) {
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.5));
    history.execute(std::make_unique<SetTempoCommand>(150.0));
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 130.0);
    EXPECT_TRUE(history.canUndo());
}

TEST_F(HistoryTest, AfterAnUndoAMergingCommandJoinsTheOlderStepAndClearsRedo) {
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.5));
    history.undo();
    ASSERT_TRUE(history.canRedo());
    history.execute(std::make_unique<SetTempoCommand>(140.0));
    EXPECT_FALSE(history.canRedo());
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 120.0);
    EXPECT_FALSE(history.canUndo());
}

TEST_F(HistoryTest, ExecutingClearsTheRedoStack) {
    history.execute(std::make_unique<RenameTrackCommand>(track(0), "A"));
    history.undo();
    history.execute(std::make_unique<SetTrackMutedCommand>(track(0), true));
    EXPECT_FALSE(history.canRedo());
}

TEST(HistoryDepth, KeepsTheNewestTwoHundredSteps) {
    Project project = sampleProject();
    History history(project, 200);
    const Uuid trackId = project.tracks()[0].id;
    for (int i = 0; i < 201; ++i) history.execute(std::make_unique<SetTrackMutedCommand>(trackId, i % 2 == 0));
    int undone = 0;
    while (history.canUndo()) {
        history.undo();
        ++undone;
    }
    EXPECT_EQ(undone, 200);
    EXPECT_TRUE(project.tracks()[0].muted) << "the first command's change is no longer undoable";
    EXPECT_NO_THROW(history.undo());
}

TEST(HistoryDepth, ZeroKeepsEveryStep) {
    Project project = sampleProject();
    const Project before = project;
    History history(project, 0);
    const Uuid trackId = project.tracks()[0].id;
    for (int i = 0; i < 500; ++i) history.execute(std::make_unique<SetTrackMutedCommand>(trackId, i % 2 == 0));
    int undone = 0;
    while (history.canUndo()) {
        history.undo();
        ++undone;
    }
    EXPECT_EQ(undone, 500);
    EXPECT_EQ(project, before);
}

TEST(HistoryDepth, RedoPushesBackUnderTheLimit) {
    Project project = sampleProject();
    History history(project, 2);
    const Uuid trackId = project.tracks()[0].id;
    history.execute(std::make_unique<SetTrackMutedCommand>(trackId, true));
    history.execute(std::make_unique<SetTrackSoloCommand>(trackId, true));
    history.undo();
    history.redo();
    history.undo();
    history.undo();
    EXPECT_FALSE(project.tracks()[0].muted);
    EXPECT_FALSE(history.canUndo());
}

TEST_F(HistoryTest, AThrowingApplyRecordsAndSendsNothing) {
    history.execute(std::make_unique<SetTempoCommand>(100.0));
    history.undo();
    recorder.changes.clear();
    const Project before = project;
    try {
        history.execute(std::make_unique<AddNoteCommand>(track(0), Uuid::generate(), Note{}));
        ADD_FAILURE() << "expected a throw";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "no clip with that id");
    }
    EXPECT_EQ(project, before);
    EXPECT_FALSE(history.canUndo());
    EXPECT_TRUE(history.canRedo()) << "a failed execute does not clear redo";
    EXPECT_TRUE(recorder.changes.empty());
}

// A step whose revert fails, as a command whose target vanished would.
class FailingRevert final : public Command {
public:
    void apply(Project&, EditKey) override {}
    void revert(Project&, EditKey) override { throw std::invalid_argument("no track with that id"); }
    std::string description() const override { return "Fragile"; }
};

TEST_F(HistoryTest, AThrowingRevertDropsTheStepAndSendsNothing) {
    history.execute(std::make_unique<SetTempoCommand>(100.0));
    history.execute(std::make_unique<FailingRevert>());
    recorder.changes.clear();
    EXPECT_THROW(history.undo(), std::invalid_argument);
    EXPECT_FALSE(history.canRedo()) << "the failed step does not reach the redo stack";
    EXPECT_EQ(history.undoDescription(), "Set tempo");
    EXPECT_TRUE(recorder.changes.empty());
}

TEST_F(HistoryTest, TransactionGroupsCommandsIntoOneStepWithoutMerging) {
    history.beginTransaction("Move clip");
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTempoCommand>(140.0));
    history.execute(std::make_unique<RenameTrackCommand>(track(0), "Moved"));
    EXPECT_FALSE(history.canUndo()) << "the stacks do not see an open transaction";
    history.commitTransaction();
    EXPECT_THAT(recorder.kinds(),
                ::testing::ElementsAre(ChangeKind::TransactionBegun, ChangeKind::Executed, ChangeKind::Executed,
                                       ChangeKind::Executed, ChangeKind::TransactionCommitted));
    EXPECT_EQ(recorder.changes.front().description, "Move clip");
    EXPECT_EQ(recorder.changes[1].description, "Set tempo");
    EXPECT_EQ(recorder.changes.back().description, "Move clip");
    EXPECT_EQ(history.undoDescription(), "Move clip");
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 120.0);
    EXPECT_EQ(project.tracks()[0].name, "Track 1");
    EXPECT_FALSE(history.canUndo());
    history.redo();
    EXPECT_EQ(project.tempoBpm(), 140.0);
    EXPECT_EQ(project.tracks()[0].name, "Moved");
}

TEST_F(HistoryTest, ACommittedTransactionDoesNotMergeWithTheNextCommand) {
    history.beginTransaction("Tempo");
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.commitTransaction();
    history.execute(std::make_unique<SetTempoCommand>(150.0));
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 130.0);
}

TEST_F(HistoryTest, AnEmptyCommitOnlyNotifiesAndKeepsRedo) {
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.undo();
    recorder.changes.clear();
    history.beginTransaction("Nothing");
    history.commitTransaction();
    EXPECT_THAT(recorder.kinds(), ::testing::ElementsAre(ChangeKind::TransactionBegun, ChangeKind::TransactionCommitted));
    EXPECT_TRUE(history.canRedo());
    EXPECT_FALSE(history.canUndo());
}

TEST_F(HistoryTest, MisusedTransactionsThrowLogicErrors) {
    try {
        history.commitTransaction();
        ADD_FAILURE();
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "no transaction is in progress");
    }
    history.beginTransaction("Outer");
    try {
        history.beginTransaction("Inner");
        ADD_FAILURE();
    } catch (const std::logic_error& error) {
        EXPECT_STREQ(error.what(), "a transaction is already in progress");
    }
    history.execute(std::make_unique<SetTempoCommand>(90.0));
    history.commitTransaction();
    EXPECT_EQ(history.undoDescription(), "Outer") << "the refused begin left the open transaction alone";
}

TEST_F(HistoryTest, AThrowInsideATransactionKeepsWhatWasCollected) {
    history.beginTransaction("Edit");
    history.execute(std::make_unique<SetTempoCommand>(90.0));
    EXPECT_THROW(history.execute(std::make_unique<RemoveTrackCommand>(Uuid::generate())), std::invalid_argument);
    history.commitTransaction();
    EXPECT_EQ(history.undoDescription(), "Edit");
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 120.0);
}

TEST(HistoryListeners, AreCalledInIdOrderAndRemovalsTakeEffectNextTime) {
    Project project = sampleProject();
    History history(project, 200);
    std::vector<std::string> calls;
    int selfRemovingId = 0;
    const int first = history.addListener([&](const Change&) { calls.push_back("first"); });
    selfRemovingId = history.addListener([&](const Change&) {
        calls.push_back("self");
        history.removeListener(selfRemovingId);
        history.addListener([&](const Change&) { calls.push_back("added"); });
    });
    history.addListener([&](const Change&) { calls.push_back("third"); });
    EXPECT_EQ(first, 1);
    EXPECT_EQ(selfRemovingId, 2);

    history.execute(std::make_unique<SetTempoCommand>(100.0));
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "self", "third"}));
    calls.clear();
    history.execute(std::make_unique<SetProjectNameCommand>("x"));
    EXPECT_EQ(calls, (std::vector<std::string>{"first", "third", "added"}));

    history.removeListener(first);
    history.removeListener(999);
    EXPECT_EQ(history.addListener([](const Change&) {}), 5) << "ids are never reused";
}

TEST(HistoryListeners, AThrowingListenerStopsTheNotificationAfterTheChangeIsRecorded) {
    Project project = sampleProject();
    History history(project, 200);
    bool laterCalled = false;
    history.addListener([](const Change&) { throw std::runtime_error("listener failed"); });
    history.addListener([&](const Change&) { laterCalled = true; });
    EXPECT_THROW(history.execute(std::make_unique<SetTempoCommand>(100.0)), std::runtime_error);
    EXPECT_FALSE(laterCalled);
    EXPECT_EQ(project.tempoBpm(), 100.0);
    EXPECT_TRUE(history.canUndo());
}

}  // namespace
}  // namespace ostrel::model
