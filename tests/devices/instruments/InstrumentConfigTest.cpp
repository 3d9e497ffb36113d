#include "devices/instruments/InstrumentConfig.h"
#include "devices/instruments/InstrumentSample.h"

#include <nlohmann/json.hpp>

#include "DeviceHarness.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace harness;
using nlohmann::json;
using test::TempDir;

Patch build(const std::string& instrument, const json& config, const std::filesystem::path& folder = {},
            std::vector<std::string>* warnings = nullptr) {
    Patch patch;
    std::string error;
    EXPECT_TRUE(makeInstrumentPatch(instrument, config, folder, patch, warnings, &error)) << error;
    return patch;
}

std::string skipped(const std::string& who, const std::string& file, const std::string& reason) {
    return who + ": the sound file \"" + file + "\" could not be used (" + reason + "); skipped";
}

void writeTone(const std::filesystem::path& file) {
    ASSERT_TRUE(writeWavFile(file, std::vector<float>(480, 0.25f), 1, 44100, WavFormat::Pcm16, nullptr));
}

TEST(SamplerConfig, NumbersOverrideTheDefaultsAndAnythingElseFallsBack) {
    const Knobs set = build("Sampler", {{"gain", 3}, {"loop", true}, {"attack_ms", "slow"}}).nodes.at(0).parameters;
    EXPECT_EQ(set, (Knobs{{"attack_ms", 2.0}, {"gain", 3.0}, {"loop", 1.0}, {"release_ms", 80.0}, {"root_note", 60.0}, {"tune_cents", 0.0}}));
    EXPECT_EQ(build("Sampler", json("text")).nodes.at(0).parameters.at("gain"), 1.0);
}

TEST(SamplerConfig, TheSoundIsLoadedFromTheSamplesFolderOrSkippedWithAReasonInOrder) {
    TempDir dir;
    writeTone(dir / "tone.wav");
    std::vector<std::string> warnings;
    const Patch patch = build("Sampler", {{"sample", "tone.wav"}}, dir.path(), &warnings);
    ASSERT_TRUE(patch.nodes.at(0).sample);
    EXPECT_EQ(patch.nodes[0].sample->sampleRate, 44100.0) << "played at the file's own rate";
    build("Sampler", {{"sample", "../secret.wav"}}, dir.path(), &warnings);
    build("Sampler", {{"sample", "kick.wav"}}, "", &warnings);
    build("Sampler", {{"sample", "missing.wav"}}, dir.path(), &warnings);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            skipped("the Sampler", "../secret.wav", "not a plain file name"),
                            skipped("the Sampler", "kick.wav", "no samples folder"),
                            skipped("the Sampler", "missing.wav",
                                    "the file \"missing.wav\" could not be opened: No such file or directory"),
                        }));
}

// Regression: a note beyond 32 bits was converted blindly into some other note.
TEST(DrumRackConfig, PadsAreReadInOrderAndBadNotesOrFilesAreSkippedWithWarnings) {
    TempDir dir;
    writeTone(dir / "kick.wav");
    std::vector<std::string> warnings;
    const json pads = json::array({json{{"note", 38.9}, {"sample", "kick.wav"}, {"gain", 0.5}}, 7, "text",
                                   json{{"note", 1e300}, {"sample", "kick.wav"}},
                                   json{{"note", 4294967332.0}, {"sample", "kick.wav"}},
                                   json{{"sample", "gone.wav"}}, json{{"note", 40}, {"sample", "gone.wav"}},
                                   json{{"note", 36}, {"sample", "kick.wav"}, {"release_ms", 200}}});
    const Patch patch = build("Drum Rack", {{"pads", pads}}, dir.path(), &warnings);
    ASSERT_GE(patch.nodes.size(), 3u);
    EXPECT_EQ(patch.nodes[0].label, "Pad 38");
    EXPECT_EQ(patch.nodes[0].parameters.at("gain"), 0.5);
    EXPECT_EQ(patch.nodes[1].label, "Pad 36");
    EXPECT_EQ(patch.nodes[1].parameters.at("release_ms"), 200.0);
    EXPECT_EQ(patch.nodes[2].label, "Mix") << "only the two usable pads";
    ASSERT_EQ(warnings.size(), 4u);
    EXPECT_NE(warnings[0].find("; skipped"), std::string::npos);
    EXPECT_NE(warnings[1].find("; skipped"), std::string::npos);
    const std::string reason = "the file \"gone.wav\" could not be opened: No such file or directory";
    EXPECT_EQ(warnings[2], skipped("pad -1", "gone.wav", reason));
    EXPECT_EQ(warnings[3], skipped("pad 40", "gone.wav", reason));
    EXPECT_EQ(build("Drum Rack", {{"pads", "none"}}).nodes.at(0).label, "Empty");
}

TEST(BuiltinConfig, EveryBuiltinBuildsAsItselfAndParamsSetOnlyNumbersOnFmModules) {
    for (const Patch& patch : builtinPatches()) EXPECT_EQ(build(patch.name, nullptr), patch);
    const json params = {{"params", {{"op2_ratio", 3}, {"feedback", "lots"}}}};
    Patch expected = builtin("FM E-Piano");
    expected.nodes[0].parameters["op2_ratio"] = 3;
    EXPECT_EQ(build("FM E-Piano", params), expected);
    EXPECT_EQ(build("Modular Lead", params), builtin("Modular Lead"));
}

TEST(InstrumentNames, UnknownNamesFailAndLeaveTheOutputAloneAndOnlyPlainFileNamesPass) {
    Patch out;
    out.name = "kept";
    std::string error;
    EXPECT_FALSE(makeInstrumentPatch("sampler", json::object(), "", out, nullptr, &error));
    EXPECT_EQ(error, "unknown instrument \"sampler\"");
    EXPECT_EQ(out.name, "kept");
    EXPECT_TRUE(isKnownInstrumentType("Drum Rack") && isKnownInstrumentType("FM Bell") && !isKnownInstrumentType("sampler"));
    EXPECT_TRUE(isPlainFileName("Kick 01.wav"));
    for (const char* name : {"a/b.wav", "a\\b.wav", "c:b.wav", "a..b.wav"}) EXPECT_FALSE(isPlainFileName(name)) << name;
}

TEST(InstrumentDefaults, SamplerAndDrumRackHaveDefaultsAndAnyOtherNameAnEmptyObject) {
    EXPECT_EQ(defaultInstrumentConfig("Sampler").dump(),
              R"({"attack_ms":2.0,"gain":1.0,"loop":false,"release_ms":80.0,"root_note":60,"sample":"","tune_cents":0.0})");
    EXPECT_EQ(defaultInstrumentConfig("Drum Rack").dump(), R"({"pads":[]})");
    EXPECT_EQ(defaultInstrumentConfig("nonsense"), json::object());
}

}  // namespace
}  // namespace ostrel::engine
