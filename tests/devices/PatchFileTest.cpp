#include "devices/PatchFile.h"

#include "devices/BuiltinInstruments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;
using Knobs = std::map<std::string, double>;

// Beside this file, whatever folder the build names for test data.
const std::filesystem::path kPatches = std::filesystem::path(__FILE__).parent_path() / "data" / "patches";
const char* const kNewerWarning = "this patch was saved by a newer version of Ostrel; unknown parts are ignored";

// A built-in instrument as the user would save it under a name of their own.
Patch myLead() {
    for (Patch patch : builtinPatches()) {
        if (patch.name == "Modular Lead") {
            patch.name = "My Lead \u2013 warm";
            return patch;
        }
    }
    ADD_FAILURE() << "no built-in named Modular Lead";
    return {};
}

// A patch that differs from the defaults everywhere a reader could lose something.
Patch unusualPatch() {
    Patch patch;
    patch.name = "Drums \u00e9t\u00e9 \xf0\x9f\xa5\x81";
    patch.category = "drums";
    patch.voices = 1;
    patch.nodes.emplace_back(-7, "ostrel.mod.noise", "", Knobs{});
    patch.nodes.emplace_back(2147483647, "ostrel.mod.vca", "Level",
                             Knobs{{"level", 1.0 / 3.0}, {"tiny", 1e-300}, {"huge", 1.5e300}, {"neg", -0.1}});
    patch.connections.push_back({-7, 2147483647, 3});
    patch.connections.push_back({99, -2147483648, -1});
    patch.output = 2147483647;
    return patch;
}

Patch parsed(const std::string& text) {
    Patch patch;
    std::string error;
    EXPECT_TRUE(parsePatch(text, patch, &error, nullptr)) << error << "\n" << text;
    return patch;
}

std::string parseError(const std::string& text) {
    Patch patch;
    std::string error;
    EXPECT_FALSE(parsePatch(text, patch, &error, nullptr)) << text;
    return error;
}

// A minimal file with one extra top-level member text spliced in.
std::string fileWith(const std::string& members) {
    return R"({"format": "ostrel-patch", "nodes": [)" + std::string("]") + (members.empty() ? "" : ", " + members) + "}";
}

std::string fileWithNodes(const std::string& nodes, const std::string& more = "") {
    return R"({"format": "ostrel-patch", "nodes": [)" + nodes + "]" + (more.empty() ? "" : ", " + more) + "}";
}

// --- writing ---

TEST(PatchFileWriting, ABuiltInShapeSavedUnderANewNameGivesTheGoldenBytes) {
    EXPECT_EQ(serializePatch(myLead()), readFile(kPatches / "my-lead.ostpatch"));
}

TEST(PatchFileWriting, SaveWritesExactlyTheSerialisedText) {
    TempDir dir;
    std::string error = "untouched";
    ASSERT_TRUE(savePatchFile(dir / "lead.ostpatch", myLead(), &error));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(readFile(dir / "lead.ostpatch"), readFile(kPatches / "my-lead.ostpatch"));
    EXPECT_FALSE(std::filesystem::exists(dir / "lead.ostpatch.tmp"));
}

TEST(PatchFileWriting, DefaultVoicesEmptyLabelsAndNoCablesAreLeftOutButOutputIsAlwaysWritten) {
    Patch patch;
    patch.name = "Bare";
    patch.nodes.emplace_back(0, "ostrel.mod.vco", "", Knobs{});
    EXPECT_EQ(serializePatch(patch),
              "{\n"
              "  \"category\": \"synth\",\n"
              "  \"connections\": [],\n"
              "  \"format\": \"ostrel-patch\",\n"
              "  \"format_version\": 1,\n"
              "  \"name\": \"Bare\",\n"
              "  \"nodes\": [\n"
              "    {\n"
              "      \"device\": \"ostrel.mod.vco\",\n"
              "      \"id\": 0,\n"
              "      \"parameters\": {}\n"
              "    }\n"
              "  ],\n"
              "  \"output\": -1\n"
              "}\n");
}

TEST(PatchFileWriting, VoicesOtherThanEightAreWritten) {
    Patch patch;
    patch.voices = 1;
    EXPECT_NE(serializePatch(patch).find("\n  \"voices\": 1\n"), std::string::npos);
}

TEST(PatchFileWriting, KnobValuesAreRealsInShortestRoundTripForm) {
    Patch patch;
    patch.nodes.emplace_back(0, "ostrel.mod.vcf", "", Knobs{{"a", 1200.0}, {"b", 0.5}, {"c", 0.1}, {"d", -24.0}});
    const std::string text = serializePatch(patch);
    EXPECT_NE(text.find("\"a\": 1200.0,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"b\": 0.5,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"c\": 0.1,"), std::string::npos) << text;
    EXPECT_NE(text.find("\"d\": -24.0\n"), std::string::npos) << text;
}

TEST(PatchFileWriting, SavingTheSamePatchTwiceGivesTheSameBytes) {
    EXPECT_EQ(serializePatch(unusualPatch()), serializePatch(unusualPatch()));
}

TEST(PatchFileWriting, TextOutsideAsciiIsWrittenAsItIs) {
    const std::string text = serializePatch(myLead());
    EXPECT_NE(text.find("\"name\": \"My Lead \xe2\x80\x93 warm\""), std::string::npos);
}

// Regression: text that is not UTF-8 made the JSON library throw out of the save.
TEST(PatchFileWriting, ANameThatIsNotUtf8FailsTheSaveWithAReasonAndKeepsTheOldFile) {
    TempDir dir;
    writeFile(dir / "p.ostpatch", "old");
    Patch patch = myLead();
    patch.name = "bad \xff name";
    std::string error;
    EXPECT_FALSE(savePatchFile(dir / "p.ostpatch", patch, &error));
    EXPECT_EQ(error, "the patch name is not valid UTF-8 text");
    EXPECT_EQ(readFile(dir / "p.ostpatch"), "old");
    EXPECT_THROW(serializePatch(patch), std::invalid_argument);
}

TEST(PatchFileWriting, EveryTextThatIsNotUtf8IsRefusedWithTheModuleNamed) {
    const auto reasonFor = [](Patch patch) {
        std::string error;
        TempDir dir;
        EXPECT_FALSE(savePatchFile(dir / "p.ostpatch", patch, &error));
        EXPECT_FALSE(savePatchFile(dir / "p.ostpatch", patch, nullptr));
        EXPECT_FALSE(std::filesystem::exists(dir / "p.ostpatch"));
        return error;
    };
    Patch patch = myLead();
    patch.category = "\xc3";
    EXPECT_EQ(reasonFor(patch), "the patch category is not valid UTF-8 text");
    patch = myLead();
    patch.nodes[3].label = "Env \xed\xa0\x80";  // an encoded surrogate is not UTF-8 either
    EXPECT_EQ(reasonFor(patch), "the label of module 3 is not valid UTF-8 text");
    patch = myLead();
    patch.nodes[2].device = "ostrel.mod.\x80";
    EXPECT_EQ(reasonFor(patch), "the device of module 2 is not valid UTF-8 text");
    patch = myLead();
    patch.nodes[4].parameters["\xfe"] = 1.0;
    EXPECT_EQ(reasonFor(patch), "a knob id of module 4 is not valid UTF-8 text");
}

// Regression: JSON has no infinity or NaN, so the library wrote null, and the file that was
// reported saved could never be loaded again.
TEST(PatchFileWriting, AKnobValueThatIsNotFiniteFailsTheSave) {
    for (double value : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()}) {
        Patch patch = myLead();
        patch.nodes[4].parameters["cutoff_hz"] = value;
        TempDir dir;
        std::string error;
        EXPECT_FALSE(savePatchFile(dir / "p.ostpatch", patch, &error));
        EXPECT_EQ(error, "knob \"cutoff_hz\" of module 4 is not a finite number");
    }
}

// Regression: the reader refuses two modules with one id, so such a save could never load.
TEST(PatchFileWriting, TwoModulesWithOneIdFailTheSave) {
    Patch patch = myLead();
    patch.nodes[5].id = 2;
    TempDir dir;
    std::string error;
    EXPECT_FALSE(savePatchFile(dir / "p.ostpatch", patch, &error));
    EXPECT_EQ(error, "two modules share the id 2");
}

TEST(PatchFileWriting, AWriterFailureFailsTheSaveWithTheWritersReason) {
    TempDir dir;
    writeFile(dir / "plain-file", "x");
    std::string error;
    EXPECT_FALSE(savePatchFile(dir / "plain-file" / "p.ostpatch", myLead(), &error));
    EXPECT_FALSE(error.empty());
}

// --- round trips ---

TEST(PatchFileRoundTrip, LoadingTheGoldenFileAndSavingItGivesTheSameBytes) {
    Patch patch;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadPatchFile(kPatches / "my-lead.ostpatch", patch, &error, &warnings)) << error;
    EXPECT_TRUE(warnings.empty());
    EXPECT_EQ(patch, myLead());
    TempDir dir;
    ASSERT_TRUE(savePatchFile(dir / "again.ostpatch", patch, &error)) << error;
    EXPECT_EQ(readFile(dir / "again.ostpatch"), readFile(kPatches / "my-lead.ostpatch"));
}

TEST(PatchFileRoundTrip, AnUnusualPatchReadsBackEqual) {
    const Patch original = unusualPatch();
    const Patch back = parsed(serializePatch(original));
    EXPECT_EQ(back, original);
    EXPECT_EQ(serializePatch(back), serializePatch(original));
}

TEST(PatchFileRoundTrip, KnobValuesSurviveBitForBit) {
    Patch original;
    Knobs knobs;
    for (double v : {0.1, 1.0 / 3.0, 2.0 / 3.0, 440.0 * 1.0594630943592953, 5e-324, 1.7976931348623157e308, -1e-7})
        knobs["k" + std::to_string(knobs.size())] = v;
    original.nodes.emplace_back(0, "ostrel.mod.vco", "", std::move(knobs));
    EXPECT_EQ(parsed(serializePatch(original)), original);
}

// --- reading ---

TEST(PatchFileReading, VoicesAreCutTowardZeroThenClampedToOneToEight) {
    const std::map<std::string, int> cases{
        {"0", 1}, {"12", 8}, {"-5", 1}, {"4.7", 4}, {"1.9", 1}, {"0.5", 1}, {"8", 8},
        // Beyond 32 bits: clamped, never wrapped or undefined.
        {"1e20", 8}, {"-1e20", 1}, {"4294967297", 8}, {"18446744073709551615", 8},
        {"-9223372036854775808", 1}, {"1e308", 8}};
    for (const auto& [value, expected] : cases)
        EXPECT_EQ(parsed(fileWith("\"voices\": " + value)).voices, expected) << value;
    EXPECT_EQ(parsed(fileWith("")).voices, 8);
}

TEST(PatchFileReading, MissingNameReadsEmptyAndEmptyCategoryReadsSynth) {
    const Patch patch = parsed(fileWith(R"("category": "")"));
    EXPECT_EQ(patch.name, "");
    EXPECT_EQ(patch.category, "synth");
    EXPECT_EQ(parsed(fileWith("")).category, "synth");
    EXPECT_EQ(parsed(fileWith(R"("category": "bass")")).category, "bass");
}

TEST(PatchFileReading, IdsMustBeJsonIntegersAndMayBeNegative) {
    EXPECT_EQ(parseError(fileWithNodes(R"({"id": 3.0, "device": "ostrel.mod.vco"})")),
              "a module entry needs an integer \"id\" and a \"device\" name");
    EXPECT_EQ(parsed(fileWithNodes(R"({"id": 3, "device": "ostrel.mod.vco"})")).nodes.at(0).id, 3);
    EXPECT_EQ(parsed(fileWithNodes(R"({"id": -4, "device": "ostrel.mod.vco"})")).nodes.at(0).id, -4);
    EXPECT_EQ(parsed(fileWithNodes(R"({"id": -2147483648, "device": "x"})")).nodes.at(0).id, -2147483648);
    EXPECT_EQ(parsed(fileWithNodes(R"({"id": 2147483647, "device": "x"})")).nodes.at(0).id, 2147483647);
}

// Regression: an id past 32 bits wrapped, so 4294967296 became module 0 and took its cables.
TEST(PatchFileReading, AnIdOutsideThirtyTwoBitsIsRefusedInsteadOfWrapping) {
    for (const char* id : {"4294967296", "2147483648", "-2147483649", "18446744073709551615", "-9223372036854775808"})
        EXPECT_EQ(parseError(fileWithNodes(std::string(R"({"id": )") + id + R"(, "device": "x"})")),
                  "a module entry needs an integer \"id\" and a \"device\" name")
            << id;
}

TEST(PatchFileReading, AModuleNeedsAnObjectWithIdAndDeviceText) {
    for (const char* node : {R"(7)", R"("vco")", R"([])", R"(null)", R"({"device": "x"})", R"({"id": 1})",
                             R"({"id": 1, "device": 5})", R"({"id": "1", "device": "x"})", R"({"id": true, "device": "x"})",
                             R"({"id": null, "device": "x"})"})
        EXPECT_EQ(parseError(fileWithNodes(node)), "a module entry needs an integer \"id\" and a \"device\" name")
            << node;
}

TEST(PatchFileReading, TwoModulesWithOneIdAreRefused) {
    EXPECT_EQ(parseError(fileWithNodes(R"({"id": 2, "device": "a"}, {"id": 5, "device": "b"}, {"id": 2, "device": "c"})")),
              "two modules share the id 2");
}

TEST(PatchFileReading, KnobValuesMustBeNumbers) {
    EXPECT_EQ(parseError(fileWithNodes(R"({"id": 4, "device": "ostrel.mod.vcf", "parameters": {"cutoff_hz": "high"}})")),
              "knob \"cutoff_hz\" of module 4 must be a number");
    EXPECT_EQ(parseError(fileWithNodes(R"({"id": -1, "device": "x", "parameters": {"a": 1, "on": true}})")),
              "knob \"on\" of module -1 must be a number");
    EXPECT_EQ(parseError(fileWithNodes(R"({"id": 0, "device": "x", "parameters": {"a": null}})")),
              "knob \"a\" of module 0 must be a number");
    const Patch patch = parsed(fileWithNodes(R"({"id": 0, "device": "x", "parameters": {"cutoff_hz": 1200}})"));
    EXPECT_EQ(patch.nodes.at(0).parameters, (Knobs{{"cutoff_hz", 1200.0}}));
    EXPECT_NE(serializePatch(patch).find("\"cutoff_hz\": 1200.0"), std::string::npos);
}

TEST(PatchFileReading, ParametersThatAreNotAnObjectMeanNoKnobs) {
    const Patch patch = parsed(fileWithNodes(R"({"id": 0, "device": "x", "label": "L", "parameters": [1, 2]})"));
    EXPECT_TRUE(patch.nodes.at(0).parameters.empty());
    EXPECT_EQ(patch.nodes.at(0).label, "L");
    EXPECT_EQ(patch.nodes.at(0).sample, nullptr);
}

TEST(PatchFileReading, CablesDefaultTheirSlotAndCutFractionsTowardZero) {
    const Patch patch = parsed(fileWithNodes(
        R"({"id": 0, "device": "x"})", R"("connections": [{"from": 0, "to": 1}, {"from": 2.9, "to": -2.9, "slot": 1.5}])"));
    ASSERT_EQ(patch.connections.size(), 2u);
    EXPECT_EQ(patch.connections[0], (PatchCable{0, 1, 0}));
    EXPECT_EQ(patch.connections[1], (PatchCable{2, -2, 1}));
}

TEST(PatchFileReading, ReferencesToModulesThatDoNotExistAreReadWithoutComplaint) {
    std::vector<std::string> warnings;
    Patch patch;
    ASSERT_TRUE(parsePatch(fileWithNodes("", R"("connections": [{"from": 40, "to": 41, "slot": 9}], "output": 99)"),
                           patch, nullptr, &warnings));
    EXPECT_EQ(patch.output, 99);
    EXPECT_EQ(patch.connections.at(0), (PatchCable{40, 41, 9}));
    EXPECT_TRUE(warnings.empty());
}

TEST(PatchFileReading, ACableNeedsAnObjectWithFromAndTo) {
    for (const char* cable : {R"(3)", R"([0, 1])", R"({"from": 0})", R"({"to": 0})", R"({"from": "a", "to": 1})",
                              R"({"from": 0, "to": false})", R"({"from": null, "to": 1})"})
        EXPECT_EQ(parseError(fileWith(std::string(R"("connections": [)") + cable + "]")), "a cable needs \"from\" and \"to\"")
            << cable;
}

// Regression: a cable end past 32 bits wrapped onto another module.
TEST(PatchFileReading, ACableEndOutsideThirtyTwoBitsIsRefusedInsteadOfWrapping) {
    for (const char* cable : {R"({"from": 4294967297, "to": 1})", R"({"from": 0, "to": 1e20})",
                              R"({"from": -2147483649, "to": 1})", R"({"from": 0, "to": 18446744073709551615})"})
        EXPECT_EQ(parseError(fileWith(std::string(R"("connections": [)") + cable + "]")), "a cable needs \"from\" and \"to\"")
            << cable;
    EXPECT_EQ(parseError(fileWith(R"("connections": [{"from": 0, "to": 1, "slot": 4294967296}])")),
              "a cable's \"slot\" is out of range");
}

TEST(PatchFileReading, ConnectionsThatAreNotAnArrayMeanNoCables) {
    EXPECT_TRUE(parsed(fileWith(R"("connections": {"from": 0, "to": 1})")).connections.empty());
    EXPECT_TRUE(parsed(fileWith(R"("connections": null)")).connections.empty());
}

TEST(PatchFileReading, OutputDefaultsToNoneAndAFractionIsCut) {
    EXPECT_EQ(parsed(fileWith("")).output, -1);
    EXPECT_EQ(parsed(fileWith(R"("output": 3.7)")).output, 3);
    EXPECT_EQ(parseError(fileWith(R"("output": 4294967296)")), "\"output\" is out of range");
}

TEST(PatchFileReading, VersionZeroOrMissingReadsLikeOneWithNoWarning) {
    for (const std::string& members : {std::string(""), std::string(R"("format_version": 0)"),
                                       std::string(R"("format_version": 1)"), std::string(R"("format_version": -3)")}) {
        std::vector<std::string> warnings;
        Patch patch;
        EXPECT_TRUE(parsePatch(fileWith(members), patch, nullptr, &warnings)) << members;
        EXPECT_TRUE(warnings.empty()) << members;
    }
}

// Regression: 4294967297 wrapped to version 1 and lost the warning.
TEST(PatchFileReading, ANewerVersionReadsWithTheWarningEvenPastThirtyTwoBits) {
    for (const char* version : {"2", "3", "4294967297", "1e300", "2.0"}) {
        std::vector<std::string> warnings{"earlier"};
        Patch patch;
        EXPECT_TRUE(parsePatch(fileWith(std::string(R"("format_version": )") + version), patch, nullptr, &warnings));
        EXPECT_EQ(warnings, (std::vector<std::string>{"earlier", kNewerWarning})) << version;
    }
    Patch patch;
    EXPECT_TRUE(parsePatch(fileWith(R"("format_version": 3)"), patch, nullptr, nullptr));
}

TEST(PatchFileReading, ANewerFileLosesItsUnknownMembersAndSavesAsVersionOne) {
    Patch patch;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadPatchFile(kPatches / "newer-version.ostpatch", patch, nullptr, &warnings));
    EXPECT_EQ(warnings, std::vector<std::string>{kNewerWarning});
    EXPECT_EQ(patch.name, "From the future");
    EXPECT_EQ(patch.category, "pad");
    ASSERT_EQ(patch.nodes.size(), 1u);
    EXPECT_EQ(patch.nodes[0].parameters, (Knobs{{"level", 0.5}}));
    const std::string saved = serializePatch(patch);
    EXPECT_NE(saved.find("\"format_version\": 1,"), std::string::npos);
    EXPECT_EQ(saved.find("macros"), std::string::npos);
    EXPECT_EQ(saved.find("colour"), std::string::npos);
}

TEST(PatchFileReading, AWarningGivenBeforeAFailureStaysInTheList) {
    std::vector<std::string> warnings;
    Patch patch;
    std::string error;
    EXPECT_FALSE(parsePatch(R"({"format": "ostrel-patch", "format_version": 2})", patch, &error, &warnings));
    EXPECT_EQ(error, "the patch has no list of modules");
    EXPECT_EQ(warnings, std::vector<std::string>{kNewerWarning});
}

// Values of a kind the reader cannot use must fail the load, not throw out of it.
TEST(PatchFileReading, AValueOfTheWrongKindFailsTheLoadWithAMessage) {
    const std::map<std::string, std::string> cases{
        {R"("name": 5)", "\"name\" must be text"},
        {R"("name": null)", "\"name\" must be text"},
        {R"("category": ["pad"])", "\"category\" must be text"},
        {R"("voices": "8")", "\"voices\" must be a number"},
        {R"("voices": true)", "\"voices\" must be a number"},
        {R"("output": "last")", "\"output\" must be a number"},
        {R"("format_version": "1")", "\"format_version\" must be a number"},
        {R"("connections": [{"from": 0, "to": 1, "slot": "a"}])", "a cable's \"slot\" must be a number"},
    };
    for (const auto& [members, message] : cases) {
        Patch patch;
        std::string error;
        EXPECT_NO_THROW(EXPECT_FALSE(parsePatch(fileWith(members), patch, &error, nullptr)) << members);
        EXPECT_EQ(error, message) << members;
    }
    EXPECT_EQ(parseError(fileWithNodes(R"({"id": 6, "device": "x", "label": 12})")), "the label of module 6 must be text");
    EXPECT_EQ(parseError(R"({"format": 1, "nodes": []})"), "this is not a Ostrel patch file");
}

TEST(PatchFileReading, AFailedReadLeavesThePatchAndWarningsUntouched) {
    const Patch before = myLead();
    Patch patch = before;
    std::string error;
    EXPECT_FALSE(parsePatch(fileWithNodes(R"({"id": 0, "device": "a"}, {"id": 0, "device": "b"})",
                                          R"("name": "Replaced", "voices": 2)"),
                            patch, &error, nullptr));
    EXPECT_EQ(patch, before);
    EXPECT_FALSE(parsePatch("", patch, nullptr, nullptr));
    EXPECT_EQ(patch, before);
}

TEST(PatchFileReading, ASuccessfulReadReplacesEverythingAndLeavesTheErrorAlone) {
    Patch patch = myLead();
    std::string error = "untouched";
    ASSERT_TRUE(parsePatch(fileWith(""), patch, &error, nullptr));
    EXPECT_EQ(error, "untouched");
    EXPECT_EQ(patch, Patch{});
}

// --- the failure messages, each from a file made for it ---

TEST(PatchFileMessages, EveryFailureHasItsOwnMessage) {
    const std::map<std::string, std::string> cases{
        {"broken-json.ostpatch", "the file is not valid JSON"},
        {"empty.ostpatch", "the file is not valid JSON"},
        {"top-level-array.ostpatch", "the file is not valid JSON"},
        {"project-format.ostpatch", "this is not a Ostrel patch file"},
        {"no-nodes.ostpatch", "the patch has no list of modules"},
        {"fractional-id.ostpatch", "a module entry needs an integer \"id\" and a \"device\" name"},
        {"shared-id.ostpatch", "two modules share the id 2"},
        {"text-knob.ostpatch", "knob \"cutoff_hz\" of module 4 must be a number"},
        {"cable-without-to.ostpatch", "a cable needs \"from\" and \"to\""},
    };
    for (const auto& [file, message] : cases) {
        Patch patch = myLead();
        std::string error;
        EXPECT_FALSE(loadPatchFile(kPatches / file, patch, &error, nullptr)) << file;
        EXPECT_EQ(error, message) << file;
        EXPECT_EQ(patch, myLead()) << file;
    }
}

TEST(PatchFileMessages, AFileThatCannotBeOpenedIsNamedInTheMessage) {
    TempDir dir;
    Patch patch;
    std::string error;
    EXPECT_FALSE(loadPatchFile(dir / "nowhere.ostpatch", patch, &error, nullptr));
    EXPECT_EQ(error, "cannot open " + (dir / "nowhere.ostpatch").string());
    EXPECT_FALSE(loadPatchFile(dir.path(), patch, &error, nullptr));
    EXPECT_EQ(error, "cannot open " + dir.path().string());
    EXPECT_FALSE(loadPatchFile(dir / "nowhere.ostpatch", patch, nullptr, nullptr));
}

TEST(PatchFileMessages, JsonWithCommentsOrTrailingGarbageIsNotValid) {
    EXPECT_EQ(parseError("// mine\n" + fileWith("")), "the file is not valid JSON");
    EXPECT_EQ(parseError(fileWith("") + " x"), "the file is not valid JSON");
    EXPECT_EQ(parseError("{\"format\": \"ostrel-patch\", \"name\": \"\xff\", \"nodes\": []}"), "the file is not valid JSON");
    EXPECT_EQ(parseError("\"ostrel-patch\""), "the file is not valid JSON");
}

}  // namespace
}  // namespace ostrel::engine
