#include "devices/instruments/BuiltinInstruments.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

TEST(BuiltinInstrumentsList, NineteenPatchesInMenuOrderWithTheirShapes) {
    struct Expected {
        const char* name;
        const char* category;
        int voices;
        std::size_t nodes;
        std::size_t cables;
    };
    constexpr Expected kList[] = {
        {"Modular Lead", "synth", 8, 9, 9}, {"Modular Bass", "bass", 8, 9, 9},  {"Modular Pad", "pad", 8, 11, 11},
        {"Modular Drums", "drums", 1, 70, 75}, {"Square Lead", "synth", 8, 9, 9}, {"Soft Pluck", "synth", 8, 9, 9},
        {"Glass Bell", "synth", 8, 9, 9},   {"Acid Saw", "synth", 8, 9, 9},     {"Sub Bass", "bass", 8, 9, 9},
        {"Growl Bass", "bass", 8, 9, 9},    {"Square Bass", "bass", 8, 9, 9},   {"Warm Strings", "pad", 8, 11, 11},
        {"Glass Pad", "pad", 8, 11, 11},    {"FM E-Piano", "fm", 8, 1, 0},      {"FM Bell", "fm", 8, 1, 0},
        {"FM Bass", "fm", 8, 1, 0},         {"FM Brass", "fm", 8, 1, 0},        {"FM Pad", "fm", 8, 1, 0},
        {"FM Organ", "fm", 8, 1, 0},
    };
    const std::vector<Patch> list = builtinPatches();
    ASSERT_EQ(list.size(), std::size(kList));
    for (std::size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(kList[i].name);
        EXPECT_TRUE(list[i].name == kList[i].name && list[i].category == kList[i].category && list[i].voices == kList[i].voices);
        EXPECT_TRUE(list[i].nodes.size() == kList[i].nodes && list[i].connections.size() == kList[i].cables);
        EXPECT_EQ(list[i].output, static_cast<int>(kList[i].nodes) - 1);
        for (std::size_t n = 0; n < list[i].nodes.size(); ++n) EXPECT_EQ(list[i].nodes[n].id, static_cast<int>(n));
    }
    EXPECT_EQ(list, builtinPatches()) << "every call builds equal patches";
}

TEST(BuiltinInstrumentsSound, EveryInstrumentBuildsWithoutWarningAndOneNoteSoundsThenFallsSilent) {
    for (const Patch& p : builtinPatches()) {
        SCOPED_TRACE(p.name);
        std::string error;
        PatchGraph built = buildGraph(p, &error);
        ASSERT_NE(built.graph, nullptr) << error;
        EXPECT_TRUE(built.warnings.empty()) << built.warnings.front();
        EXPECT_EQ(built.nodesById.size(), p.nodes.size()) << "every module leads to the output";

        const int note = p.category == "drums" ? 36 : 69;  // the kick, else middle A
        const auto release = static_cast<std::int64_t>(kRate);
        const Signal left = playGraph(built, {noteOn(0, note, 127), noteOff(release, note)}, 12 * release);
        EXPECT_GT(peak(left, 0, release), 0.02);
        EXPECT_LT(peak(left, 0, release), 1.0);
        EXPECT_EQ(peak(left, 11 * release), 0.0) << "silent within ten seconds of letting go, and it stays so";
    }
}

}  // namespace
}  // namespace ostrel::engine
