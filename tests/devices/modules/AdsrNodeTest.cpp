#include "devices/modules/AdsrNode.h"

#include <bit>
#include <cmath>
#include <limits>

#include "DeviceHarness.h"
#include "devices/Dsp.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// A gate high from 0 to `off` and again from `onAgain` on.
Signal play(AdsrNode& a, Knobs knobs, int frames, int off, int onAgain = -1, double rate = 48000.0) {
    Signal gate = constant(frames, 0.0f);
    std::fill(gate.begin(), gate.begin() + off, 1.0f);
    if (onAgain >= 0) std::fill(gate.begin() + onAgain, gate.end(), 1.0f);
    a.prepare(rate);
    setKnobs(a, knobs);
    const Render r{.rate = rate, .inputs = {&gate}};
    return render(a, frames, r);
}

TEST(AdsrNode, AttackIsLinearForItsTimeAtEveryRate) {
    for (double rate : kRates) {
        AdsrNode a;
        const int attack = static_cast<int>(rate * 0.01);
        const Signal out = play(a, {{"attack_ms", 10}}, attack * 4, attack * 4, -1, rate);
        for (int i = 0; i < attack - 1; i += 7)
            ASSERT_NEAR(out[static_cast<std::size_t>(i)], (i + 1.0f) / attack, 1e-4f) << rate << " frame " << i;
        // Full level within a frame of the attack time (float steps), then the decay.
        const auto top = std::max_element(out.begin(), out.end()) - out.begin();
        EXPECT_TRUE(out[static_cast<std::size_t>(top)] == 1.0f && std::abs(top - (attack - 1)) <= 1) << rate << " " << top;
    }
}

TEST(AdsrNode, DecaysToExactlySustainThenReleasesToExactZero) {
    AdsrNode a;
    const Signal out = play(a, {{"attack_ms", 1}, {"decay_ms", 100}, {"sustain", 0.4f}, {"release_ms", 50}}, 48000, 24000);
    EXPECT_NEAR(out[48 + 4800], 0.4f + 0.6f * 0.01f, 0.002f);  // 99 % of the way in the decay time
    EXPECT_EQ(out[23999], 0.4f);
    EXPECT_NEAR(out[24000 + 2399], 0.4f * 0.01f, 0.4f * 0.002f);  // about 1 % after 50 ms
    EXPECT_EQ(out.back(), 0.0f);
    EXPECT_EQ(a.stage(), AdsrNode::Stage::Idle);
}

TEST(AdsrNode, GateCountsAsOnOnlyAboveOneHalf) {
    AdsrNode a;
    const Signal half = constant(1000, 0.5f), above = constant(1000, 0.51f);
    EXPECT_EQ(render(a, 1000, {.inputs = {&half}}), constant(1000, 0.0f));
    EXPECT_GT(peak(render(a, 1000, {.inputs = {&above}})), 0.0);
}

// The envelope written plainly, frame by frame with a switch on the stage: what the node
// must give bit for bit, whatever its loop looks like.
struct PlainAdsr {
    float attackStep, decay, sustain, release;
    AdsrNode::Stage stage = AdsrNode::Stage::Idle;
    float level = 0.0f;
    bool previousGate = false;

    PlainAdsr(const AdsrNode& a, double rate) {
        const float sr = static_cast<float>(rate);
        const auto frames = [&](std::uint32_t knob) { return std::max(1.0f, a.params.value(knob) * 0.001f * sr); };
        attackStep = 1.0f / frames(AdsrNode::AttackMs);
        decay = dsp::onePoleFactor(frames(AdsrNode::DecayMs), 4.6f);
        release = dsp::onePoleFactor(frames(AdsrNode::ReleaseMs), 4.6f);
        sustain = a.params.value(AdsrNode::Sustain);
    }

    float frame(bool gate) {
        using S = AdsrNode::Stage;
        if (gate && !previousGate) stage = S::Attack;
        if (!gate && previousGate) stage = S::Release;
        previousGate = gate;
        switch (stage) {
            case S::Idle: level = 0.0f; break;
            case S::Attack:
                level += attackStep;
                if (level >= 1.0f) {
                    level = 1.0f;
                    stage = S::Decay;
                }
                break;
            case S::Decay:
                dsp::onePole(level, sustain, decay);
                if (std::fabs(level - sustain) < 0.0001f) {
                    level = sustain;
                    stage = S::Sustain;
                }
                break;
            case S::Sustain: level = sustain; break;
            case S::Release:
                dsp::onePole(level, 0.0f, release);
                if (level < 0.0001f) {
                    level = 0.0f;
                    stage = S::Idle;
                }
                break;
        }
        return level;
    }
};

bool sameBits(const Signal& a, const Signal& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](float x, float y) {
               return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y);
           });
}

TEST(AdsrNode, EveryStageAndGateChangeGivesThePlainLoopsBitsInUnevenBlocks) {
    constexpr int kFrames = 40000;
    // Held long enough to reach sustain, let go mid-attack and mid-decay, retriggered in
    // the release, flickering every few frames, a NaN, then unplugged while open.
    Signal gate = constant(kFrames, 0.0f);
    const auto open = [&](int from, int to) { std::fill(gate.begin() + from, gate.begin() + to, 1.0f); };
    open(100, 9000);
    open(9500, 9530);
    open(9700, 10400);
    open(14000, 20000);
    for (int i = 20000; i < 22000; i += 7) gate[static_cast<std::size_t>(i)] = 0.9f;
    gate[23001] = std::numeric_limits<float>::quiet_NaN();
    open(25000, kFrames);
    const std::vector<int> blocks = {1, 37, 512, 3000, 64, 2049};
    const Knobs knobSets[] = {
        {},
        {{"attack_ms", 0.5}, {"decay_ms", 1}, {"sustain", 0.0}, {"release_ms", 1}},
        {{"attack_ms", 40}, {"decay_ms", 30}, {"sustain", 1.0}, {"release_ms", 10000}},
        {{"attack_ms", 3}, {"decay_ms", 80}, {"sustain", 0.35}, {"release_ms", 60}},
    };
    for (double rate : {44100.0, 96000.0}) {
        for (const Knobs& knobs : knobSets) {
            AdsrNode a;
            a.prepare(rate);
            setKnobs(a, knobs);
            PlainAdsr plain(a, rate);
            Signal expected(kFrames + 5000);
            for (int i = 0; i < kFrames; ++i) expected[static_cast<std::size_t>(i)] = plain.frame(gate[static_cast<std::size_t>(i)] > 0.5f);
            for (int i = kFrames; i < kFrames + 5000; ++i) expected[static_cast<std::size_t>(i)] = plain.frame(false);
            Signal out = render(a, kFrames, {.rate = rate, .blocks = blocks, .inputs = {&gate}});
            const Signal unplugged = render(a, 5000, {.rate = rate, .blocks = blocks});
            out.insert(out.end(), unplugged.begin(), unplugged.end());
            EXPECT_TRUE(sameBits(out, expected)) << rate << " knob set " << (&knobs - knobSets);
            EXPECT_EQ(a.stage(), plain.stage);
        }
    }
}

// Regression: a chord's envelopes share the block one of them computed on the thread; one
// whose state or gate differs by a single frame must compute its own.
TEST(AdsrNode, EnvelopesInStepAndOutOfStepOnOneThreadEachGiveTheirOwnBitsAndEndState) {
    constexpr double kRate = 48000.0;
    constexpr int kFrames = 30000;
    Signal gate = constant(kFrames, 0.0f), late = constant(kFrames, 0.0f);
    std::fill(gate.begin() + 200, gate.begin() + 15000, 1.0f);
    std::fill(late.begin() + 201, late.begin() + 15000, 1.0f);
    const Knobs knobs = {{"attack_ms", 20}, {"decay_ms", 50}, {"sustain", 0.5}, {"release_ms", 100}};
    AdsrNode a, b, c;
    for (AdsrNode* e : {&a, &b, &c}) {
        e->prepare(kRate);
        setKnobs(*e, knobs);
    }
    PlainAdsr pa(a, kRate), pb(b, kRate), pc(c, kRate);
    AudioBuffer in(1, 4096), out(1, 4096);
    const int sizes[] = {512, 300, 4096, 512, 7, 2049, 512};
    int start = 0;
    auto step = [&](AdsrNode& e, PlainAdsr& plain, const Signal& g, int n) {
        in.resize(1, n);
        out.resize(1, n);
        std::copy_n(g.begin() + start, n, in.channel(0));
        Signal expected(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) expected[static_cast<std::size_t>(i)] = plain.frame(g[static_cast<std::size_t>(start + i)] > 0.5f);
        ProcessContext ctx;
        ctx.frames = n;
        ctx.sampleRate = kRate;
        const AudioBuffer* inputs[] = {&in};
        e.process(ctx, inputs, out);
        return sameBits(Signal(out.channel(0), out.channel(0) + n), expected) && e.stage() == plain.stage;
    };
    for (int k = 0; start < kFrames; ++k) {
        const int n = std::min(sizes[k % std::size(sizes)], kFrames - start);
        ASSERT_TRUE(step(a, pa, gate, n)) << "in step, first, block " << k;
        ASSERT_TRUE(step(b, pb, gate, n)) << "in step, second, block " << k;
        ASSERT_TRUE(step(c, pc, late, n)) << "a frame late, block " << k;
        start += n;
    }
}

}  // namespace
}  // namespace ostrel::engine
