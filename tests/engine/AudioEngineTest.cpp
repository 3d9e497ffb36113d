#include "engine/AudioEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

// A sound card that renders only when the test asks it to, on the test's own thread.
class TestBackend final : public IAudioBackend {
public:
    std::string backendName() override { return "Test"; }
    std::vector<AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const AudioConfig& config, RenderCallback callback, void* user,
              std::string* error) override {
        ++opens;
        if (refuse) {
            state_ = BackendState::Failed;
            if (error != nullptr) {
                *error = "could not open the sound card: refused";
            }
            return false;
        }
        config_ = config;
        callback_ = callback;
        user_ = user;
        state_ = BackendState::Running;
        return true;
    }
    void close() override {
        callback_ = nullptr;
        if (state_ == BackendState::Running) {
            state_ = BackendState::Closed;
        }
    }
    BackendState state() const override { return state_; }
    LoadStats loadStats() const override { return {}; }

    // One device period of `frames` frames, interleaved.
    std::vector<float> render(uint32_t frames) {
        std::vector<float> out(size_t{frames} * config_.channels, -99.0f);
        if (callback_ != nullptr) {
            callback_(user_, out.data(), frames);
        }
        return out;
    }
    void stopByDevice() { state_ = BackendState::StoppedByDevice; }

    bool refuse = false;
    int opens = 0;

private:
    AudioConfig config_{};
    RenderCallback callback_ = nullptr;
    void* user_ = nullptr;
    BackendState state_ = BackendState::Closed;
};

// A constant level on every channel.
class ConstNode final : public Node {
public:
    explicit ConstNode(float level) : level_(level) {}
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                 AudioBuffer& output) override {
        const int n = std::min(output.frames, context.frames);
        for (int c = 0; c < output.channels; ++c) {
            std::fill(output.channel(c), output.channel(c) + n, level_);
        }
    }

private:
    float level_;
};

// Silent; remembers what each block told it (storage reserved up front).
class ProbeNode final : public Node {
public:
    ProbeNode() {
        blocks.reserve(1024);
        events.reserve(1024);
    }
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                 AudioBuffer& output) override {
        blocks.push_back({context.frames, context.position, context.playing, context.bpm});
        for (const Event& event : context.events) {
            events.push_back({context.position, event});
        }
        output.clear(context.frames);
    }
    struct Block {
        int frames;
        int64_t position;
        bool playing;
        double bpm;
    };
    struct Seen {
        int64_t blockPosition;
        Event event;
    };
    std::vector<Block> blocks;
    std::vector<Seen> events;
};

std::unique_ptr<Graph> graphOf(std::unique_ptr<Node> node, int channels = 2) {
    GraphBuilder builder;
    builder.output = builder.addNode(std::move(node));
    return builder.compile(48000.0, static_cast<int>(AudioEngine::kMaxChunk), channels, nullptr);
}

// Frame i of the track holds the value i on every channel, so the output names the
// track frame it came from.
std::shared_ptr<BackingTrack> rampTrack(int64_t frames, int channels = 1) {
    auto track = std::make_shared<BackingTrack>();
    track->channels = channels;
    track->frames = frames;
    track->samples.resize(static_cast<size_t>(frames * channels));
    for (int64_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            track->samples[static_cast<size_t>(i * channels + c)] = static_cast<float>(i);
        }
    }
    return track;
}

class AudioEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto backend = std::make_unique<TestBackend>();
        card = backend.get();
        engine = std::make_unique<AudioEngine>(std::move(backend));
    }
    void startCard(AudioConfig config = {}) {
        std::string error;
        ASSERT_TRUE(engine->start(config, &error)) << error;
    }
    static float at(const std::vector<float>& out, size_t frame, size_t channel = 0,
                    size_t channels = 2) {
        return out[frame * channels + channel];
    }

    TestBackend* card = nullptr;
    std::unique_ptr<AudioEngine> engine;
};

// --- Blocks and chunks ---

TEST_F(AudioEngineTest, LongCallbackIsRenderedInChunksOfAtMost4096Frames) {
    startCard();
    auto probe = std::make_unique<ProbeNode>();
    ProbeNode* seen = probe.get();
    ASSERT_TRUE(engine->publishGraph(graphOf(std::move(probe))));
    card->render(16);  // takes the graph in
    const size_t before = seen->blocks.size();

    card->render(10000);

    ASSERT_EQ(seen->blocks.size(), before + 3);
    EXPECT_EQ(seen->blocks[before].frames, 4096);
    EXPECT_EQ(seen->blocks[before + 1].frames, 4096);
    EXPECT_EQ(seen->blocks[before + 2].frames, 1808);
    EXPECT_EQ(seen->blocks[before + 2].position, 16 + 8192);
    EXPECT_EQ(engine->clock(), 10016u);
}

TEST_F(AudioEngineTest, ChunksFollowEachOtherSeamlesslyInTheOutput) {
    startCard();
    engine->setBackingTrack(rampTrack(20000));
    engine->setPlaying(true);

    const auto out = card->render(10000);

    for (size_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(at(out, i, 0), static_cast<float>(i)) << "frame " << i;
        ASSERT_EQ(at(out, i, 1), static_cast<float>(i)) << "frame " << i;
    }
}

TEST_F(AudioEngineTest, LiveGraphRunsOnTheEngineClockAt120BpmNotPlaying) {
    engine->setTempo(90);
    engine->setPlaying(true);
    startCard();
    auto probe = std::make_unique<ProbeNode>();
    ProbeNode* seen = probe.get();
    ASSERT_TRUE(engine->publishGraph(graphOf(std::move(probe))));
    card->render(512);
    card->render(512);

    ASSERT_GE(seen->blocks.size(), 2u);
    EXPECT_EQ(seen->blocks[1].position, 512);
    EXPECT_FALSE(seen->blocks[1].playing);
    EXPECT_EQ(seen->blocks[1].bpm, 120.0);
}

// --- Backing track and transport ---

TEST_F(AudioEngineTest, PlayStartsAtTheStartBeat) {
    startCard();
    engine->setBackingTrack(rampTrack(200000));
    engine->startBeat = 2.0;  // 48000 frames at 120 BPM and 48 kHz
    engine->setPlaying(true);

    const auto out = card->render(512);

    EXPECT_EQ(at(out, 0), 48000.0f);
    EXPECT_EQ(at(out, 511), 48511.0f);
    EXPECT_EQ(engine->shownPos(), 48512);
}

TEST_F(AudioEngineTest, TempoChangeKeepsThePositionInBeats) {
    startCard();
    engine->setBackingTrack(rampTrack(200000));
    engine->startBeat = 2.0;
    engine->setPlaying(true);
    card->render(512);  // pos 48512, beat 2.0213

    engine->setTempo(60);
    const auto out = card->render(512);

    EXPECT_EQ(at(out, 0), 97024.0f);
    EXPECT_EQ(engine->shownPos(), 97536);
}

TEST_F(AudioEngineTest, LoopWrapsInsideOneCallbackAtTheLoopEnd) {
    startCard();
    engine->setBackingTrack(rampTrack(300000));
    engine->loopStart = 4.0;  // frame 96000
    engine->loopEnd = 8.0;    // frame 192000
    engine->loop = true;
    engine->startBeat = 191744.0 / 24000.0;
    engine->setPlaying(true);

    const auto out = card->render(512);

    EXPECT_EQ(at(out, 0), 191744.0f);
    EXPECT_EQ(at(out, 255), 191999.0f);
    EXPECT_EQ(at(out, 256), 96000.0f);
    EXPECT_EQ(at(out, 511), 96255.0f);
    EXPECT_EQ(engine->shownPos(), 96256);
}

TEST_F(AudioEngineTest, LoopSwitchedOnPastItsEndDoesNotWrap) {
    startCard();
    engine->setBackingTrack(rampTrack(300000));
    engine->startBeat = 10.0;  // frame 240000, past the loop
    engine->setPlaying(true);
    card->render(512);
    engine->loopStart = 4.0;
    engine->loopEnd = 8.0;
    engine->loop = true;

    const auto out = card->render(512);

    EXPECT_EQ(at(out, 0), 240512.0f);
    EXPECT_EQ(engine->shownPos(), 241024);
}

TEST_F(AudioEngineTest, EmptyOrInvertedLoopRangeIsIgnored) {
    startCard();
    engine->setBackingTrack(rampTrack(100000));
    engine->loopStart = 1.0;
    engine->loopEnd = 1.0;
    engine->loop = true;
    engine->setPlaying(true);

    card->render(30000);

    EXPECT_EQ(engine->shownPos(), 30000);
}

TEST_F(AudioEngineTest, WhileStoppedLiveGraphSoundsButTrackAndClickAreSilent) {
    startCard();
    engine->setBackingTrack(rampTrack(100000));
    engine->metronome = true;
    ASSERT_TRUE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(0.25f))));
    card->render(512);  // fades the constant in

    const auto out = card->render(512);

    for (size_t i = 0; i < 512; ++i) {
        ASSERT_EQ(at(out, i, 0), 0.25f);
        ASSERT_EQ(at(out, i, 1), 0.25f);
    }
    EXPECT_EQ(engine->shownPos(), 0);
}

TEST_F(AudioEngineTest, StoppingAndPlayingAgainSeeksToTheStartBeatAgain) {
    startCard();
    engine->setBackingTrack(rampTrack(200000));
    engine->startBeat = 1.0;
    engine->setPlaying(true);
    card->render(4000);
    engine->setPlaying(false);
    card->render(64);
    engine->setPlaying(true);

    const auto out = card->render(64);

    EXPECT_EQ(at(out, 0), 24000.0f);
}

TEST_F(AudioEngineTest, MonoTrackIsHeardOnBothChannels) {
    startCard();
    engine->setBackingTrack(rampTrack(1000, 1));
    engine->setPlaying(true);

    const auto out = card->render(8);

    EXPECT_EQ(at(out, 5, 0), 5.0f);
    EXPECT_EQ(at(out, 5, 1), 5.0f);
}

TEST_F(AudioEngineTest, FourChannelTrackGivesItsFirstTwoChannelsToStereo) {
    startCard();
    auto track = std::make_shared<BackingTrack>();
    track->channels = 4;
    track->frames = 2;
    track->samples = {1, 2, 3, 4, 5, 6, 7, 8};
    engine->setBackingTrack(track);
    engine->setPlaying(true);

    const auto out = card->render(2);

    EXPECT_EQ(out, (std::vector<float>{1, 2, 5, 6}));
}

TEST_F(AudioEngineTest, TrackEndsSilentlyAndAddsNothingPastItsLength) {
    startCard();
    engine->setBackingTrack(rampTrack(100));
    engine->setPlaying(true);

    const auto out = card->render(200);

    EXPECT_EQ(at(out, 99), 99.0f);
    EXPECT_EQ(at(out, 100), 0.0f);
    EXPECT_EQ(at(out, 199), 0.0f);
}

// Regression: a record whose frame count claims more than its samples hold must not
// be read past its end.
TEST_F(AudioEngineTest, TrackWithTooFewSamplesIsReadOnlyAsFarAsTheyGo) {
    startCard();
    auto track = rampTrack(10, 2);
    track->frames = 1000000;
    engine->setBackingTrack(track);
    engine->setPlaying(true);

    const auto out = card->render(64);

    EXPECT_EQ(at(out, 9), 9.0f);
    EXPECT_EQ(at(out, 10), 0.0f);
}

TEST_F(AudioEngineTest, PositionsThatAreNotNumbersPlayFromTheStart) {
    startCard();
    engine->setBackingTrack(rampTrack(1000));
    engine->startBeat = std::nan("");
    engine->loopStart = -std::numeric_limits<double>::infinity();
    engine->loopEnd = std::numeric_limits<double>::infinity();
    engine->loop = true;
    engine->setPlaying(true);

    const auto out = card->render(16);

    EXPECT_EQ(at(out, 3), 3.0f);
    EXPECT_EQ(engine->shownPos(), 16);
}

// --- Metronome ---

TEST_F(AudioEngineTest, MetronomeClicksOnTheBeatsOfTheTransport) {
    startCard();
    engine->metronome = true;
    engine->startBeat = 0.5;  // frame 12000: the next beat is 12000 frames away
    engine->setPlaying(true);

    const auto out = card->render(16384);

    EXPECT_EQ(at(out, 11999), 0.0f);
    // A plain (not accented) beat: 0.5 of level, at 0.7 in the mix, cos(0) on its first frame.
    EXPECT_FLOAT_EQ(at(out, 12000), 0.35f);
    EXPECT_FLOAT_EQ(at(out, 12000, 1), 0.35f);
    EXPECT_EQ(at(out, 12000 + 2880), 0.0f);
}

TEST_F(AudioEngineTest, MetronomeAccentsTheFirstBeatOfABar) {
    startCard();
    engine->metronome = true;
    engine->setPlaying(true);

    const auto out = card->render(512);

    EXPECT_FLOAT_EQ(at(out, 0), 0.8f * 0.7f);
}

TEST_F(AudioEngineTest, MetronomeOffAddsNothing) {
    startCard();
    engine->setPlaying(true);

    const auto out = card->render(4096);

    for (float sample : out) {
        ASSERT_EQ(sample, 0.0f);
    }
}

// --- Test tone ---

TEST_F(AudioEngineTest, TestToneIsA440HzSineAtTheChosenLevel) {
    engine->setTestTone(true, 0.5f);
    startCard();
    card->render(512);  // the level ramps in over the first block

    const auto out = card->render(48000);

    float peak = 0.0f;
    int rising = 0;
    for (size_t i = 1; i < 48000; ++i) {
        peak = std::max(peak, std::abs(at(out, i)));
        rising += at(out, i - 1) < 0.0f && at(out, i) >= 0.0f;
    }
    EXPECT_NEAR(peak, 0.5f, 1e-3f);
    EXPECT_NEAR(rising, 440, 1);
}

TEST_F(AudioEngineTest, TestToneLevelIsClampedAndSwitchesOff) {
    startCard();
    engine->setTestTone(true, 2.0f);
    card->render(512);
    auto out = card->render(4800);
    float peak = 0.0f;
    for (float s : out) {
        peak = std::max(peak, std::abs(s));
    }
    EXPECT_NEAR(peak, 1.0f, 1e-3f);

    engine->setTestTone(false, 1.0f);
    card->render(512);
    out = card->render(512);
    for (float s : out) {
        ASSERT_EQ(s, 0.0f);
    }
}

// Regression: the tone node lives inside the start-up graph; once that graph has been
// replaced and freed, the test tone must not write into it.
TEST_F(AudioEngineTest, TestToneAfterTheToneGraphIsFreedTouchesNothing) {
    startCard();
    ASSERT_TRUE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(0.0f))));
    card->render(512);
    card->render(512);  // the tone graph is retired here
    engine->collectGarbage();

    engine->setTestTone(true, 1.0f);
    const auto out = card->render(64);

    EXPECT_EQ(at(out, 10), 0.0f);
}

// --- Live graphs ---

TEST_F(AudioEngineTest, PublishedGraphIsCrossFadedInOver256Frames) {
    startCard();
    card->render(64);  // the silent tone graph is playing
    ASSERT_TRUE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(1.0f))));

    const auto first = card->render(128);
    const auto second = card->render(128);
    const auto third = card->render(128);

    EXPECT_FLOAT_EQ(at(first, 0), 1.0f / 256);
    EXPECT_FLOAT_EQ(at(first, 127), 128.0f / 256);
    EXPECT_FLOAT_EQ(at(second, 0), 129.0f / 256);
    EXPECT_FLOAT_EQ(at(second, 127), 1.0f);
    EXPECT_EQ(at(third, 64, 1), 1.0f);
}

TEST_F(AudioEngineTest, PublishGraphFailsWhileTheCardIsNotRunning) {
    EXPECT_FALSE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(1.0f))));

    startCard();
    card->stopByDevice();
    EXPECT_FALSE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(1.0f))));

    engine->stop();
    EXPECT_FALSE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(1.0f))));
}

TEST_F(AudioEngineTest, GraphOfAnotherChannelCountIsRefused) {
    startCard();
    EXPECT_FALSE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(1.0f), 1)));
}

TEST_F(AudioEngineTest, QueuedEventsReachTheLiveGraphAtTheirFrame) {
    startCard();
    auto probe = std::make_unique<ProbeNode>();
    ProbeNode* seen = probe.get();
    ASSERT_TRUE(engine->publishGraph(graphOf(std::move(probe))));
    card->render(512);

    TimedEvent note;
    note.time = 1000;
    note.event.type = EventType::NoteOn;
    note.event.note = 60;
    note.event.velocity = 100;
    ASSERT_TRUE(engine->events().push(note));
    card->render(512);  // frames 512..1023

    ASSERT_EQ(seen->events.size(), 1u);
    EXPECT_EQ(seen->events[0].blockPosition, 512);
    EXPECT_EQ(seen->events[0].event.frameOffset, 488u);
    EXPECT_EQ(seen->events[0].event.note, 60);
}

// --- Backing tracks' lifetime ---

TEST_F(AudioEngineTest, ReplacedTrackIsFreedOnceTheAudioThreadNoLongerNamesIt) {
    startCard();
    auto first = rampTrack(1000);
    std::weak_ptr<BackingTrack> firstAlive = first;
    engine->setBackingTrack(std::move(first));
    engine->setPlaying(true);
    card->render(64);

    auto second = rampTrack(1000);
    std::weak_ptr<BackingTrack> secondAlive = second;
    engine->setBackingTrack(std::move(second));

    EXPECT_TRUE(firstAlive.expired());
    EXPECT_FALSE(secondAlive.expired());

    engine->setBackingTrack(nullptr);
    engine->collectGarbage();
    EXPECT_TRUE(secondAlive.expired());
}

TEST_F(AudioEngineTest, PublishedTrackSurvivesARestartOfTheCard) {
    startCard();
    engine->setBackingTrack(rampTrack(1000));
    engine->setPlaying(true);
    engine->setTempo(100);
    startCard();

    const auto out = card->render(16);

    EXPECT_EQ(engine->tempo(), 100.0);
    EXPECT_EQ(at(out, 7), 7.0f);
}

// --- Start, stop and the settings it keeps ---

TEST_F(AudioEngineTest, StartResetsClockPositionAndQueueAndCountsOpenings) {
    startCard();
    engine->setPlaying(true);
    card->render(1000);
    EventQueue* oldQueue = &engine->events();

    startCard();

    EXPECT_EQ(engine->clock(), 0u);
    EXPECT_EQ(engine->shownPos(), 0);
    EXPECT_EQ(engine->openCount(), 2u);
    EXPECT_NE(&engine->events(), oldQueue);
}

TEST_F(AudioEngineTest, StartFailsWithTheCompilersReasonForNoChannels) {
    AudioConfig config;
    config.channels = 0;
    std::string error;

    EXPECT_FALSE(engine->start(config, &error));

    EXPECT_EQ(error, "block size and channel count must be positive");
    EXPECT_EQ(card->opens, 0);
}

TEST_F(AudioEngineTest, StartPassesTheBackendsRefusalOn) {
    card->refuse = true;
    std::string error;

    EXPECT_FALSE(engine->start({}, &error));

    EXPECT_EQ(error, "could not open the sound card: refused");
    EXPECT_FALSE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(1.0f))));
}

TEST_F(AudioEngineTest, TempoIsClampedTo20To300AndNotANumberIsIgnored) {
    engine->setTempo(500);
    EXPECT_EQ(engine->tempo(), 300.0);
    engine->setTempo(5);
    EXPECT_EQ(engine->tempo(), 20.0);
    engine->setTempo(std::nan(""));
    EXPECT_EQ(engine->tempo(), 20.0);
}

TEST_F(AudioEngineTest, LatencyIsOnePeriodInMilliseconds) {
    EXPECT_NEAR(engine->latencyMs(), 10.667, 1e-3);
    AudioConfig config;
    config.sampleRate = 0;
    engine->start(config, nullptr);
    EXPECT_EQ(engine->latencyMs(), 0.0);
}

TEST_F(AudioEngineTest, StopClosesTheCard) {
    startCard();
    engine->stop();
    EXPECT_EQ(card->state(), BackendState::Closed);
}

// --- Real-time contract ---

TEST_F(AudioEngineTest, CallbackNeitherAllocatesNorFrees) {
    startCard();
    engine->setBackingTrack(rampTrack(100000, 2));
    engine->metronome = true;
    engine->loopStart = 0.5;
    engine->loopEnd = 1.0;
    engine->loop = true;
    engine->setTestTone(true, 0.3f);
    engine->setPlaying(true);
    ASSERT_TRUE(engine->publishGraph(graphOf(std::make_unique<ConstNode>(0.1f))));
    for (int i = 0; i < 20; ++i) {
        TimedEvent event;
        event.time = i * 300;
        engine->events().push(event);
    }
    std::vector<float> out(2 * 10000);
    ostrel::test::AllocationCounter counter;

    for (int i = 0; i < 8; ++i) {
        AudioEngine::renderCallback(engine.get(), out.data(), 10000);
        engine->setTempo(100 + i);
    }

    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

}  // namespace
}  // namespace ostrel::engine
