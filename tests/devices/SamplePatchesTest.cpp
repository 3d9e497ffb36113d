#include "devices/SamplePatches.h"

#include <gtest/gtest.h>

using namespace ostrel::engine;

namespace {

std::shared_ptr<const AudioData> sound() {
    auto data = std::make_shared<AudioData>();
    data->channels = 1;
    data->frames = 4;
    data->samples = {0.1f, 0.2f, 0.3f, 0.4f};
    return data;
}

DrumPad pad(int note, std::shared_ptr<const AudioData> sample) {
    DrumPad p;
    p.note = note;
    p.sample = std::move(sample);
    return p;
}

}  // namespace

TEST(SamplerPatchTest, OneSamplerWithExactlyTheGivenKnobs) {
    const std::map<std::string, double> knobs{{"gain", 3.0}, {"bogus", 1.0}};
    const auto data = sound();
    const Patch patch = makeSamplerPatch(data, knobs, "Sampler");
    EXPECT_EQ(patch.name, "Sampler");
    EXPECT_EQ(patch.category, "sampler");
    EXPECT_EQ(patch.voices, 8);
    ASSERT_EQ(patch.nodes.size(), 1u);
    EXPECT_EQ(patch.nodes[0].id, 0);
    EXPECT_EQ(patch.nodes[0].device, "ostrel.mod.sampler");
    EXPECT_EQ(patch.nodes[0].label, "Sampler");
    EXPECT_EQ(patch.nodes[0].parameters, knobs);
    EXPECT_EQ(patch.nodes[0].sample, data) << "the sound is shared, not copied";
    EXPECT_TRUE(patch.connections.empty());
    EXPECT_EQ(patch.output, 0);
}

TEST(DrumRackPatchTest, UsablePadsAreMixedIntoRackLevel) {
    const auto data = sound();
    const Patch patch = makeDrumRackPatch({pad(36, data), pad(38, data), pad(42, data)}, "Drum Rack");
    EXPECT_EQ(patch.category, "drums");
    EXPECT_EQ(patch.voices, 1);
    ASSERT_EQ(patch.nodes.size(), 5u);
    EXPECT_EQ(patch.nodes[0].label, "Pad 36");
    EXPECT_EQ(patch.nodes[2].label, "Pad 42");
    const std::map<std::string, double> padKnobs{{"follow_pitch", 0.0}, {"gain", 1.0},       {"note", 38.0},
                                                 {"one_shot", 1.0},     {"release_ms", 80.0}, {"tune_cents", 0.0}};
    EXPECT_EQ(patch.nodes[1].parameters, padKnobs);
    EXPECT_EQ(patch.nodes[1].sample, data);
    EXPECT_EQ(patch.nodes[3].label, "Mix");
    EXPECT_EQ(patch.nodes[3].parameters,
              (std::map<std::string, double>{{"level_1", 0.8}, {"level_2", 0.8}, {"level_3", 0.8}}));
    EXPECT_EQ(patch.nodes[4].label, "Rack level");
    EXPECT_EQ(patch.nodes[4].device, "ostrel.mod.attenuverter");
    EXPECT_EQ(patch.nodes[4].parameters, (std::map<std::string, double>{{"amount", 1.0}}));
    EXPECT_EQ(patch.connections,
              (std::vector<PatchCable>{{0, 3, 0}, {1, 3, 1}, {2, 3, 2}, {3, 4, 0}}));
    EXPECT_EQ(patch.output, 4);
}

TEST(DrumRackPatchTest, UnusablePadsAreLeftOutAndIdsStayConsecutive) {
    const auto data = sound();
    const Patch patch = makeDrumRackPatch({pad(42, data), pad(128, data), pad(-1, data), pad(40, nullptr),
                                           pad(36, data), pad(36, data)},
                                          "Drum Rack");
    ASSERT_EQ(patch.nodes.size(), 5u);
    EXPECT_EQ(patch.nodes[0].label, "Pad 42") << "list order, not note order";
    EXPECT_EQ(patch.nodes[1].label, "Pad 36");
    EXPECT_EQ(patch.nodes[1].id, 1);
    EXPECT_EQ(patch.nodes[2].label, "Pad 36") << "two pads on one note both sound";
}

TEST(DrumRackPatchTest, NoUsablePadGivesTheSilentPlaceholder) {
    const Patch patch = makeDrumRackPatch({}, "Drum Rack");
    ASSERT_EQ(patch.nodes.size(), 3u);
    EXPECT_EQ(patch.nodes[0].label, "Empty");
    EXPECT_TRUE(patch.nodes[0].parameters.empty());
    EXPECT_FALSE(patch.nodes[0].sample);
    EXPECT_EQ(patch.nodes[1].label, "Mix");
    EXPECT_EQ(patch.nodes[1].parameters, (std::map<std::string, double>{{"level_1", 0.8}}));
    EXPECT_EQ(patch.nodes[2].label, "Rack level");
    EXPECT_EQ(patch.connections, (std::vector<PatchCable>{{0, 1, 0}, {1, 2, 0}}));
    EXPECT_EQ(patch.output, 2);
}

TEST(DrumRackPatchTest, SeventeenPadsAllReachTheOutput) {
    const auto data = sound();
    std::vector<DrumPad> pads;
    for (int n = 36; n < 36 + 17; ++n) {
        pads.push_back(pad(n, data));
    }
    const Patch patch = makeDrumRackPatch(pads, "Drum Rack");
    // Walk the cables back from the output: every pad must be reached.
    std::vector<bool> reaches(patch.nodes.size(), false);
    reaches[static_cast<std::size_t>(patch.output)] = true;
    for (bool changed = true; changed;) {
        changed = false;
        for (const PatchCable& cable : patch.connections) {
            if (reaches[static_cast<std::size_t>(cable.to)] && !reaches[static_cast<std::size_t>(cable.from)]) {
                reaches[static_cast<std::size_t>(cable.from)] = true;
                changed = true;
            }
        }
    }
    for (int i = 0; i < 17; ++i) {
        EXPECT_TRUE(reaches[static_cast<std::size_t>(i)]) << "pad " << i;
    }
}
