#include "model/commands/History.h"

#include <stdexcept>

#include "model/commands/CompositeCommand.h"

namespace ostrel::model {

History::History(Project& project, std::size_t depthLimit) : project_(project), depthLimit_(depthLimit) {}

History::~History() = default;

void History::execute(std::unique_ptr<Command> command) {
    if (!command) throw std::invalid_argument("no command to execute");
    command->apply(project_, key_);
    std::string description = command->description();
    if (transaction_) {
        transaction_->commands.push_back(std::move(command));
    } else {
        redoStack_.clear();
        // The command's own apply has already changed the document; when the newest step
        // takes over its value, the command itself is no longer needed.
        if (undoStack_.empty() || !undoStack_.back()->mergeWith(*command)) push(std::move(command));
    }
    notify(ChangeKind::Executed, description);
}

void History::undo() {
    if (undoStack_.empty()) return;
    std::unique_ptr<Command> step = std::move(undoStack_.back());
    undoStack_.pop_back();
    step->revert(project_, key_);
    std::string description = step->description();
    redoStack_.push_back(std::move(step));
    notify(ChangeKind::Undone, description);
}

void History::redo() {
    if (redoStack_.empty()) return;
    std::unique_ptr<Command> step = std::move(redoStack_.back());
    redoStack_.pop_back();
    step->apply(project_, key_);
    std::string description = step->description();
    push(std::move(step));
    notify(ChangeKind::Redone, description);
}

std::optional<std::string> History::undoDescription() const {
    if (undoStack_.empty()) return std::nullopt;
    return undoStack_.back()->description();
}

std::optional<std::string> History::redoDescription() const {
    if (redoStack_.empty()) return std::nullopt;
    return redoStack_.back()->description();
}

bool History::canUndo() const {
    return !undoStack_.empty();
}

bool History::canRedo() const {
    return !redoStack_.empty();
}

void History::beginTransaction(std::string description) {
    if (transaction_) throw std::logic_error("a transaction is already in progress");
    transaction_.emplace(Transaction{std::move(description), {}});
    notify(ChangeKind::TransactionBegun, transaction_->description);
}

void History::commitTransaction() {
    if (!transaction_) throw std::logic_error("no transaction is in progress");
    Transaction transaction = std::move(*transaction_);
    transaction_.reset();
    if (!transaction.commands.empty()) {
        redoStack_.clear();
        // Every command has been applied already; the composite is only recorded.
        push(std::make_unique<CompositeCommand>(transaction.description, std::move(transaction.commands)));
    }
    notify(ChangeKind::TransactionCommitted, transaction.description);
}

int History::addListener(std::function<void(const Change&)> listener) {
    const int id = nextListenerId_++;
    listeners_.emplace(id, std::move(listener));
    return id;
}

void History::removeListener(int id) {
    listeners_.erase(id);
}

void History::push(std::unique_ptr<Command> step) {
    undoStack_.push_back(std::move(step));
    while (depthLimit_ != 0 && undoStack_.size() > depthLimit_) undoStack_.pop_front();
}

void History::notify(ChangeKind kind, const std::string& description) {
    const Change change{kind, description};
    // A copy, so listeners may add or remove listeners while being called.
    const auto listeners = listeners_;
    for (const auto& [id, listener] : listeners) {
        if (listener) listener(change);
    }
}

}  // namespace ostrel::model
