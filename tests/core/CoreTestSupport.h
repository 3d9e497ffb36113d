#pragma once

#include "core/log/LogSink.h"
#include "core/settings/SettingsRegistry.h"

#include <latch>
#include <sstream>
#include <string>
#include <vector>

namespace ostrel::test {

struct RecordingSink : core::LogSink {
    void write(const core::LogRecord& record) override { records.push_back(record); }
    std::vector<core::LogRecord> records;
};

// Holds the logger's mutex from inside its one write until released, as a slow disk would.
struct BlockingSink : core::LogSink {
    void write(const core::LogRecord&) override {
        entered.count_down();
        released.wait();
    }
    std::latch entered{1};
    std::latch released{1};
};

inline std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The program's registry, built once for every settings test.
inline const core::SettingsRegistry& settingsRegistry() {
    static const core::SettingsRegistry built = core::buildSettingsRegistry();
    return built;
}

}  // namespace ostrel::test
