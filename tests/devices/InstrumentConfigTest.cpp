#include "devices/InstrumentConfig.h"

#include "devices/BuiltinInstruments.h"
#include "engine/WavWriter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace ostrel::engine;
using nlohmann::json;
using ostrel::test::TempDir;

namespace {

const PatchNode& only(const Patch& patch) {
    EXPECT_EQ(patch.nodes.size(), 1u);
    return patch.nodes.front();
}

Patch build(const std::string& instrument, const json& config, const std::filesystem::path& folder,
            std::vector<std::string>* warnings = nullptr) {
    Patch patch;
    std::string error;
    EXPECT_TRUE(makeInstrumentPatch(instrument, config, folder, patch, warnings, &error)) << error;
    return patch;
}

void writeTone(const std::filesystem::path& file) {
    const std::vector<float> samples(480, 0.25f);
    ASSERT_TRUE(writeWavFile(file, samples, 1, 44100, WavFormat::Pcm16, nullptr));
}

std::string skipped(const std::string& who, const std::string& file, const std::string& reason) {
    return who + ": the sound file \"" + file + "\" could not be used (" + reason + "); skipped";
}

}  // namespace

TEST(SamplerConfigTest, AnyNonObjectGivesTheDefaultsWithoutWarnings) {
    for (const json& config : {json(nullptr), json::array({1, 2}), json("text"), json(3)}) {
        std::vector<std::string> warnings;
        const Patch patch = build("Sampler", config, "/samples", &warnings);
        const PatchNode& node = only(patch);
        EXPECT_EQ(node.parameters, (std::map<std::string, double>{{"attack_ms", 2.0},
                                                                  {"gain", 1.0},
                                                                  {"loop", 0.0},
                                                                  {"release_ms", 80.0},
                                                                  {"root_note", 60.0},
                                                                  {"tune_cents", 0.0}}));
        EXPECT_FALSE(node.sample);
        EXPECT_TRUE(warnings.empty());
    }
}

TEST(SamplerConfigTest, ValuesOfTheWrongKindFallBack) {
    EXPECT_EQ(only(build("Sampler", {{"gain", "loud"}}, "")).parameters.at("gain"), 1.0);
    EXPECT_EQ(only(build("Sampler", {{"gain", true}}, "")).parameters.at("gain"), 1.0);
    EXPECT_EQ(only(build("Sampler", {{"gain", 3}}, "")).parameters.at("gain"), 3.0) << "ranges apply later";
    EXPECT_EQ(only(build("Sampler", {{"loop", 1}}, "")).parameters.at("loop"), 0.0);
    EXPECT_EQ(only(build("Sampler", {{"loop", true}}, "")).parameters.at("loop"), 1.0);
}

TEST(SamplerConfigTest, SoundFileIsLoadedFromTheSamplesFolder) {
    TempDir dir;
    writeTone(dir / "tone.wav");
    std::vector<std::string> warnings;
    const Patch patch = build("Sampler", {{"sample", "tone.wav"}}, dir.path(), &warnings);
    ASSERT_TRUE(only(patch).sample);
    EXPECT_EQ(only(patch).sample->frames, 480);
    EXPECT_EQ(only(patch).sample->sampleRate, 44100.0) << "played at the file's own rate";
    EXPECT_TRUE(warnings.empty());
}

TEST(SamplerConfigTest, SoundFilesThatCannotBeUsedAreSkippedWithAReason) {
    TempDir dir;
    std::vector<std::string> warnings;
    build("Sampler", {{"sample", "../secret.wav"}}, dir.path(), &warnings);
    build("Sampler", {{"sample", "kick.wav"}}, "", &warnings);
    build("Sampler", {{"sample", "missing.wav"}}, dir.path(), &warnings);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            skipped("the Sampler", "../secret.wav", "not a plain file name"),
                            skipped("the Sampler", "kick.wav", "no samples folder"),
                            skipped("the Sampler", "missing.wav", "the file \"missing.wav\" could not be opened"),
                        }));
}

TEST(DrumRackConfigTest, MissingOrMalformedPadsGiveThePlaceholderRack) {
    for (const json& config : {json::object(), json{{"pads", "none"}}, json(nullptr)}) {
        const Patch patch = build("Drum Rack", config, "");
        ASSERT_EQ(patch.nodes.size(), 3u);
        EXPECT_EQ(patch.nodes[0].label, "Empty");
    }
}

TEST(DrumRackConfigTest, PadsAreReadInOrderAndTruncated) {
    TempDir dir;
    writeTone(dir / "kick.wav");
    writeTone(dir / "snare.wav");
    const json config = {{"pads", json::array({
                                      json{{"note", 38.9}, {"sample", "snare.wav"}, {"gain", 0.5}},
                                      7,
                                      "text",
                                      json{{"note", 36}, {"sample", "kick.wav"}, {"release_ms", 200}},
                                  })}};
    const Patch patch = build("Drum Rack", config, dir.path());
    ASSERT_GE(patch.nodes.size(), 2u);
    EXPECT_EQ(patch.nodes[0].label, "Pad 38");
    EXPECT_EQ(patch.nodes[0].parameters.at("gain"), 0.5);
    EXPECT_EQ(patch.nodes[1].label, "Pad 36");
    EXPECT_EQ(patch.nodes[1].parameters.at("release_ms"), 200.0);
}

TEST(DrumRackConfigTest, EveryPadsFileIsTriedAndWarnedAboutSeparately) {
    TempDir dir;
    std::vector<std::string> warnings;
    const json config = {{"pads", json::array({
                                      json{{"sample", "gone.wav"}},
                                      json{{"note", 40}, {"sample", "gone.wav"}},
                                  })}};
    build("Drum Rack", config, dir.path(), &warnings);
    const std::string reason = "the file \"gone.wav\" could not be opened";
    EXPECT_EQ(warnings, (std::vector<std::string>{skipped("pad -1", "gone.wav", reason),
                                                  skipped("pad 40", "gone.wav", reason)}));
}

// Regression: a note beyond 32 bits used to be converted blindly into some other note.
TEST(DrumRackConfigTest, NoteThatFitsNoIntegerIsSkippedWithAWarning) {
    TempDir dir;
    writeTone(dir / "kick.wav");
    std::vector<std::string> warnings;
    const json config = {{"pads", json::array({
                                      json{{"note", 1e300}, {"sample", "kick.wav"}},
                                      json{{"note", 4294967332.0}, {"sample", "kick.wav"}},
                                      json{{"note", 36}, {"sample", "kick.wav"}},
                                  })}};
    const Patch patch = build("Drum Rack", config, dir.path(), &warnings);
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_NE(warnings[0].find("; skipped"), std::string::npos);
    EXPECT_EQ(patch.nodes[0].label, "Pad 36");
    EXPECT_EQ(patch.nodes[1].label, "Mix") << "only the one usable pad";
}

TEST(BuiltinConfigTest, FmParamsOverrideOnlyNumbersOnFmModules) {
    const Patch plain = build("FM E-Piano", json::object(), "");
    const Patch tuned = build("FM E-Piano", {{"params", {{"op2_ratio", 3}, {"feedback", "lots"}}}}, "");
    bool sawFm = false;
    for (std::size_t i = 0; i < tuned.nodes.size(); ++i) {
        if (tuned.nodes[i].device != "ostrel.mod.fm") {
            EXPECT_EQ(tuned.nodes[i], plain.nodes[i]);
            continue;
        }
        sawFm = true;
        EXPECT_EQ(tuned.nodes[i].parameters.at("op2_ratio"), 3.0);
        const auto before = plain.nodes[i].parameters.find("feedback");
        const auto after = tuned.nodes[i].parameters.find("feedback");
        EXPECT_EQ(before == plain.nodes[i].parameters.end(), after == tuned.nodes[i].parameters.end());
        if (before != plain.nodes[i].parameters.end()) {
            EXPECT_EQ(after->second, before->second);
        }
    }
    EXPECT_TRUE(sawFm);
}

TEST(BuiltinConfigTest, PatchWithoutFmIgnoresParams) {
    const Patch plain = build("Modular Lead", json::object(), "");
    EXPECT_EQ(build("Modular Lead", {{"params", {{"op2_ratio", 3}}}}, ""), plain);
}

TEST(BuiltinConfigTest, EveryBuiltinIsKnownAndBuildsAsItself) {
    for (const Patch& builtin : builtinPatches()) {
        EXPECT_TRUE(isKnownInstrumentType(builtin.name)) << builtin.name;
        EXPECT_EQ(build(builtin.name, nullptr, ""), builtin);
    }
}

TEST(InstrumentNameTest, UnknownNamesFailAndLeaveTheOutputAlone) {
    Patch out;
    out.name = "kept";
    std::string error;
    EXPECT_FALSE(makeInstrumentPatch("sampler", json::object(), "", out, nullptr, &error));
    EXPECT_EQ(error, "unknown instrument \"sampler\"");
    EXPECT_EQ(out.name, "kept");
    EXPECT_FALSE(isKnownInstrumentType("sampler"));
    EXPECT_FALSE(isKnownInstrumentType("My Own Patch"));
    EXPECT_TRUE(isKnownInstrumentType("Drum Rack"));
    EXPECT_TRUE(isSampleInstrument("Sampler"));
    EXPECT_FALSE(isSampleInstrument("FM E-Piano"));
}

TEST(InstrumentNameTest, PlainFileNames) {
    EXPECT_TRUE(isPlainFileName("Kick 01.wav"));
    EXPECT_FALSE(isPlainFileName(""));
    for (const char* name : {"a/b.wav", "a\\b.wav", "c:b.wav", "..", "a..b.wav", "../b.wav"}) {
        EXPECT_FALSE(isPlainFileName(name)) << name;
    }
}

TEST(InstrumentDefaultsTest, DefaultConfigurations) {
    EXPECT_EQ(defaultInstrumentConfig("Sampler").dump(),
              R"({"attack_ms":2.0,"gain":1.0,"loop":false,"release_ms":80.0,"root_note":60,"sample":"","tune_cents":0.0})");
    EXPECT_EQ(defaultInstrumentConfig("Drum Rack").dump(), R"({"pads":[]})");
    EXPECT_EQ(defaultInstrumentConfig("FM Bell"), json::object());
    EXPECT_EQ(defaultInstrumentConfig("nonsense"), json::object());
}

TEST(InstrumentDefaultsTest, JsonNumberOrTakesOnlyNumbers) {
    const json object = {{"i", 3}, {"u", 4u}, {"r", 2.5}, {"b", true}, {"t", "7"}, {"n", nullptr}};
    EXPECT_EQ(jsonNumberOr(object, "i", -1), 3.0);
    EXPECT_EQ(jsonNumberOr(object, "u", -1), 4.0);
    EXPECT_EQ(jsonNumberOr(object, "r", -1), 2.5);
    for (const char* key : {"b", "t", "n", "missing"}) {
        EXPECT_EQ(jsonNumberOr(object, key, -1), -1.0) << key;
    }
    EXPECT_EQ(jsonNumberOr(json::array({1}), "i", -1), -1.0);
}
