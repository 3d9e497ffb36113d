// A whole modular voice wired by hand: keyboard -> oscillator -> filter -> amplifier,
// with an envelope on the amplifier's level, driven by note events like a patch.

#include "DeviceHarness.h"
#include "devices/modules/AdsrNode.h"
#include "devices/modules/KeyboardCvNode.h"
#include "devices/modules/VcaNode.h"
#include "devices/modules/VcfNode.h"
#include "devices/modules/VcoNode.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Renders each module over the whole note in turn: every module's output depends only
// on its inputs and its events, so this equals running them block by block.
Signal play(double rate, std::vector<int> blocks, int note, int frames, int releaseAt) {
    KeyboardCvNode pitch, gate;
    VcoNode vco;
    VcfNode vcf;
    AdsrNode env;
    VcaNode vca;
    setKnob(gate, "output", 1);
    for (DeviceNode* n : std::initializer_list<DeviceNode*>{&pitch, &gate, &vco, &vcf, &env, &vca}) n->prepare(rate);
    const Render keys{.rate = rate, .blocks = blocks, .events = {noteOn(0, note, 100), noteOff(releaseAt, note)}};
    const Signal pitchCv = render(pitch, frames, keys), gateCv = render(gate, frames, keys);
    Render r{.rate = rate, .blocks = blocks};
    auto through = [&](DeviceNode& node, std::vector<const Signal*> inputs) {
        r.inputs = std::move(inputs);
        return render(node, frames, r);
    };
    const Signal tone = through(vco, {&pitchCv});
    const Signal filtered = through(vcf, {&tone});
    const Signal level = through(env, {&gateCv});
    r.channels = 2;
    r.inputs = {&filtered, &level};
    const std::vector<Signal> out = renderChannels(vca, frames, r);
    EXPECT_EQ(out[0], out[1]);
    return out[0];
}

TEST(ModularVoice, MiddleCSoundsAt261_63HzWithinATenthOfACentAndFallsSilentAfterRelease) {
    for (double rate : kRates) {
        for (const std::vector<int>& blocks : {std::vector<int>{64}, {512}, {1024}, {100, 7, 333}}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, first block " << blocks[0]);
            const int releaseAt = static_cast<int>(rate * 1.5), frames = 2 * releaseAt, settled = static_cast<int>(rate * 0.1);
            const Signal out = play(rate, blocks, 60, frames, releaseAt);
            EXPECT_GT(peak(out, settled, releaseAt), 0.05);
            EXPECT_NEAR(cents(measureFrequency(out, settled, releaseAt, rate), kMiddleC), 0.0, 0.1);
            // A 300 ms release to 0.01 % ends well within a second; then exact zeros.
            EXPECT_EQ(peak(out, releaseAt + static_cast<int>(rate), frames), 0.0);
        }
    }
}

}  // namespace
}  // namespace ostrel::engine
