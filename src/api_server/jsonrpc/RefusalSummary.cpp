#include "api_server/jsonrpc/RefusalSummary.h"

#include "core/log/Logger.h"

#include <string>
#include <string_view>

namespace ostrel::api_server {
namespace {

struct Text {
    core::LogLevel level;
    // The line for the first of an interval; the count of the others follows it in
    // parentheses: "... (12 more in the last 10 s)".
    std::string_view line;
};

constexpr Text kTexts[] = {
    {core::LogLevel::INFO, "a second client was turned away: one client at a time"},
    {core::LogLevel::INFO, "a client was turned away: too many clients were waiting to show the token"},
    {core::LogLevel::INFO, "a Control-API client sent no request with the right token within 3 seconds; closing it"},
    {core::LogLevel::INFO, "a Control-API client left a request line unfinished for 3 seconds; closing it"},
    {core::LogLevel::WARN, "the client stopped reading; dropping it"},
    {core::LogLevel::WARN,
     "a Control-API connection from another user's process was closed unread: the door serves only this user's "
     "processes"},
    {core::LogLevel::INFO,
     "a Control-API connection was closed unread: whose process it came from could not be told (it may have closed "
     "already)"},
};
static_assert(std::size(kTexts) == static_cast<std::size_t>(RefusalSummary::Kind::Count));
static_assert(RefusalSummary::kInterval == std::chrono::seconds(10), "the count says 10 s");

}  // namespace

void RefusalSummary::note(Kind kind, Clock::time_point now) {
    Tally& tally = tallies_[static_cast<std::size_t>(kind)];
    if (tally.since != Clock::time_point{} && now - tally.since < kInterval) {
        ++tally.more;
        return;
    }
    flush(kind);
    tally.since = now;
    if (logger_ != nullptr) {
        const Text& text = kTexts[static_cast<std::size_t>(kind)];
        logger_->log(text.level, "api_server", std::string(text.line));
    }
}

void RefusalSummary::flushDue(Clock::time_point now) {
    for (std::size_t i = 0; i < tallies_.size(); ++i) {
        if (tallies_[i].since != Clock::time_point{} && now - tallies_[i].since >= kInterval) {
            flush(static_cast<Kind>(i));
        }
    }
}

void RefusalSummary::flushAll() {
    for (std::size_t i = 0; i < tallies_.size(); ++i) {
        flush(static_cast<Kind>(i));
    }
}

void RefusalSummary::flush(Kind kind) {
    Tally& tally = tallies_[static_cast<std::size_t>(kind)];
    if (tally.more > 0 && logger_ != nullptr) {
        const Text& text = kTexts[static_cast<std::size_t>(kind)];
        logger_->log(text.level, "api_server",
                     std::string(text.line) + " (" + std::to_string(tally.more) + " more in the last 10 s)");
    }
    tally = Tally{};
}

}  // namespace ostrel::api_server
