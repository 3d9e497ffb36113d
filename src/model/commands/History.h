#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/commands/Command.h"
#include "model/document/EditKey.h"

namespace ostrel::model {

class Project;

enum class ChangeKind {
    Executed = 0,
    Undone = 1,
    Redone = 2,
    TransactionBegun = 3,
    TransactionCommitted = 4,
};

struct Change {
    ChangeKind kind;
    std::string description;  // of the command, the step or the transaction concerned
};

// Runs every edit of one Project: applies commands, keeps the undo and redo stacks, folds
// runs of like edits into one step, groups commands into transactions and tells listeners.
// The only holder of the EditKey. GUI thread only; listeners run inside the call.
class History {
public:
    // depthLimit: most undo steps kept, the oldest dropped first; 0 keeps every step.
    History(Project& project, std::size_t depthLimit);
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    // Applies the command and records it. If apply throws, nothing is recorded or sent
    // and the exception reaches the caller.
    void execute(std::unique_ptr<Command> command);
    void undo();
    void redo();

    std::optional<std::string> undoDescription() const;
    std::optional<std::string> redoDescription() const;
    bool canUndo() const;
    bool canRedo() const;

    // Commands executed until the commit become one undo step. Throws std::logic_error
    // when a transaction is already open, or when committing with none open.
    void beginTransaction(std::string description);
    void commitTransaction();

    // Ids start at 1 and are never reused. Listeners are called in id order; one added or
    // removed during a notification takes effect from the next notification.
    int addListener(std::function<void(const Change&)> listener);
    void removeListener(int id);

private:
    struct Transaction {
        std::string description;
        std::vector<std::unique_ptr<Command>> commands;
    };

    void push(std::unique_ptr<Command> step);
    void notify(ChangeKind kind, const std::string& description);

    Project& project_;
    EditKey key_;
    std::deque<std::unique_ptr<Command>> undoStack_;  // oldest at the front
    std::vector<std::unique_ptr<Command>> redoStack_;  // undone last at the back
    std::size_t depthLimit_;
    std::optional<Transaction> transaction_;
    std::map<int, std::function<void(const Change&)>> listeners_;
    int nextListenerId_ = 1;
};

}  // namespace ostrel::model
