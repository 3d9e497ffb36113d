// A whole modular voice wired by hand: keyboard -> oscillator -> filter -> amplifier,
// with an envelope on the amplifier's level, driven by note events like a patch.

#include <gtest/gtest.h>

#include <memory>

#include "ModuleHarness.h"
#include "devices/AdsrNode.h"
#include "devices/KeyboardCvNode.h"
#include "devices/VcaNode.h"
#include "devices/VcfNode.h"
#include "devices/VcoNode.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

class HandWiredVoice {
public:
    explicit HandWiredVoice(double rate, int maxBlock)
        : pitchOut_(1, maxBlock), gateOut_(1, maxBlock), vcoOut_(1, maxBlock), vcfOut_(1, maxBlock),
          envOut_(1, maxBlock) {
        setKnob(gate_, "output", 1);
        for (Node* n : std::initializer_list<Node*>{&pitch_, &gate_, &vco_, &vcf_, &env_, &vca_}) n->prepare(rate);
    }

    // One block, every module in signal order; the keyboards take the note events.
    void process(const ProcessContext& ctx, AudioBuffer& out) {
        ProcessContext quiet = ctx;
        quiet.events = {};
        pitch_.process(ctx, {}, pitchOut_);
        gate_.process(ctx, {}, gateOut_);
        const AudioBuffer* vcoIn[] = {&pitchOut_};
        vco_.process(quiet, vcoIn, vcoOut_);
        const AudioBuffer* vcfIn[] = {&vcoOut_};
        vcf_.process(quiet, vcfIn, vcfOut_);
        const AudioBuffer* envIn[] = {&gateOut_};
        env_.process(quiet, envIn, envOut_);
        const AudioBuffer* vcaIn[] = {&vcfOut_, &envOut_};
        vca_.process(quiet, vcaIn, out);
    }

private:
    KeyboardCvNode pitch_, gate_;
    VcoNode vco_;
    VcfNode vcf_;
    AdsrNode env_;
    VcaNode vca_;
    AudioBuffer pitchOut_, gateOut_, vcoOut_, vcfOut_, envOut_;
};

std::vector<float> play(double rate, std::vector<int> blocks, int note, int frames, int releaseAt) {
    const int maxBlock = *std::max_element(blocks.begin(), blocks.end());
    HandWiredVoice voice(rate, maxBlock);
    AudioBuffer out(2, maxBlock);
    std::vector<float> result;
    const std::vector<Timed> timed = {noteOn(0, note, 100), noteOff(releaseAt, note)};
    std::size_t next = 0, sizeIndex = 0;
    for (int start = 0; start < frames;) {
        const int n = std::min(blocks[sizeIndex++ % blocks.size()], frames - start);
        std::vector<Event> events;
        while (next < timed.size() && timed[next].frame < start + n) {
            Event e = timed[next].event;
            e.frameOffset = static_cast<std::uint32_t>(timed[next++].frame - start);
            events.push_back(e);
        }
        ProcessContext ctx;
        ctx.frames = n;
        ctx.sampleRate = rate;
        ctx.position = start;
        ctx.events = events;
        voice.process(ctx, out);
        EXPECT_EQ(std::vector<float>(out.channel(0), out.channel(0) + n),
                  std::vector<float>(out.channel(1), out.channel(1) + n));
        result.insert(result.end(), out.channel(0), out.channel(0) + n);
        start += n;
    }
    return result;
}

TEST(ModularVoice, MiddleCSoundsAt261_63HzWithinATenthOfACentAndFallsSilentAfterRelease) {
    for (double rate : kRates) {
        for (const std::vector<int>& blocks : {std::vector<int>{64}, {512}, {1024}, {100, 7, 333}}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, first block " << blocks[0]);
            const int releaseAt = static_cast<int>(rate * 1.5);
            const int frames = releaseAt + static_cast<int>(rate * 1.5);
            const std::vector<float> out = play(rate, blocks, 60, frames, releaseAt);
            const int settled = static_cast<int>(rate * 0.1);
            EXPECT_GT(peak(out, settled, releaseAt), 0.05);
            const double hz = measureFrequency(out, settled, releaseAt, rate);
            EXPECT_NEAR(cents(hz, 261.6255653005986), 0.0, 0.1) << hz;
            // A 300 ms release to 0.01 % ends well within a second; then exact zeros.
            EXPECT_EQ(peak(out, releaseAt + static_cast<int>(rate), frames), 0.0);
        }
    }
}

TEST(ModularVoice, EachKeyFollowsTheEqualTemperedScale) {
    for (int note : {36, 57, 69, 84}) {
        const std::vector<float> out = play(48000.0, {512}, note, 48000, 48000);
        const double expected = 261.6255653005986 * std::exp2((note - 60) / 12.0);
        EXPECT_NEAR(cents(measureFrequency(out, 4800, 48000, 48000.0), expected), 0.0, 0.1) << note;
    }
}

}  // namespace
}  // namespace ostrel::engine
