#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::core {

class LogSink;

enum class LogLevel : int { TRACE = 0, DEBUG = 1, INFO = 2, WARN = 3, ERROR = 4, FATAL = 5 };

// "TRACE" to "FATAL"; "?" for a value outside the enumeration.
std::string_view logLevelName(LogLevel level) noexcept;

// Matches the six names ignoring ASCII case; leaves out untouched when nothing matches.
bool parseLogLevel(std::string_view name, LogLevel& out);

// Times are 100-nanosecond ticks since 1970-01-01 00:00:00 UTC.
struct LogStep {
    std::int64_t time = 0;
    std::string category;
    std::string message;
};

struct LogRecord {
    std::int64_t time = 0;
    LogLevel level = LogLevel::INFO;
    std::string category;
    std::string message;
    std::string threadTag;                // four lower-case hexadecimal digits
    std::vector<std::string> actionStack; // ERROR and FATAL only, outermost first
    std::vector<LogStep> recentSteps;     // ERROR and FATAL only, oldest first
};

// The wall clock in ticks.
std::int64_t currentLogTime() noexcept;

// The calling thread's tag: FNV-1a of its kernel thread id, low 16 bits, as "%04zx".
std::string threadTag();
// The same tag as a number: no allocation, so a signal handler may call it.
unsigned threadTagNumber() noexcept;

// The process-wide logger and flight recorder: passes records to its sinks and keeps
// the 64 newest steps. Any thread but the audio thread. One mutex guards all state and
// is held while sinks write, so a sink must never call back into the logger.
class Logger {
public:
    static constexpr std::size_t maxRecentSteps = 64;

    // The one logger of the program. Tests may make their own.
    static Logger& instance();

    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void addSink(std::shared_ptr<LogSink> sink);
    void setLevel(LogLevel level);
    LogLevel level() const;

    // Never throws and never reports: a record that cannot be built or written is lost.
    void log(LogLevel level, std::string_view category, std::string_view message) noexcept;

    // Adds a step to the ring whatever the level; it reaches no sink.
    void recordStep(std::string_view category, std::string_view message) noexcept;

    // Never waits: false, with out untouched, when the lock is held anywhere.
    bool copyRecentSteps(std::vector<LogStep>& out);

    // Like copyRecentSteps but copies nothing: calls visit(const LogStep&) for each step,
    // oldest first, with the lock taken by one try. Safe in a signal handler as long as
    // visit is; the crash reporter writes the steps out with it.
    template <typename Visit>
    bool tryVisitRecentSteps(Visit&& visit) {
        std::unique_lock lock(mutex_, std::try_to_lock);
        if (!lock.owns_lock()) {
            return false;
        }
        for (const LogStep& step : recentSteps_) {
            visit(step);
        }
        return true;
    }

private:
    void appendStep(std::int64_t time, std::string_view category, std::string_view message);

    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<LogSink>> sinks_;
    std::deque<LogStep> recentSteps_;
    LogLevel minLevel_ = LogLevel::INFO;
};

// A copy of the calling thread's open actions, outermost first. Takes no lock.
std::vector<std::string> currentActionStack();

// The calling thread's open actions without a copy: no allocation and no lock, so a
// signal handler on this thread may read it. Valid until the thread opens or closes an
// action; empty in the instant the stack moves to larger storage.
std::span<const std::string> currentActionStackView() noexcept;

// Names what the user is doing on this thread while alive, such as "Transport > play";
// records "begin: " and "end: " steps. Lives on the stack of the thread that made it.
class ActionScope {
public:
    ActionScope(std::string name, Logger& logger);
    ~ActionScope();
    ActionScope(const ActionScope&) = delete;
    ActionScope& operator=(const ActionScope&) = delete;

private:
    Logger* logger_;
    std::string name_;
};

}  // namespace ostrel::core
