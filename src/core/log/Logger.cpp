#include "core/log/Logger.h"

#include "core/log/LogSink.h"
#include "core/log/UtcTime.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace ostrel::core {
namespace {

constexpr std::array<std::string_view, 6> levelNames{"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "FATAL"};

bool atLeast(LogLevel level, LogLevel floor) { return static_cast<int>(level) >= static_cast<int>(floor); }

// The thread's open actions. A signal handler reads them through the plain pointer
// below, which needs no lazy initialisation; the vector only grows through a swap that
// is flagged, so the handler never sees half-moved storage.
struct ThreadActions;
thread_local ThreadActions* liveActions = nullptr;
thread_local volatile std::sig_atomic_t actionsMoving = 0;

struct ThreadActions {
    std::vector<std::string> names;
    ThreadActions() {
        names.reserve(16);
        liveActions = this;
    }
    ~ThreadActions() { liveActions = nullptr; }
};

std::vector<std::string>& threadActions() {
    thread_local ThreadActions actions;
    return actions.names;
}

void pushAction(const std::string& name) {
    std::vector<std::string>& names = threadActions();
    if (names.size() == names.capacity()) {
        std::vector<std::string> larger;
        larger.reserve(names.capacity() * 2);
        larger.assign(names.begin(), names.end());
        actionsMoving = 1;
        std::atomic_signal_fence(std::memory_order_seq_cst);
        names.swap(larger);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        actionsMoving = 0;
    }
    // Within capacity push_back builds the element before it moves the end, and
    // pop_back moves the end before it destroys, so the visible range stays whole.
    names.push_back(name);
}

void popAction() {
    std::vector<std::string>& names = threadActions();
    if (!names.empty()) {
        names.pop_back();
    }
}

}  // namespace

std::string_view logLevelName(LogLevel level) noexcept {
    const int index = static_cast<int>(level);
    if (index < 0 || index >= static_cast<int>(levelNames.size())) {
        return "?";
    }
    return levelNames[static_cast<std::size_t>(index)];
}

bool parseLogLevel(std::string_view name, LogLevel& out) {
    for (std::size_t i = 0; i < levelNames.size(); ++i) {
        const std::string_view candidate = levelNames[i];
        if (candidate.size() != name.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t k = 0; k < name.size() && same; ++k) {
            char c = name[k];
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
            same = c == candidate[k];
        }
        if (same) {
            out = static_cast<LogLevel>(i);
            return true;
        }
    }
    return false;
}

std::int64_t currentLogTime() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) * kTicksPerSecond + now.tv_nsec / 100;
}

unsigned threadTagNumber() noexcept {
    const auto id = static_cast<std::uint32_t>(::gettid());
    std::uint64_t hash = 14695981039346656037ull;
    for (int shift = 0; shift < 32; shift += 8) {
        hash ^= (id >> shift) & 0xffu;
        hash *= 1099511628211ull;
    }
    return static_cast<unsigned>(hash & 0xffffu);
}

std::string threadTag() {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", threadTagNumber());
    return text;
}

Logger& Logger::instance() {
    static Logger logger;
    return logger;
}

void Logger::addSink(std::shared_ptr<LogSink> sink) {
    std::lock_guard lock(mutex_);
    sinks_.push_back(std::move(sink));
}

void Logger::setLevel(LogLevel level) {
    std::lock_guard lock(mutex_);
    minLevel_ = level;
}

LogLevel Logger::level() const {
    std::lock_guard lock(mutex_);
    return minLevel_;
}

void Logger::log(LogLevel level, std::string_view category, std::string_view message) noexcept {
    try {
        const bool failure = atLeast(level, LogLevel::ERROR);
        // The action stack is this thread's own: copied before the lock, which it needs not.
        std::vector<std::string> actions;
        if (failure) {
            actions = currentActionStack();
        }
        std::lock_guard lock(mutex_);
        if (!atLeast(level, minLevel_)) {
            return;
        }
        LogRecord record;
        record.time = currentLogTime();
        record.level = level;
        record.category = category;
        record.message = message;
        record.threadTag = threadTag();
        if (failure) {
            record.recentSteps.assign(recentSteps_.begin(), recentSteps_.end());
            record.actionStack = std::move(actions);
        }
        if (atLeast(level, LogLevel::INFO)) {
            appendStep(record.time, category, message);
        }
        for (const std::shared_ptr<LogSink>& sink : sinks_) {
            try {
                sink->write(record);
            } catch (...) {
                // One failing sink neither silences the others nor reaches the caller.
            }
        }
    } catch (...) {
        // Out of memory while building the record: the record is lost.
    }
}

void Logger::recordStep(std::string_view category, std::string_view message) noexcept {
    try {
        std::lock_guard lock(mutex_);
        appendStep(currentLogTime(), category, message);
    } catch (...) {
    }
}

bool Logger::copyRecentSteps(std::vector<LogStep>& out) {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        return false;
    }
    out.assign(recentSteps_.begin(), recentSteps_.end());
    return true;
}

void Logger::appendStep(std::int64_t time, std::string_view category, std::string_view message) {
    recentSteps_.push_back(LogStep{time, std::string(category), std::string(message)});
    while (recentSteps_.size() > maxRecentSteps) {
        recentSteps_.pop_front();
    }
}

std::vector<std::string> currentActionStack() {
    const std::span<const std::string> view = currentActionStackView();
    return {view.begin(), view.end()};
}

std::span<const std::string> currentActionStackView() noexcept {
    const ThreadActions* actions = liveActions;
    if (actions == nullptr || actionsMoving != 0) {
        return {};
    }
    return {actions->names.data(), actions->names.size()};
}

ActionScope::ActionScope(std::string name, Logger& logger) : logger_(&logger), name_(std::move(name)) {
    pushAction(name_);
    logger_->recordStep("action", "begin: " + name_);
}

ActionScope::~ActionScope() {
    popAction();
    try {
        logger_->recordStep("action", "end: " + name_);
    } catch (...) {
    }
}

}  // namespace ostrel::core
