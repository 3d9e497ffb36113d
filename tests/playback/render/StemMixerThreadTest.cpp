#include "playback/render/FeedNode.h"
#include "playback/render/StemMixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <latch>
#include <limits>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <stop_token>
#include <thread>

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

// A sound that tells frames apart: its song position, scaled per stem and channel.
class RampNode : public Node {
public:
    explicit RampNode(float scale) : scale_(scale) {}
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        for (int c = 0; c < output.channels; ++c) {
            for (int f = 0; f < context.frames; ++f) {
                output.channel(c)[f] = static_cast<float>(context.position + f) * scale_ * static_cast<float>(c + 1);
            }
        }
    }

private:
    float scale_;
};

// Adds its two inputs, with memory and an eye on where it is in the block: any frame
// handed on late, early or in another block changes everything after it.
class EchoNode : public Node {
public:
    explicit EchoNode(Census* census) : census_(census) {
        std::lock_guard lock(census_->mutex);
        census_->most = std::max(census_->most, ++census_->alive);
    }
    ~EchoNode() override {
        std::lock_guard lock(census_->mutex);
        --census_->alive;
    }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs, AudioBuffer& output) override {
        for (int c = 0; c < output.channels; ++c) {
            const float* in = inputs[0]->channel(c);
            const float* more = inputs[1]->channel(c);
            for (int f = 0; f < context.frames; ++f) {
                memory_[c] = memory_[c] * 0.999f + (in[f] + more[f]) * (1.0f + static_cast<float>(f) / 64.0f);
                output.channel(c)[f] = memory_[c];
            }
        }
    }

private:
    Census* census_;
    float memory_[kChannels]{};
};

// Stems in parts: two sounds side by side, joined by an effect with memory that adds them.
// Stems of RampNode sounds joined by an EchoNode, starting where `start` says: the odd ones
// in parts unless `whole`, when each stem is one graph.
StemBuilder rampStems(int block, Census* census, std::function<std::int64_t(std::size_t)> start = {},
                      bool whole = false) {
    return [=](std::size_t index, TrackStem* stem, std::string*) {
        const float scale = 1e-5f * static_cast<float>(index + 1);
        GraphBuilder join;
        const int echo = join.addNode(std::make_unique<EchoNode>(census));
        join.output = echo;
        if (whole || index % 2 == 0) {
            join.connect(join.addNode(std::make_unique<RampNode>(scale)), echo, 0);
            join.connect(join.addNode(std::make_unique<RampNode>(-0.5f * scale)), echo, 1);
            stem->graph = join.compile(48000.0, block, kChannels, nullptr);
        } else {
            for (int input : {0, 1}) {
                GraphBuilder part;
                part.output = part.addNode(std::make_unique<RampNode>(input == 0 ? scale : -0.5f * scale));
                stem->parts.push_back(part.compile(48000.0, block, kChannels, nullptr));
                auto feed = std::make_unique<FeedNode>();
                stem->feeds.push_back(feed.get());
                join.connect(join.addNode(std::move(feed)), echo, input);
            }
            stem->join = join.compile(48000.0, block, kChannels, nullptr);
        }
        stem->gain = 0.5;
        stem->warnings = {"stem " + std::to_string(index)};
        stem->start = start ? start(index) : 0;
        return true;
    };
}

TEST(StemMixerParts, StemsInPartsGiveTheFramesOfOneGraphAndHoldNoMoreStemsThanThreads) {
    constexpr std::int64_t kFrames = 50001;
    for (int block : {256, 300, 8192, 10000}) {
        StemMixSettings settings = mixSettings(1, kFrames);
        settings.context.blockSize = static_cast<std::uint32_t>(block);
        Census oneGraph;
        std::vector<float> expected(2 * kFrames, 0.0f);
        ASSERT_TRUE(mixStems(7, rampStems(block, &oneGraph, {}, true), settings, expected, nullptr, nullptr));
        ASSERT_GT(std::abs(expected.back()), 1.0f);
        for (int threads : {1, 2, 3, 5, 16}) {
            Census census;
            settings.threads = threads;
            std::vector<float> mix(2 * kFrames, 0.0f);
            ASSERT_TRUE(mixStems(7, rampStems(block, &census), settings, mix, nullptr, nullptr));
            EXPECT_EQ(std::memcmp(mix.data(), expected.data(), mix.size() * sizeof(float)), 0)
                << block << "-frame blocks, " << threads << " threads";
            EXPECT_LE(census.most, threads);
            EXPECT_EQ(census.alive, 0);
        }
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

// ---- In time: the mix final piece by piece, for a song that plays while it renders --------


// In time, the mix becomes final piece by piece: each time it says frames are final they
// already hold the whole mix's values, and in the end the mix is the stem-by-stem one, bit
// for bit, for any thread count, even in memory that held anything before. No stem waits
// for the ones before it to finish before it is taken, so with one thread every stem is
// built, and held, before the first piece runs. (With more, a stem built early may run to
// its end and let its graph go while another thread still builds a later one: how many are
// alive at once then depends on the machine, so it is not counted.)
TEST(StemMixerInTime, PublishedFramesAreFinalAndTheMixIsTheStemByStemOne) {
    constexpr std::int64_t kFrames = 100001;
    constexpr std::size_t kStems = 5;
    StemMixSettings settings = mixSettings(1, kFrames);
    Census unused;
    std::vector<float> expected(2 * kFrames, 0.0f);
    ASSERT_TRUE(mixStems(kStems, rampStems(256, &unused), settings, expected, nullptr, nullptr));

    for (int threads : {1, 2, 3, 8}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        Census census;
        std::vector<float> mix(2 * kFrames, std::numeric_limits<float>::quiet_NaN());
        std::vector<std::int64_t> published;
        std::vector<std::string> builtWarnings;
        bool finalWhenPublished = true;
        settings.threads = threads;
        settings.order = MixOrder::InTime;
        settings.memory = MixMemory::Unwritten;
        settings.built = [&](const std::vector<std::string>& warnings) {
            builtWarnings = warnings;
            finalWhenPublished = finalWhenPublished && published.empty();
        };
        settings.published = [&](std::int64_t frames) {
            published.push_back(frames);
            finalWhenPublished = finalWhenPublished && !builtWarnings.empty() &&
                                 std::memcmp(mix.data(), expected.data(), static_cast<std::size_t>(frames) * 2 * sizeof(float)) == 0;
        };
        std::vector<std::string> warnings;
        ASSERT_TRUE(mixStems(kStems, rampStems(256, &census), settings, mix, &warnings, nullptr));
        EXPECT_EQ(std::memcmp(mix.data(), expected.data(), mix.size() * sizeof(float)), 0);
        EXPECT_TRUE(finalWhenPublished);
        EXPECT_TRUE(std::is_sorted(published.begin(), published.end()));
        EXPECT_GT(published.size(), 5u) << "a piece at a time";
        EXPECT_EQ(published.back(), kFrames);
        EXPECT_EQ(builtWarnings, warnings);
        if (threads == 1) {
            EXPECT_EQ(census.most, static_cast<int>(kStems)) << "every stem held at once";
        }
        EXPECT_EQ(census.alive, 0);
    }
}

// A stem that starts later adds nothing before its start and, from it on, the frames a
// graph started there gives; a mix that starts later holds the song's frames from there.
TEST(StemMixerInTime, StemsAndTheMixMayStartLaterInTheSong) {
    const std::int64_t piece = mixPieceFrames(256);
    const std::int64_t mixStart = 2 * piece;
    const std::int64_t frames = 6 * piece + 100;
    const auto starts = [&](std::size_t index) { return index == 1 ? mixStart + 3 * piece : mixStart; };
    StemMixSettings settings = mixSettings(3, frames);
    settings.order = MixOrder::InTime;
    settings.context.startPosition = mixStart;
    Census census;
    std::vector<float> mix(static_cast<std::size_t>(2 * frames), 0.0f);
    ASSERT_TRUE(mixStems(3, rampStems(256, &census, starts), settings, mix, nullptr, nullptr));

    // Each stem alone, started where it starts.
    StemMixSettings alone = settings;
    alone.threads = 1;
    std::vector<float> sum(mix.size(), 0.0f);
    for (std::size_t index = 0; index < 3; ++index) {
        const StemBuilder one = [&](std::size_t, TrackStem* stem, std::string* error) {
            return rampStems(256, &census, starts)(index, stem, error);
        };
        std::vector<float> part(mix.size(), 0.0f);
        ASSERT_TRUE(mixStems(1, one, alone, part, nullptr, nullptr));
        const std::size_t first = static_cast<std::size_t>(2 * (starts(index) - mixStart));
        for (std::size_t i = 0; i < first; ++i) {
            EXPECT_EQ(part[i], 0.0f) << "stem " << index << " before its start";
        }
        EXPECT_NE(part[first], 0.0f);
        // Its first frame is its song position: the graph runs on the song's frames.
        EXPECT_FLOAT_EQ(part[first], static_cast<float>(starts(index)) * 1e-5f * static_cast<float>(index + 1) * 0.25f)
            << "stem " << index;
        for (std::size_t i = 0; i < sum.size(); ++i) {
            sum[i] += part[i];
        }
    }
    EXPECT_EQ(mix, sum);
}

// Silence that asks for the mix to stop once it has run to a frame: the request comes from
// a render thread outside the mixer's lock, as a newer render's does from the GUI thread.
class StopAtNode : public Node {
public:
    StopAtNode(std::stop_source stop, std::int64_t at) : stop_(std::move(stop)), at_(at) {}
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        if (context.position >= at_) {
            stop_.request_stop();
        }
        output.clear(context.frames);
    }

private:
    std::stop_source stop_;
    std::int64_t at_;
};

TEST(StemMixerInTime, AStopRequestEndsTheMixAtAPiece) {
    const std::int64_t piece = mixPieceFrames(256);
    std::stop_source stop;
    StemMixSettings settings = mixSettings(2, 50 * piece);
    settings.order = MixOrder::InTime;
    settings.stop = stop.get_token();
    std::int64_t last = 0;
    settings.published = [&](std::int64_t frames) { last = frames; };
    const StemBuilder build = [&](std::size_t, TrackStem* stem, std::string*) {
        GraphBuilder builder;
        builder.output = builder.addNode(std::make_unique<StopAtNode>(stop, 3 * piece));
        stem->graph = builder.compile(48000.0, 256, kChannels, nullptr);
        return true;
    };
    std::vector<float> mix(static_cast<std::size_t>(2 * settings.context.frames), 0.0f);
    std::string error;
    EXPECT_FALSE(mixStems(4, build, settings, mix, nullptr, &error));
    EXPECT_EQ(error, "the render was stopped");
    EXPECT_LE(last, 4 * piece) << "no piece after the one that asked";

    // Asked before it starts: nothing is final.
    last = 0;
    std::vector<float> untouched(mix.size(), 0.0f);
    EXPECT_FALSE(mixStems(4, build, settings, untouched, nullptr, &error));
    EXPECT_EQ(last, 0);
}

// The render threads are as many as the mix is given, even with fewer processors free.
TEST(StemMixerThreads, TheMixRunsOnAsManyThreadsAsItIsGiven) {
    for (int threads : {1, 3}) {
        std::latch allBuilding(threads);
        std::mutex mutex;
        std::set<std::thread::id> seen;
        const StemBuilder build = [&](std::size_t, TrackStem* stem, std::string*) {
            {
                std::lock_guard lock(mutex);
                seen.insert(std::this_thread::get_id());
            }
            allBuilding.arrive_and_wait();  // every stem is being built at once
            stem->graph = constantGraph(1.0f);
            return true;
        };
        StemMixSettings settings = mixSettings(threads, 1000);
        settings.order = MixOrder::InTime;
        std::vector<float> mix(2 * 1000, 0.0f);
        ASSERT_TRUE(mixStems(static_cast<std::size_t>(threads), build, settings, mix, nullptr, nullptr));
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(threads));
    }
}

}  // namespace
}  // namespace ostrel::engine
