#include "model/commands/History.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "ModelTestSupport.h"
#include "model/commands/Commands.h"

namespace ostrel::model {
namespace {

using ::testing::ElementsAre;
using test::sampleProject;

class HistoryTest : public ::testing::Test {
protected:
    HistoryTest() : project(sampleProject()), history(project, 200) {
        history.addListener([this](const Change& change) { changes.push_back(change); });
    }

    Uuid track(int i) const { return project.tracks()[i].id; }

    std::vector<ChangeKind> kinds() const {
        std::vector<ChangeKind> result;
        for (const auto& change : changes) result.push_back(change.kind);
        return result;
    }

    int undoAll() {
        int steps = 0;
        for (; history.canUndo(); ++steps) history.undo();
        return steps;
    }

    Project project;
    History history;
    std::vector<Change> changes;
};

TEST_F(HistoryTest, ExecuteUndoRedoRestoreTheDocumentAndAnnounceEachStep) {
    const Project before = project;
    history.undo();
    history.redo();
    EXPECT_TRUE(changes.empty()) << "empty stacks do nothing and send nothing";
    EXPECT_EQ(history.undoDescription(), std::nullopt);

    history.execute(std::make_unique<RemoveTrackCommand>(track(1)));
    const Project after = project;
    EXPECT_EQ(history.undoDescription(), "Remove track");
    history.undo();
    EXPECT_EQ(project, before);
    EXPECT_EQ(history.redoDescription(), "Remove track");
    EXPECT_FALSE(history.canUndo());
    history.redo();
    EXPECT_EQ(project, after);
    EXPECT_THAT(kinds(), ElementsAre(ChangeKind::Executed, ChangeKind::Undone, ChangeKind::Redone));
    for (const auto& change : changes) EXPECT_EQ(change.description, "Remove track");
}

// Only the newest step is asked, and only a like edit of the same target joins it.
TEST_F(HistoryTest, LikeEditsJoinTheNewestStepWhichUndoesToTheFirstValue) {
    const Project before = project;
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTempoCommand>(140.0));
    EXPECT_THAT(kinds(), ElementsAre(ChangeKind::Executed, ChangeKind::Executed)) << "each edit is still announced";
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.5));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(1), 0.5));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(1), 0.25));
    history.execute(std::make_unique<SetTempoCommand>(150.0));
    EXPECT_EQ(undoAll(), 4);
    EXPECT_EQ(project, before);
    history.redo();
    EXPECT_EQ(project.tempoBpm(), 140.0);
}

TEST(HistoryDepth, KeepsTheNewestStepsUpToTheLimitAndZeroKeepsAll) {
    for (const auto& [depth, edits] : {std::pair<std::size_t, int>{200, 201}, {0, 500}}) {
        Project project = sampleProject();
        const Project before = project;
        History history(project, depth);
        const Uuid trackId = project.tracks()[0].id;
        for (int i = 0; i < edits; ++i) history.execute(std::make_unique<SetTrackMutedCommand>(trackId, i % 2 == 0));
        int undone = 0;
        for (; history.canUndo(); ++undone) history.undo();
        EXPECT_EQ(undone, depth == 0 ? edits : static_cast<int>(depth));
        EXPECT_EQ(project == before, depth == 0) << "beyond the limit the first change can no longer be undone";
    }
}

TEST_F(HistoryTest, AThrowingApplyRecordsNothingAndKeepsRedoWhichASuccessfulMergeClears) {
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTrackVolumeCommand>(track(0), 0.5));
    history.undo();
    changes.clear();
    test::expectRefused<std::invalid_argument>(
        project, [&] { history.execute(std::make_unique<AddNoteCommand>(track(0), Uuid::generate(), Note{})); },
        "no clip with that id");
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(history.canRedo());
    EXPECT_EQ(history.undoDescription(), "Set tempo");
    history.execute(std::make_unique<SetTempoCommand>(140.0));  // merges with the older step
    EXPECT_FALSE(history.canRedo());
    EXPECT_EQ(undoAll(), 1);
    EXPECT_EQ(project.tempoBpm(), 120.0);
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
    changes.clear();
    EXPECT_THROW(history.undo(), std::invalid_argument);
    EXPECT_FALSE(history.canRedo()) << "the failed step does not reach the redo stack";
    EXPECT_EQ(history.undoDescription(), "Set tempo");
    EXPECT_TRUE(changes.empty());
}

TEST_F(HistoryTest, ATransactionIsOneStepThatNeitherMergesInsideNorWithTheNextCommand) {
    history.beginTransaction("Move clip");
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.execute(std::make_unique<SetTempoCommand>(140.0));
    history.execute(std::make_unique<RenameTrackCommand>(track(0), "Moved"));
    EXPECT_FALSE(history.canUndo()) << "the stacks do not see an open transaction";
    history.commitTransaction();
    EXPECT_THAT(kinds(), ElementsAre(ChangeKind::TransactionBegun, ChangeKind::Executed, ChangeKind::Executed,
                                     ChangeKind::Executed, ChangeKind::TransactionCommitted));
    EXPECT_EQ(changes.front().description, "Move clip");
    EXPECT_EQ(changes[1].description, "Set tempo");
    EXPECT_EQ(changes.back().description, "Move clip");
    history.execute(std::make_unique<SetTempoCommand>(150.0));
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 140.0);
    EXPECT_EQ(history.undoDescription(), "Move clip");
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 120.0);
    EXPECT_EQ(project.tracks()[0].name, "Track 1");
    EXPECT_FALSE(history.canUndo());
    history.redo();
    EXPECT_EQ(project.tracks()[0].name, "Moved");
}

TEST_F(HistoryTest, AnEmptyCommitOnlyNotifiesAndKeepsRedo) {
    history.execute(std::make_unique<SetTempoCommand>(130.0));
    history.undo();
    changes.clear();
    history.beginTransaction("Nothing");
    history.commitTransaction();
    EXPECT_THAT(kinds(), ElementsAre(ChangeKind::TransactionBegun, ChangeKind::TransactionCommitted));
    EXPECT_TRUE(history.canRedo());
    EXPECT_FALSE(history.canUndo());
}

TEST_F(HistoryTest, MisusedTransactionsThrowLogicErrorsAndLeaveTheOpenOneAlone) {
    test::expectRefused<std::logic_error>(project, [&] { history.commitTransaction(); },
                                          "no transaction is in progress");
    history.beginTransaction("Outer");
    test::expectRefused<std::logic_error>(project, [&] { history.beginTransaction("Inner"); },
                                          "a transaction is already in progress");
    history.execute(std::make_unique<SetTempoCommand>(90.0));
    EXPECT_THROW(history.execute(std::make_unique<RemoveTrackCommand>(Uuid::generate())), std::invalid_argument);
    history.commitTransaction();
    EXPECT_EQ(history.undoDescription(), "Outer");
    history.undo();
    EXPECT_EQ(project.tempoBpm(), 120.0) << "what was collected before the throw stays in the step";
}

TEST(HistoryListeners, AreCalledInIdOrderAndChangesTakeEffectNextTime) {
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

}  // namespace
}  // namespace ostrel::model
