#include "playback/StemMixer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <algorithm>
#include <latch>
#include <mutex>
#include <new>
#include <stdexcept>

namespace ostrel::engine {
namespace {

constexpr int kChannels = 2;

// Counts the stems alive (built and not yet let go) and the most at once.
struct Census {
    std::mutex mutex;
    int alive = 0;
    int most = 0;
};

// A constant on every channel; lives as long as its graph.
class ConstantNode : public Node {
public:
    ConstantNode(float value, Census* census) : value_(value), census_(census) {
        if (census_ != nullptr) {
            std::lock_guard lock(census_->mutex);
            census_->most = std::max(census_->most, ++census_->alive);
        }
    }
    ~ConstantNode() override {
        if (census_ != nullptr) {
            std::lock_guard lock(census_->mutex);
            --census_->alive;
        }
    }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        for (int c = 0; c < output.channels; ++c) {
            std::fill_n(output.channel(c), context.frames, value_);
        }
    }

private:
    float value_;
    Census* census_;
};

std::unique_ptr<Graph> constantGraph(float value, Census* census = nullptr) {
    GraphBuilder builder;
    builder.output = builder.addNode(std::make_unique<ConstantNode>(value, census));
    return builder.compile(48000.0, 256, kChannels, nullptr);
}

StemMixSettings mixSettings(int threads, std::int64_t frames) {
    StemMixSettings s;
    s.threads = threads;
    s.channels = kChannels;
    s.context.blockSize = 256;
    s.context.frames = frames;
    return s;
}

// 1 + 1e8 rounds to 1e8 in a float, so the sum says in which order the stems came: in
// index order it is 0; with stem 0 (held until the others are built) added last it is 1.
TEST(StemMixerOrder, StemsThatFinishOutOfOrderAreStillAddedInIndexOrder) {
    const float values[] = {1.0f, 1e8f, -1e8f};
    for (int threads : {1, 2, 3, 8}) {
        std::latch lastBuilt(1);
        const StemBuilder build = [&](std::size_t index, TrackStem* stem, std::string*) {
            if (index == 0 && threads >= 3) {
                lastBuilt.wait();  // the other two are built and run first
            }
            stem->graph = constantGraph(values[index]);
            stem->gain = 1.0;
            stem->warnings = {"stem " + std::to_string(index)};
            if (index == 2) {
                lastBuilt.count_down();
            }
            return true;
        };
        std::vector<float> mix(2 * 50000, 0.0f);
        std::vector<std::string> warnings;
        ASSERT_TRUE(mixStems(3, build, mixSettings(threads, 50000), mix, &warnings, nullptr));
        EXPECT_EQ(mix, std::vector<float>(mix.size(), 0.0f)) << threads << " threads";
        EXPECT_EQ(warnings, (std::vector<std::string>{"stem 0", "stem 1", "stem 2"}));
    }
}

TEST(StemMixerOrder, SilentStemsAndGainsKeepTheOrderOfTheRest) {
    for (int threads : {1, 4}) {
        const StemBuilder build = [](std::size_t index, TrackStem* stem, std::string*) {
            if (index != 1 && index != 3) {  // 1 has no graph, 3 is not heard
                stem->graph = constantGraph(index == 0 ? 1e8f : index == 2 ? 2.0f : -1e8f);
            } else if (index == 3) {
                stem->graph = constantGraph(5.0f);
                stem->gain = 0.0;
            }
            if (index == 2) {
                stem->gain = 0.5;
            }
            return true;
        };
        std::vector<float> mix(2 * 20000, 0.0f);
        ASSERT_TRUE(mixStems(5, build, mixSettings(threads, 20000), mix, nullptr, nullptr));
        EXPECT_EQ(mix, std::vector<float>(mix.size(), 0.0f)) << threads << " threads";
    }
}

TEST(StemMixerMemory, NoMoreStemsAreAliveThanThreads) {
    for (int threads : {1, 2, 3}) {
        Census census;
        const StemBuilder build = [&](std::size_t, TrackStem* stem, std::string*) {
            stem->graph = constantGraph(0.25f, &census);
            return true;
        };
        std::vector<float> mix(2 * 40000, 0.0f);
        ASSERT_TRUE(mixStems(12, build, mixSettings(threads, 40000), mix, nullptr, nullptr));
        EXPECT_LE(census.most, threads);
        EXPECT_EQ(census.alive, 0);
        EXPECT_EQ(mix, std::vector<float>(mix.size(), 3.0f));
    }
}

TEST(StemMixerFailure, TheFirstFailureInIndexOrderIsReportedEvenWhenALaterOneCameFirst) {
    std::latch laterFailed(1);
    const StemBuilder build = [&](std::size_t index, TrackStem* stem, std::string* error) {
        if (index == 2) {
            *error = "two";
            laterFailed.count_down();
            return false;
        }
        if (index == 1) {
            laterFailed.wait();
            *error = "one";
            return false;
        }
        stem->graph = constantGraph(1.0f);
        return true;
    };
    std::vector<float> mix(2 * 1000, 0.0f);
    std::string error;
    EXPECT_FALSE(mixStems(6, build, mixSettings(4, 1000), mix, nullptr, &error));
    EXPECT_EQ(error, "one");
}

TEST(StemMixerFailure, AnExceptionOnAHelperThreadReachesTheCaller) {
    for (int threads : {1, 4}) {
        const StemBuilder build = [](std::size_t index, TrackStem* stem, std::string*) -> bool {
            if (index == 3) {
                throw std::bad_alloc();
            }
            stem->graph = constantGraph(1.0f);
            return true;
        };
        std::vector<float> mix(2 * 30000, 0.0f);
        EXPECT_THROW((void)mixStems(6, build, mixSettings(threads, 30000), mix, nullptr, nullptr), std::bad_alloc);
    }
}

TEST(StemMixerLength, NothingRunsForAnEmptyMixButEveryStemIsBuiltForItsWarnings) {
    std::atomic<int> built{0};
    const StemBuilder build = [&](std::size_t index, TrackStem* stem, std::string*) {
        ++built;
        stem->graph = constantGraph(1.0f);
        stem->warnings = {std::to_string(index)};
        return true;
    };
    std::vector<std::string> warnings;
    ASSERT_TRUE(mixStems(3, build, mixSettings(3, 0), {}, &warnings, nullptr));
    EXPECT_EQ(built.load(), 3);
    EXPECT_EQ(warnings, (std::vector<std::string>{"0", "1", "2"}));
}

}  // namespace
}  // namespace ostrel::engine
