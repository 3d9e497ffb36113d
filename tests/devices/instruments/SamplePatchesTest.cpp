#include "devices/instruments/SamplePatches.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

DrumPad pad(int note, std::shared_ptr<const AudioData> sample) {
    DrumPad p;
    p.note = note;
    p.sample = std::move(sample);
    return p;
}

TEST(DrumRackPatch, UsablePadsInListOrderAreMixedIntoRackLevel) {
    const auto data = std::make_shared<AudioData>();
    const Patch patch = makeDrumRackPatch(
        {pad(38, data), pad(128, data), pad(-1, data), pad(40, nullptr), pad(36, data), pad(36, data)}, "Drum Rack");
    EXPECT_EQ(patch.category, "drums");
    EXPECT_EQ(patch.voices, 1);
    ASSERT_EQ(patch.nodes.size(), 5u);
    EXPECT_EQ(patch.nodes[0].label, "Pad 38");
    EXPECT_EQ(patch.nodes[0].parameters, (Knobs{{"follow_pitch", 0.0}, {"gain", 1.0}, {"note", 38.0}, {"one_shot", 1.0},
                                                {"release_ms", 80.0}, {"tune_cents", 0.0}}));
    EXPECT_EQ(patch.nodes[0].sample, data);
    EXPECT_EQ(patch.nodes[1].label, "Pad 36");
    EXPECT_EQ(patch.nodes[2].label, "Pad 36") << "two pads on one note both sound";
    EXPECT_EQ(patch.nodes[4], PatchNode(4, "ostrel.mod.attenuverter", "Rack level", {{"amount", 1.0}}));
    EXPECT_EQ(patch.connections, (std::vector<PatchCable>{{0, 3, 0}, {1, 3, 1}, {2, 3, 2}, {3, 4, 0}}));
    EXPECT_EQ(patch.output, 4);
    EXPECT_DOUBLE_EQ(mixGain(patch, 2, 3), 0.8);
}

}  // namespace
}  // namespace ostrel::engine
