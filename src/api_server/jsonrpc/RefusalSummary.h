#pragma once

#include <array>
#include <chrono>
#include <cstddef>

namespace ostrel::core {
class Logger;
}

namespace ostrel::api_server {

// The log lines about clients sent away, which another program (of any user) can cause at
// thousands a second by connecting without the token: one line each would fill the log
// and rotate its start away. The first of a kind in an interval is logged as it happens,
// the others of that interval as one count when it ends. Network thread only.
class RefusalSummary {
public:
    using Clock = std::chrono::steady_clock;

    enum class Kind : std::size_t {
        Busy,            // another client holds the door
        Crowded,         // too many clients were waiting to show the token
        NoTokenInTime,   // no request with the token within the patience
        UnfinishedLine,  // a line left unfinished past the patience
        StoppedReading,  // a reply could not be written
        AnotherUser,     // the connection came from another user's process
        OwnerUnknown,    // whose process it came from could not be told
        Count,
    };

    static constexpr std::chrono::seconds kInterval{10};

    // logger may be null; lines go to category "api_server".
    explicit RefusalSummary(core::Logger* logger) : logger_(logger) {}

    void note(Kind kind, Clock::time_point now);
    // Logs the count of every interval that has ended by now.
    void flushDue(Clock::time_point now);
    // Logs every count still held, whatever its interval (at stop).
    void flushAll();

private:
    struct Tally {
        Clock::time_point since{};  // the interval's start; the epoch while none is open
        long more = 0;              // noted after its first line
    };

    void flush(Kind kind);

    core::Logger* logger_;
    std::array<Tally, static_cast<std::size_t>(Kind::Count)> tallies_{};
};

}  // namespace ostrel::api_server
