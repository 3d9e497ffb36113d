#include "devices/modules/LfoNode.h"

#include <bit>
#include <cmath>
#include <numbers>

#include "DeviceHarness.h"
#include "devices/Dsp.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// xorshift32 values after seed 12345, worked out by hand: steps 1 to 3.
constexpr float kHeld[] = {0.553877354f, -0.209654629f, 0.311540604f};

Signal play(LfoNode& l, Knobs knobs, int frames, const Signal* restart = nullptr, double rate = 48000.0) {
    l.prepare(rate);
    setKnobs(l, knobs);
    const Render r{.rate = rate, .inputs = {restart}};
    return render(l, frames, r);
}

TEST(LfoNode, CyclesAtTheRate) {
    LfoNode l;
    EXPECT_NEAR(measureFrequency(play(l, {{"rate_hz", 5}}, 96000, nullptr, 96000), 0, 96000, 96000), 5.0, 1e-3);
}

TEST(LfoNode, RisingEdgeRestartsTheCycleAndAHeldTriggerDoesNotAgain) {
    Signal trigger = constant(4800, 0.0f);
    std::fill(trigger.begin() + 1000, trigger.begin() + 1500, 1.0f);
    std::fill(trigger.begin() + 3000, trigger.end(), 1.0f);
    LfoNode l;
    const Signal out = play(l, {{"waveform", 2}}, 4800, &trigger);  // saw: -1 at phase 0
    EXPECT_TRUE(out[999] > -0.99f && out[1000] == -1.0f && out[1499] > -1.0f && out[3000] == -1.0f);
}

TEST(LfoNode, RandomStepsHoldOneValueOfTheKnownSequencePerCycleAndARestartDrawsTheNext) {
    LfoNode l;
    const Signal out = play(l, {{"waveform", 4}, {"rate_hz", 10}}, 14400);
    EXPECT_EQ((Signal{out[0], out[4799], out[4800], out[9599], out[9600]}),
              (Signal{kHeld[0], kHeld[0], kHeld[1], kHeld[1], kHeld[2]}));
    const Signal trigger = constant(10, 1.0f);
    EXPECT_EQ(play(l, {}, 10, &trigger)[0], kHeld[1]);  // prepare resets the generator
}

// The LFO written plainly, frame by frame, from the state prepare leaves: what the node
// must give bit for bit, whatever its loop looks like.
struct PlainLfo {
    int wave = 0;
    double increment = 0.0;
    float depth = 1.0f;
    bool bipolar = true;
    double phase = 0.0;
    dsp::XorShift32 random{LfoNode::kResetState};
    float held = dsp::XorShift32::toFloat(LfoNode::kResetState);
    bool previousTrigger = false;

    PlainLfo(const LfoNode& l, double rate)
        : wave(static_cast<int>(l.params.value(LfoNode::Waveform))),
          increment(l.params.value(LfoNode::RateHz) / rate),
          depth(l.params.value(LfoNode::Depth)),
          bipolar(l.params.value(LfoNode::Bipolar) >= 0.5f) {}

    // One frame; `restart` below 0 means no input. Without `out` the phases only.
    void frame(float restart, float* out) {
        if (restart >= 0.0f) {
            const bool trigger = restart > 0.5f;
            if (trigger && !previousTrigger) {
                phase = 0.0;
                held = random.next();
            }
            previousTrigger = trigger;
        }
        float v;
        switch (wave) {
            case 0: v = static_cast<float>(dsp::sin(2.0 * std::numbers::pi * phase)); break;
            case 1: v = static_cast<float>(1.0 - 4.0 * std::fabs(phase - 0.5)); break;
            case 2: v = static_cast<float>(2.0 * phase - 1.0); break;
            case 3: v = phase < 0.5 ? 1.0f : -1.0f; break;
            default: v = held; break;
        }
        if (!bipolar) v = (v + 1.0f) / 2.0f;
        if (out != nullptr) *out = v * depth;
        phase += increment;
        if (phase >= 1.0) {
            phase -= std::floor(phase);
            held = random.next();
        }
    }
};

bool sameBits(const Signal& a, const Signal& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](float x, float y) {
               return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y);
           });
}

// Rising edges at uneven places, some held across block ends.
Signal unevenTrigger(int frames) {
    Signal t = constant(frames, 0.0f);
    for (int i = 0; i < frames; ++i) t[static_cast<std::size_t>(i)] = (i / 777) % 3 == 0 || (i / 91) % 7 == 3 ? 1.0f : 0.0f;
    return t;
}

TEST(LfoNode, EveryWavePolarityAndRestartGivesThePlainLoopsBitsInUnevenBlocks) {
    constexpr int kFrames = 12000;
    const Signal trigger = unevenTrigger(kFrames);
    // 1 and 3000 frames, past any piece the node may cut a block into.
    const std::vector<int> blocks = {1, 37, 512, 3000, 64, 2049};
    for (int wave = 0; wave <= 4; ++wave) {
        for (int bipolar = 0; bipolar <= 1; ++bipolar) {
            for (const Signal* restart : {static_cast<const Signal*>(nullptr), &trigger}) {
                LfoNode l;
                l.prepare(44100.0);
                setKnobs(l, {{"waveform", wave}, {"bipolar", bipolar}, {"rate_hz", 23.7}, {"depth", 0.7}});
                PlainLfo plain(l, 44100.0);
                Signal expected(kFrames);
                for (int i = 0; i < kFrames; ++i)
                    plain.frame(restart != nullptr ? (*restart)[static_cast<std::size_t>(i)] : -1.0f, &expected[static_cast<std::size_t>(i)]);
                const Render r{.rate = 44100.0, .blocks = blocks, .inputs = {restart}};
                EXPECT_TRUE(sameBits(render(l, kFrames, r), expected))
                    << "wave " << wave << " bipolar " << bipolar << " restart " << (restart != nullptr);
            }
        }
    }
}

// Regression: LFOs in step share the block one of them computed on the thread; one out
// of step, or a sleeping voice's LFO that only moves its phases, must not take it wrongly.
TEST(LfoNode, LfosInStepOutOfStepAndAsleepOnOneThreadEachGiveTheirOwnBitsAndEndState) {
    constexpr double kRate = 48000.0;
    const Knobs knobs = {{"waveform", 4}, {"rate_hz", 31.0}, {"depth", 0.9}};
    LfoNode a, b, c;
    for (LfoNode* l : {&a, &b, &c}) {
        l->prepare(kRate);
        setKnobs(*l, knobs);
    }
    PlainLfo pa(a, kRate), pb(b, kRate), pc(c, kRate);
    AudioBuffer out(1, 4096);
    auto step = [&](LfoNode& l, PlainLfo& plain, int n, bool asleep) {
        ProcessContext ctx;
        ctx.frames = n;
        ctx.sampleRate = kRate;
        Signal expected(static_cast<std::size_t>(n));
        for (float& v : expected) plain.frame(-1.0f, asleep ? nullptr : &v);
        if (asleep) {
            l.advance(ctx, {});
            return true;
        }
        out.resize(1, n);
        l.process(ctx, {}, out);
        return sameBits(Signal(out.channel(0), out.channel(0) + n), expected);
    };
    // c starts 100 frames ahead; b sleeps through blocks 3 to 5, once before a's turn.
    ASSERT_TRUE(step(c, pc, 100, false));
    const int sizes[] = {512, 512, 300, 4096, 512, 7, 512, 512, 1000, 512};
    for (int k = 0; k < 10; ++k) {
        const bool bAsleep = k >= 3 && k <= 5;
        if (k == 4) {
            ASSERT_TRUE(step(b, pb, sizes[k], bAsleep)) << "asleep before the others " << k;
        }
        ASSERT_TRUE(step(a, pa, sizes[k], false)) << "in step, first " << k;
        if (k != 4) {
            ASSERT_TRUE(step(b, pb, sizes[k], bAsleep)) << "in step, second " << k;
        }
        ASSERT_TRUE(step(c, pc, sizes[k], false)) << "out of step " << k;
    }
}

}  // namespace
}  // namespace ostrel::engine
