#include "core/files/TemporaryFiles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace ostrel::core;

namespace {

struct Seen {
    const std::set<std::string>* names;
    int torn = 0;
    int visited = 0;
};

// The short names are entered as exports, the long ones as files.
void look(const char* path, TemporaryFiles::Kind kind, void* context) {
    auto& seen = *static_cast<Seen*>(context);
    ++seen.visited;
    const bool isShort = std::string(path).find("short") != std::string::npos;
    const bool kindAgrees = (kind == TemporaryFiles::Kind::Export) == isShort;
    seen.torn += seen.names->count(path) == 0 || !kindAgrees ? 1 : 0;
}

}  // namespace

// A close cut short walks the table while writers come and go on other threads: each path it
// is given is one that was entered, whole, with its own kind, never a mix of two.
TEST(TemporaryFilesThreadTest, AWalkDuringEntriesAndLeavesSeesOnlyWholePaths) {
    constexpr int kWriters = 4;
    std::set<std::string> names;
    for (int writer = 0; writer < kWriters; ++writer) {
        for (const char* name : {"/a/short.tmp", "/a/much/longer/name/of/an/export.wav.tmp"}) {
            names.insert(std::to_string(writer) + name);
        }
    }
    std::atomic<bool> done{false};
    std::vector<std::thread> writers;
    for (int writer = 0; writer < kWriters; ++writer) {
        writers.emplace_back([&, writer] {
            const std::string shortName = std::to_string(writer) + "/a/short.tmp";
            const std::string longName = std::to_string(writer) + "/a/much/longer/name/of/an/export.wav.tmp";
            for (int i = 0; i < 20000; ++i) {
                const int slot = i % 2 == 0 ? TemporaryFiles::enter(shortName, TemporaryFiles::Kind::Export)
                                            : TemporaryFiles::enter(longName);
                EXPECT_GE(slot, 0);
                TemporaryFiles::leave(slot);
            }
        });
    }
    Seen seen{&names};
    std::thread walker([&] {
        while (!done.load(std::memory_order_acquire)) {
            TemporaryFiles::forEach(look, &seen);
        }
    });
    for (std::thread& writer : writers) {
        writer.join();
    }
    done.store(true, std::memory_order_release);
    walker.join();
    EXPECT_EQ(seen.torn, 0) << "of " << seen.visited;

    Seen after{&names};
    TemporaryFiles::forEach(look, &after);
    EXPECT_EQ(after.visited, 0) << "every writer left";
}
