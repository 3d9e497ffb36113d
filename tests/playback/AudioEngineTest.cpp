#include "playback/AudioEngine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "playback/PlaybackTestSupport.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using test::constGraph;
using test::publishRamp;
using test::rampTrack;
using test::rampTrackToCome;

class AudioEngineTest : public test::HandEngineTest {
protected:
    static float at(const std::vector<float>& out, size_t frame, size_t channel = 0) { return out[frame * 2 + channel]; }
    static float peak(const std::vector<float>& out) {
        float largest = 0.0f;
        for (const float sample : out) {
            largest = std::max(largest, std::abs(sample));
        }
        return largest;
    }
    // The first channel of interleaved stereo.
    static std::vector<float> left(const std::vector<float>& out) {
        std::vector<float> first;
        for (std::size_t i = 0; i < out.size(); i += 2) {
            first.push_back(out[i]);
        }
        return first;
    }
    // The largest step between two neighbouring samples, to sample `to` (exclusive) from `from`.
    static float largestStep(const std::vector<float>& samples, std::size_t from = 1, std::size_t to = SIZE_MAX) {
        float largest = 0.0f;
        for (std::size_t i = std::max<std::size_t>(from, 1); i < std::min(to, samples.size()); ++i) {
            largest = std::max(largest, std::abs(samples[i] - samples[i - 1]));
        }
        return largest;
    }
};

TEST_F(AudioEngineTest, LongCallbackIsRenderedInSeamlessChunksOfAtMost4096FramesOnTheEngineClock) {
    engine->setTempo(90);
    start();
    engine->setBackingTrack(rampTrack(20000));
    auto probe = std::make_unique<test::ConstNode>(0.0f);
    test::ConstNode* seen = probe.get();
    ASSERT_TRUE(engine->publishGraph(test::graphOf(std::move(probe))));
    card->render(16);  // takes the graph in; not playing yet
    engine->setPlaying(true);
    seen->blocks.clear();
    ASSERT_TRUE(engine->events().push(test::noteOn(16 + 5000, 61)));

    const auto out = card->render(10000);

    ASSERT_EQ(seen->blocks.size(), 3u);
    EXPECT_EQ(seen->blocks[0].frames, 4096);
    EXPECT_EQ(seen->blocks[1].frames, 4096);
    EXPECT_EQ(seen->blocks[2].frames, 1808);
    // The live graph runs on the engine clock at 120 BPM, never on the transport.
    EXPECT_EQ(seen->blocks[2].position, 16 + 8192);
    EXPECT_TRUE(!seen->blocks[2].playing && seen->blocks[2].bpm == 120.0);
    EXPECT_EQ(engine->clock(), 10016u);
    ASSERT_EQ(seen->events.size(), 1u);
    EXPECT_EQ(seen->events[0].first + seen->events[0].second.frameOffset, 16 + 5000) << "the event at its frame";
    for (size_t i = 0; i < 10000; ++i) {
        ASSERT_EQ(at(out, i, 0), static_cast<float>(i)) << "frame " << i;
        ASSERT_EQ(at(out, i, 1), static_cast<float>(i)) << "frame " << i;
    }
}

TEST_F(AudioEngineTest, PlayStartsAtTheStartBeatAndTempoChangesKeepThePositionInBeats) {
    start();
    engine->setBackingTrack(rampTrack(200000));
    engine->transport().setStartBeat(2.0);  // 48000 frames at 120 BPM and 48 kHz
    engine->setPlaying(true);
    auto out = card->render(512);
    EXPECT_EQ(at(out, 0), 48000.0f);
    EXPECT_EQ(at(out, 511), 48511.0f);

    engine->setTempo(60);
    out = card->render(512);
    EXPECT_EQ(at(out, 0), 97024.0f);
    EXPECT_EQ(engine->shownPos(), 97536);

    engine->setPlaying(false);
    card->render(AudioEngine::kHoldFadeFrames);  // the stop fades out
    engine->setPlaying(true);
    out = card->render(64);
    EXPECT_EQ(at(out, 0), 96000.0f) << "playing again seeks to the start beat again";
}

TEST_F(AudioEngineTest, LoopWrapsAtItsEndInsideOneCallbackUnlessItCannotWrap) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double startBeat, loopStart, loopEnd;
        float first, shownPos;
    } cases[] = {
        {191744.0 / 24000.0, 4.0, 8.0, 191744.0f, 96000.0f + 30000 - 256},  // wraps to frame 96000
        {10.0, 4.0, 8.0, 240000.0f, 270000.0f},                              // already past the end
        {0.0, 1.0, 1.0, 0.0f, 30000.0f},                                     // empty range
        {0.0, 1.0, 0.5, 0.0f, 30000.0f},                                     // end before start
        {std::nan(""), -inf, inf, 0.0f, 30000.0f},
    };
    for (const Case& c : cases) {
        start();
        engine->setBackingTrack(rampTrack(300000));
        engine->transport().setStartBeat(c.startBeat);
        engine->transport().setLoop({.enabled = true, .startBeats = c.loopStart, .endBeats = c.loopEnd});
        engine->setPlaying(true);
        const auto out = card->render(30000);
        SCOPED_TRACE(testing::Message() << c.startBeat << " in " << c.loopStart << ".." << c.loopEnd);
        EXPECT_EQ(at(out, 0), c.first);
        EXPECT_EQ(at(out, 29999), c.shownPos - 1);
        EXPECT_EQ(engine->shownPos(), static_cast<int64_t>(c.shownPos));
        engine->setPlaying(false);
    }
}

TEST_F(AudioEngineTest, MetronomeClicksOnlyWhilePlayingOnTheTransportsBeatsAccentingTheBar) {
    start();
    engine->transport().setMetronome(true);
    EXPECT_EQ(peak(card->render(512)), 0.0f) << "silent while stopped";
    engine->setPlaying(true);

    const auto out = card->render(24000 + 2881);

    // Level 0.8 on a bar's first beat and 0.5 on the others, at 0.7 in the mix, cos(0) first.
    EXPECT_FLOAT_EQ(at(out, 0), 0.8f * 0.7f);
    EXPECT_EQ(at(out, 23999), 0.0f);
    EXPECT_FLOAT_EQ(at(out, 24000), 0.35f);
    EXPECT_FLOAT_EQ(at(out, 24000, 1), 0.35f);
    EXPECT_EQ(at(out, 24000 + 2880), 0.0f);
}

TEST_F(AudioEngineTest, TestToneSoundsAtItsClampedLevelAndGraphsNeedARunningCardOfTheirChannelCount) {
    engine->setTestTone(true, 0.5f);
    EXPECT_FALSE(engine->publishGraph(constGraph(1.0f)));
    start();
    card->render(512);  // the level ramps in over the first block
    EXPECT_NEAR(peak(card->render(4800)), 0.5f, 1e-3f);
    // Regression: a refused graph used to cut the test tone off from the graph still playing.
    EXPECT_FALSE(engine->publishGraph(constGraph(1.0f, nullptr, 1)));
    engine->setTestTone(true, 2.0f);
    card->render(512);
    EXPECT_NEAR(peak(card->render(4800)), 1.0f, 1e-3f);

    engine->setTestTone(false, 1.0f);
    card->render(512);
    EXPECT_EQ(peak(card->render(512)), 0.0f);
    card->stopByDevice();
    EXPECT_FALSE(engine->publishGraph(constGraph(1.0f)));
}

// Regression for the end: the tone node lives inside the start-up graph; once that graph
// has been replaced and freed, the test tone must not write into it.
TEST_F(AudioEngineTest, PublishedGraphIsCrossFadedInOver256FramesAndTheToneGraphIsLeftAlone) {
    start();
    card->render(64);  // the silent tone graph is playing
    ASSERT_TRUE(engine->publishGraph(constGraph(1.0f)));

    const auto first = card->render(128);
    const auto second = card->render(128);

    EXPECT_FLOAT_EQ(at(first, 0), 1.0f / 256);
    EXPECT_FLOAT_EQ(at(first, 127), 128.0f / 256);
    EXPECT_FLOAT_EQ(at(second, 0), 129.0f / 256);
    EXPECT_FLOAT_EQ(at(second, 127, 1), 1.0f);
    card->render(128);  // the tone graph is retired here
    engine->collectGarbage();
    engine->setTestTone(true, 1.0f);
    EXPECT_EQ(card->render(64), std::vector<float>(128, 1.0f));
}

// Regression: a record whose frame count claimed more than its samples held was read past
// its end. Now a render that ended early (its track abandoned) plays silence after its last
// frame, and the frames never written are never read.
TEST_F(AudioEngineTest, TrackEndsInSilenceAndAReplacedTrackIsFreedOnceTheAudioThreadNoLongerNamesIt) {
    start();
    auto first = rampTrackToCome(1000000, 0, 2);
    publishRamp(*first, 10);
    first->abandon();
    std::weak_ptr<BackingTrack> firstAlive = first;
    engine->setBackingTrack(std::move(first));
    engine->setPlaying(true);
    const auto out = card->render(64);
    EXPECT_EQ(at(out, 9), 9.0f);
    EXPECT_EQ(at(out, 10), 0.0f);
    EXPECT_EQ(at(out, 63, 1), 0.0f);

    auto second = rampTrack(1000);
    std::weak_ptr<BackingTrack> secondAlive = second;
    engine->setBackingTrack(std::move(second));
    EXPECT_FALSE(firstAlive.expired()) << "played until the audio thread moves on";
    card->render(AudioEngine::kTrackFadeFrames);  // moves on and fades the first out
    engine->collectGarbage();
    EXPECT_TRUE(firstAlive.expired());
    EXPECT_FALSE(secondAlive.expired());
    engine->setBackingTrack(nullptr);
    card->render(AudioEngine::kTrackFadeFrames);
    engine->collectGarbage();
    EXPECT_TRUE(secondAlive.expired());
}

// The song may still be rendering: while the frames at the position are not final the
// transport holds, silent, and says so; it moves on once a stretch ahead of it is final,
// and then as long as each chunk's frames and a fade's more are, fading into the next hold.
TEST_F(AudioEngineTest, TheTransportHoldsUntilTheFramesAheadOfThePositionAreFinal) {
    start();
    auto track = std::make_shared<BackingTrack>();
    engine->setBackingTrack(track);
    engine->transport().setStartBeat(0.5);  // frame 12000 at 120 BPM
    engine->setPlaying(true);
    constexpr std::int64_t kAhead = AudioEngine::kAheadFrames;
    struct Step {
        const char* what;
        std::int64_t published;  // -1: not begun
        int chunks;              // of 512 frames
        std::int64_t shownPos;
        bool waiting;
    } steps[] = {
        {"not begun", -1, 1, 12000, true},
        {"less than a stretch ahead", 12000 + kAhead - 1, 2, 12000, true},
        {"a stretch ahead", 12000 + kAhead, 1, 12512, false},
        {"chunk by chunk up to the end, the last one fading out", 12000 + kAhead, 15, 12000 + kAhead, true},
        {"held at the end", 12000 + kAhead, 1, 12000 + kAhead, true},
        {"a chunk more is not enough after a hold", 12000 + kAhead + 512, 1, 12000 + kAhead, true},
        {"a stretch again", 12000 + 2 * kAhead, 1, 12000 + kAhead + 512, false},
    };
    std::int64_t pos = 12000;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        if (step.published >= 0) {
            if (!track->view().begun) {
                track->begin(100000, 1, 0);
            }
            publishRamp(*track, step.published);
        }
        for (int i = 0; i < step.chunks; ++i) {
            const auto out = card->render(512);
            const bool moved = engine->shownPos() != pos;
            // Past a fade in, before a fade out.
            EXPECT_EQ(at(out, 255), moved ? static_cast<float>(pos + 255) : 0.0f);
            EXPECT_TRUE(moved || peak(out) == 0.0f);
            pos = engine->shownPos();
        }
        EXPECT_EQ(engine->shownPos(), step.shownPos);
        EXPECT_EQ(engine->waitingForSong(), step.waiting);
    }
}

// A track of `frames` frames, every sample `value`, published up to `published` (all: -1).
std::shared_ptr<BackingTrack> levelTrack(float value, std::int64_t frames, std::int64_t published = -1) {
    auto track = std::make_shared<BackingTrack>();
    track->begin(frames, 1, 0);
    const std::span<float> samples = track->unpublished(0, frames);
    std::fill(samples.begin(), samples.end(), value);
    track->publish(published < 0 ? frames : published);
    return track;
}

// During play a new render takes over once a stretch of its frames at the position is
// final, fading in over kTrackFadeFrames while the old one fades out; a new play takes the
// newest at once and waits for it.
TEST_F(AudioEngineTest, ANewRenderTakesOverDuringPlayOnceItCanGoOnAndANewPlayAtOnce) {
    start();
    engine->setBackingTrack(levelTrack(1.0f, 100000));
    engine->setPlaying(true);
    card->render(512);
    auto next = std::make_shared<BackingTrack>();
    engine->setBackingTrack(next);
    EXPECT_EQ(card->render(512), std::vector<float>(1024, 1.0f)) << "not begun";
    next->begin(100000, 1, 0);
    const std::span<float> samples = next->unpublished(0, 100000);
    std::fill(samples.begin(), samples.end(), 3.0f);
    next->publish(1024 + AudioEngine::kAheadFrames - 1);
    EXPECT_EQ(card->render(512), std::vector<float>(1024, 1.0f)) << "not a stretch ahead";
    next->publish(100000);
    const auto out = card->render(512);
    constexpr float kFade = AudioEngine::kTrackFadeFrames;
    EXPECT_FLOAT_EQ(at(out, 0), 3.0f * (1.0f / kFade) + 1.0f * (1.0f - 1.0f / kFade));
    EXPECT_FLOAT_EQ(at(out, 127, 1), 3.0f * (128.0f / kFade) + 1.0f * (1.0f - 128.0f / kFade));
    EXPECT_EQ(at(out, AudioEngine::kTrackFadeFrames - 1), 3.0f);
    EXPECT_EQ(at(out, 511), 3.0f);
    EXPECT_EQ(engine->shownPos(), 2048);

    engine->setPlaying(false);
    card->render(AudioEngine::kHoldFadeFrames);  // the stop fades out
    auto third = levelTrack(5.0f, 100000, 0);
    engine->setBackingTrack(third);
    engine->setPlaying(true);
    EXPECT_EQ(card->render(512), std::vector<float>(1024, 0.0f)) << "the new play waits for the newest";
    EXPECT_TRUE(engine->waitingForSong());
    third->publish(100000);
    EXPECT_EQ(card->render(512), std::vector<float>(1024, 5.0f)) << "no fade at a new play";
}

TEST_F(AudioEngineTest, CallbackNeitherAllocatesNorFrees) {
    start();
    engine->setBackingTrack(rampTrack(100000, 2));
    engine->transport().setMetronome(true);
    engine->transport().setLoop({.enabled = true, .startBeats = 0.5, .endBeats = 1.0});
    engine->setTestTone(true, 0.3f);
    engine->setPlaying(true);
    ASSERT_TRUE(engine->publishGraph(constGraph(0.1f)));
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(engine->events().push(test::noteOn(i * 300)));
    }
    std::vector<float> out(2 * 10000);
    test::AllocationCounter counter;

    for (int i = 0; i < 8; ++i) {
        AudioEngine::renderCallback(engine.get(), out.data(), 10000);
        engine->setTempo(100 + i);
        engine->setPlaying(i % 3 != 1);  // stops, plays from a stop and seeks, each fading
    }

    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

// The new audio-thread paths too: holding with its fades, and moving to a track at another
// tempo from the same beat.
TEST_F(AudioEngineTest, HoldingForARenderAndMovingToANewOneNeitherAllocateNorFree) {
    start();
    auto playing = rampTrackToCome(200000, 0, 2, 120.0);
    engine->setBackingTrack(playing);
    engine->setPlaying(true);
    card->render(512);  // holds on the first
    engine->setTempo(60.0);
    auto next = rampTrackToCome(400000, 0, 2, 60.0);
    engine->setBackingTrack(next);
    std::vector<float> out(2 * 1000);
    test::AllocationCounter counter;

    AudioEngine::renderCallback(engine.get(), out.data(), 1000);
    const bool held = engine->waitingForSong();
    publishRamp(*playing, 20000);
    for (int i = 0; i < 4; ++i) {
        AudioEngine::renderCallback(engine.get(), out.data(), 1000);
    }
    const std::int64_t before = engine->shownPos();
    publishRamp(*next, 10000);  // a stretch of it from the transport's beat on is not final yet
    AudioEngine::renderCallback(engine.get(), out.data(), 1000);
    const std::int64_t oldPace = engine->shownPos();
    publishRamp(*next, 40000);
    for (int i = 0; i < 4; ++i) {
        AudioEngine::renderCallback(engine.get(), out.data(), 1000);
    }
    const float moved = out[2 * 999];
    for (int i = 0; i < 30; ++i) {  // to the end of what is final, and a hold
        AudioEngine::renderCallback(engine.get(), out.data(), 1000);
    }
    const bool heldAgain = engine->waitingForSong();
    publishRamp(*next, 100000);
    AudioEngine::renderCallback(engine.get(), out.data(), 1000);

    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
    EXPECT_TRUE(held);
    EXPECT_EQ(before, 4000);
    EXPECT_EQ(oldPace, 5000) << "the old track at its own pace";
    EXPECT_EQ(moved, 13999.0f) << "the new render, from beat 0.21 on at 60 BPM, faded in";
    EXPECT_TRUE(heldAgain);
    EXPECT_FALSE(engine->waitingForSong());
}

// ---- Changes while playing, heard through the card -----------------------------------------

// A stereo track at `bpm` whose first channel says the beat each frame is at (less `base`, so
// the floats stay fine enough to tell frames apart) and whose second is 1, so the card's
// output shows the gain each frame was played at. Final at once unless `final` is false.
std::shared_ptr<BackingTrack> beatTrack(double bpm, double beats, double base, bool final = true) {
    auto track = std::make_shared<BackingTrack>();
    if (final) {
        const double framesPerBeat = 48000.0 * 60.0 / bpm;
        const auto frames = static_cast<std::int64_t>(beats * framesPerBeat);
        track->begin(frames, 2, 0, {48000.0, bpm});
        const std::span<float> samples = track->unpublished(0, frames);
        for (std::size_t f = 0; f < static_cast<std::size_t>(frames); ++f) {
            samples[2 * f] = static_cast<float>(static_cast<double>(f) / framesPerBeat - base);
            samples[2 * f + 1] = 1.0f;
        }
        track->publish(frames);
    }
    return track;
}

// While the song plays, the transport's tempo changes to `bpm` at period `at`, and a render
// of the song at that tempo, `beats` long, is handed to the engine; it is final `finalAfter`
// periods later.
struct SongChange {
    int at;
    double bpm;
    double beats;
    int finalAfter;
};

struct ChangeCase {
    const char* name;
    double bpm;    // of the song as it starts
    double beats;  // its length
    double startBeat;
    std::vector<SongChange> changes;
    int periods;
};

void PrintTo(const ChangeCase& c, std::ostream* out) { *out << c.name; }

class ChangesWhilePlaying : public test::HandEngineTest, public testing::WithParamInterface<ChangeCase> {};

// Every period played comes from the right beat: the beats heard go on without a jump or a
// gap, at the old tempo until a render at the new one is final there and at the new tempo
// from then on; where nothing is final the transport holds (silent, the beats standing),
// never plays silence in place of the song.
TEST_P(ChangesWhilePlaying, EveryPeriodPlayedComesFromTheRightBeat) {
    const ChangeCase& c = GetParam();
    const double base = c.startBeat - 1.0;
    start();
    engine->setTempo(c.bpm);
    engine->setBackingTrack(beatTrack(c.bpm, c.beats, base));
    engine->transport().setStartBeat(c.startBeat);
    engine->setPlaying(true);
    std::vector<std::shared_ptr<BackingTrack>> tracks(c.changes.size());
    double fastest = c.bpm;
    for (int period = 0; period < c.periods; ++period) {
        for (std::size_t k = 0; k < c.changes.size(); ++k) {
            const SongChange& change = c.changes[k];
            if (period == change.at) {
                engine->setTempo(change.bpm);
                tracks[k] = std::make_shared<BackingTrack>();
                engine->setBackingTrack(tracks[k]);
                fastest = std::max(fastest, change.bpm);
            }
            if (period == change.at + change.finalAfter) {
                const auto done = beatTrack(change.bpm, change.beats, base);
                const BackingTrack::View view = done->view();
                tracks[k]->begin(view.frames, 2, 0, view.timing);
                const std::span<float> samples = tracks[k]->unpublished(0, view.frames);
                std::copy_n(view.samples, samples.size(), samples.begin());
                tracks[k]->publish(view.frames);
            }
        }
        card->render(512);
    }

    const std::vector<float>& heard = card->heard;
    // A crossfade between two tempos blends two paces; a jump would be a period's beats or more.
    const double mostPerFrame = 3.0 * fastest / 60.0 / 48000.0;
    double last = std::nan("");
    double step = 0.0;
    int jumps = 0;
    for (std::size_t i = 0; i < heard.size(); i += 2) {
        const float gain = heard[i + 1];
        if (gain == 0.0f) {
            continue;  // held
        }
        const double beat = heard[i] / gain + base;
        if (!std::isnan(last)) {
            step = beat - last;
            if (step < -2e-6 || step > mostPerFrame + 2e-6) {
                ADD_FAILURE() << "frame " << i / 2 << " jumps from beat " << last << " to " << beat;
                if (++jumps == 5) {
                    break;
                }
            }
        }
        last = beat;
    }
    EXPECT_NEAR(last, c.startBeat, 6.0) << "the song was heard";
    EXPECT_NE(heard[heard.size() - 1], 0.0f) << "playing at the end";
    EXPECT_NEAR(step, c.changes.back().bpm / 60.0 / 48000.0, 1e-6) << "the newest tempo is heard";
}

INSTANTIATE_TEST_SUITE_P(
    Songs, ChangesWhilePlaying,
    testing::Values(ChangeCase{"SlowerInsideTheOldTrack", 120.0, 40.0, 4.0, {{3, 60.0, 40.0, 20}}, 60},
                    ChangeCase{"SlowerMovingPastTheOldTracksEnd", 120.0, 5.0, 4.5, {{2, 60.0, 10.0, 40}}, 80},
                    ChangeCase{"FasterMovingBackInTheOldTrack", 60.0, 20.0, 4.0, {{2, 120.0, 20.0, 10}}, 40},
                    ChangeCase{"ALongerSongAtTheSameTempo", 120.0, 5.0, 4.5, {{2, 120.0, 10.0, 40}}, 80},
                    ChangeCase{"TapTempo",
                               120.0,
                               40.0,
                               4.0,
                               {{2, 110.0, 40.0, 4}, {12, 100.0, 40.0, 4}, {16, 95.0, 40.0, 30}, {22, 90.0, 40.0, 4}},
                               60}),
    [](const testing::TestParamInfo<ChangeCase>& info) { return std::string(info.param.name); });

// A loop that wraps while a render at a new tempo takes over: the track fading out wraps
// with the transport, so no frame comes from past the loop's end.
TEST_F(AudioEngineTest, ALoopWrappingDuringAHandOverPlaysEveryFrameFromTheTransportsBeat) {
    constexpr double kLoopEnd = 142180.0 / 24000.0;  // 100 frames into the 91st period at 120 BPM
    const double base = 3.0;
    start();
    engine->setBackingTrack(beatTrack(120.0, 40.0, base));
    engine->transport().setStartBeat(4.0);
    engine->transport().setLoop({.enabled = true, .startBeats = 4.0, .endBeats = kLoopEnd});
    engine->setPlaying(true);
    card->play(512, 90);
    engine->setTempo(60.0);
    engine->setBackingTrack(beatTrack(60.0, 40.0, base));  // takes over 200 frames (at 60 BPM) before the end
    card->play(512, 4);

    const std::vector<float>& heard = card->heard;
    double last = std::nan("");
    for (std::size_t i = 0; i < heard.size(); i += 2) {
        const double beat = heard[i] / heard[i + 1] + base;
        if (!std::isnan(last)) {
            const bool onward = beat - last >= -2e-6 && beat - last <= 3.0 * 2.0 / 48000.0;
            const bool wrapped = std::abs(beat - 4.0) < 2.0 / 48000.0 && last > kLoopEnd - 0.01;
            ASSERT_TRUE(onward || wrapped) << "frame " << i / 2 << " goes from beat " << last << " to " << beat;
        }
        last = beat;
    }
    EXPECT_LT(last, 4.1) << "wrapped once";
}

// 200000 frames of a 440 Hz sine at 0.8.
std::vector<float> sineSong() {
    std::vector<float> sine(200000);
    for (std::size_t f = 0; f < sine.size(); ++f) {
        sine[f] = 0.8f * static_cast<float>(std::sin(2.0 * M_PI * 440.0 * static_cast<double>(f) / 48000.0));
    }
    return sine;
}

// Where the render falls behind, the sound fades out into the hold and back in after it:
// no step at a hold's edges is larger than the largest step inside the song.
TEST_F(AudioEngineTest, HoldsFadeOutAndBackInSoAHoldIsAGapNotAClick) {
    const std::vector<float> sine = sineSong();
    const float largestInside = largestStep(sine);
    auto track = std::make_shared<BackingTrack>();
    track->begin(static_cast<std::int64_t>(sine.size()), 1, 0);
    const std::span<float> samples = track->unpublished(0, static_cast<std::int64_t>(sine.size()));
    std::copy(sine.begin(), sine.end(), samples.begin());
    start();
    engine->setBackingTrack(track);
    engine->setPlaying(true);
    for (const std::int64_t published : {30011, 60007, 90001}) {  // three stretches, two holds
        track->publish(published);
        card->play(512, 80);
    }

    const std::vector<float> heard = left(card->heard);
    int silences = 0;
    for (std::size_t i = 1; i < heard.size(); ++i) {
        silences += heard[i] == 0.0f && heard[i - 1] != 0.0f && std::abs(heard[i - 2]) < 0.01f ? 1 : 0;
    }
    EXPECT_LE(largestStep(heard), largestInside);
    EXPECT_TRUE(engine->waitingForSong());
    EXPECT_GE(engine->shownPos(), 90001 - 512 - AudioEngine::kHoldFadeFrames) << "held at the end of the last stretch";
    EXPECT_LE(engine->shownPos(), 90001);
    EXPECT_GE(silences, 2) << "two holds, each a gap";
}

// A stop, and a seek while the song sounds, fade what was heard out over a hold's fade (a
// seek fades the new place in over the same frames): no step larger than the song's own,
// beyond the 1/256 of each place that a frame of a crossfade adds.
TEST_F(AudioEngineTest, StopAndSeekFadeSoNeitherClicks) {
    const std::vector<float> sine = sineSong();
    const float largestInside = largestStep(sine);
    start();
    engine->setBackingTrack(std::make_shared<BackingTrack>(sine, 1));
    engine->setPlaying(true);
    card->play(512, 20);  // to frame 10240, where the sine is at 0.57 going down
    engine->transport().setStartBeat(3.2);  // frame 76800, the sine at 0
    engine->setPlaying(true);
    card->play(512, 20);
    const float beforeStop = card->heard[card->heard.size() - 2];
    engine->setPlaying(false);
    card->play(512, 4);

    const std::vector<float> heard = left(card->heard);
    EXPECT_LE(largestStep(heard), largestInside + 2.0f * 0.8f / 256.0f);
    EXPECT_GT(std::abs(beforeStop), 0.1f) << "the stop came while the song was loud";
    EXPECT_EQ(heard[20 * 512 + 1000], sine[76800 + 1000]) << "the seek went to the new place";
    EXPECT_EQ(heard.back(), 0.0f) << "silent after the stop's fade";
    EXPECT_EQ(heard[40 * 512 + AudioEngine::kHoldFadeFrames], 0.0f);
}

// The metronome's click sounding at a stop, or at a seek to a place with no click yet, fades
// out with the song: no step after it larger than the click's own just before, and
// silence once the fade is over.
TEST_F(AudioEngineTest, TheMetronomesClickFadesOutAtAStopAndAtASeek) {
    for (const bool seek : {false, true}) {
        SCOPED_TRACE(seek ? "seek" : "stop");
        start();
        engine->transport().setMetronome(true);
        engine->setPlaying(true);
        std::vector<float> out = card->render(1024);  // inside the bar's first click
        if (seek) {
            engine->transport().setStartBeat(0.25);  // the next click a long way off
        }
        engine->setPlaying(seek);
        const std::vector<float> after = card->render(1024);
        out.insert(out.end(), after.begin(), after.end());

        const std::vector<float> heard = left(out);
        const std::size_t fade = AudioEngine::kHoldFadeFrames;
        ASSERT_GT(std::abs(heard[1023]), 0.1f) << "the click was loud";
        EXPECT_LE(largestStep(heard, 1024), largestStep(heard, 1024 - fade, 1024) + 1e-3f);
        EXPECT_NE(heard[1024 + fade / 2], 0.0f) << "it fades, it is not cut";
        EXPECT_EQ(peak(std::vector<float>(heard.begin() + 1024 + fade, heard.end())), 0.0f);
        engine->setPlaying(false);
        card->render(512);
    }
}

}  // namespace
}  // namespace ostrel::engine
