#include "devices/effects/ReverbEffect.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// The left side of a fully wet reverb after an impulse.
Signal wet(ReverbEffect& fx, Knobs knobs, int frames, int block = 512) {
    fx.prepare(48000);
    setKnob(fx, "mix", 1);
    setKnobs(fx, knobs);
    return runEffect(fx, {impulse(frames), {}}, 48000, {block}).left;
}

TEST(ReverbEffect, LineLengthsAt48kHzAreTheTuningsScaledFrom44100) {
    ReverbEffect fx;
    fx.prepare(48000);
    const std::int32_t combs[2][8] = {{1214, 1293, 1389, 1475, 1547, 1622, 1694, 1760},
                                      {1239, 1318, 1414, 1500, 1572, 1647, 1719, 1785}};
    const std::int32_t allPasses[2][4] = {{605, 480, 371, 244}, {630, 505, 396, 269}};
    for (int ch = 0; ch < 2; ++ch) {
        for (int k = 0; k < 8; ++k) EXPECT_EQ(fx.combLength(ch, k), combs[ch][k]) << ch << " comb " << k;
        for (int j = 0; j < 4; ++j) EXPECT_EQ(fx.allPassLength(ch, j), allPasses[ch][j]) << ch << " all-pass " << j;
    }
    EXPECT_EQ(fx.preDelayLength(), 4802);
}

TEST(ReverbEffect, WetOnsetIsTheShortestCombOnEachSideMovedByThePreDelay) {
    ReverbEffect fx;
    fx.prepare(48000);
    setKnob(fx, "mix", 1);  // width 1: each side hears only its own bank
    const Stereo out = runEffect(fx, {impulse(3000), {}}, 48000);
    EXPECT_EQ(firstAbove(out.left), 1214);
    EXPECT_EQ(firstAbove(out.right), 1239);
    EXPECT_EQ(firstAbove(wet(fx, {{"predelay_ms", 100}}, 8000, 480)), 4800 + 1214);
}

TEST(ReverbEffect, UnpluggedTheRoomKeepsRingingAndALongTailFlushesToExactZero) {
    ReverbEffect fx;
    wet(fx, {}, 512);
    Render unplugged{.blocks = {4096}, .channels = 2};
    for (const Signal& side : renderChannels(fx, 4800, unplugged)) EXPECT_GT(energy(side, 0, 4800), 0.0);
    setKnob(fx, "room_size", 0);  // well past the point where a small room's tail sinks below 1e-20
    renderChannels(fx, 48000 * 10, unplugged);
    EXPECT_EQ(render(fx, 4096, unplugged), constant(4096, 0.0f));
}

}  // namespace
}  // namespace ostrel::engine
