#include "devices/patches/PatchFile.h"

#include "DeviceHarness.h"
#include "support/AllocationCounter.h"
#include "support/HostileFiles.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace harness;
using test::readFile;
using test::TempDir;

// The build names the data folder in full: __FILE__ may be relative to the build folder,
// which is not where ctest runs the tests.
const std::filesystem::path kPatches = std::filesystem::path(OSTREL_TEST_DATA_DIR) / "patches";
const char* const kNewerWarning = "this patch was saved by a newer version of Ostrel; unknown parts are ignored";
const char* const kBadModule = "a module entry needs an integer \"id\" and a \"device\" name";
const char* const kBadCable = "a cable needs \"from\" and \"to\"";

// A built-in instrument as the user would save it under a name of their own.
Patch myLead() {
    Patch patch = builtin("Modular Lead");
    patch.name = "My Lead \u2013 warm";
    return patch;
}

// Parses `text`; returns the error, or "" with the patch in `out`.
std::string parse(const std::string& text, Patch* out = nullptr, std::vector<std::string>* warnings = nullptr) {
    Patch patch;
    std::string error;
    const bool ok = parsePatch(text, patch, &error, warnings);
    EXPECT_EQ(ok, error.empty()) << text;
    if (out != nullptr) *out = patch;
    return error;
}

Patch parsed(const std::string& text) {
    Patch patch;
    EXPECT_EQ(parse(text, &patch), "") << text;
    return patch;
}

// A minimal file with the given modules and further top-level members.
std::string file(const std::string& members, const std::string& nodes = "") {
    return R"({"format": "ostrel-patch", "nodes": [)" + nodes + "]" + (members.empty() ? "" : ", " + members) + "}";
}

std::string saveError(const Patch& patch) {
    TempDir dir;
    std::string error;
    EXPECT_FALSE(savePatchFile(dir / "p.ostpatch", patch, &error));
    EXPECT_FALSE(std::filesystem::exists(dir / "p.ostpatch"));
    return error;
}

TEST(PatchFileWriting, ABuiltInSavedUnderANewNameGivesTheGoldenBytesAndLoadsBackToThem) {
    const std::string golden = readFile(kPatches / "my-lead.ostpatch");
    EXPECT_EQ(serializePatch(myLead()), golden);
    Patch patch;
    ASSERT_TRUE(loadPatchFile(kPatches / "my-lead.ostpatch", patch, nullptr, nullptr));
    EXPECT_EQ(patch, myLead());
    TempDir dir;
    ASSERT_TRUE(savePatchFile(dir / "again.ostpatch", patch, nullptr));
    EXPECT_EQ(readFile(dir / "again.ostpatch"), golden);
}

TEST(PatchFileRoundTrip, AnUnusualPatchAndExtremeRealsReadBackEqualAndDefaultsAreLeftOut) {
    Patch patch;
    patch.name = "Drums \u00e9t\u00e9 \xf0\x9f\xa5\x81";
    patch.voices = 1;
    patch.nodes.emplace_back(-7, "ostrel.mod.noise", "", Knobs{});
    patch.nodes.emplace_back(INT32_MAX, "ostrel.mod.vca", "Level",
                             Knobs{{"k0", 1.0 / 3.0}, {"k1", 5e-324}, {"k2", 1200.0}, {"k3", 1.7976931348623157e308}});
    patch.connections = {{-7, INT32_MAX, 3}, {99, INT32_MIN, -1}};
    patch.output = INT32_MAX;
    const std::string text = serializePatch(patch);
    EXPECT_EQ(parsed(text), patch);
    EXPECT_NE(text.find("\"k2\": 1200.0,"), std::string::npos) << "a real keeps its fraction";
    EXPECT_NE(text.find("\n  \"voices\": 1\n"), std::string::npos);
    EXPECT_EQ(text.find("\"label\": \"\""), std::string::npos) << "an empty label is left out";
    patch.voices = 8;
    EXPECT_EQ(serializePatch(patch).find("voices"), std::string::npos);
}

// Regressions: text that is not UTF-8 made the JSON library throw out of the save; a
// value that is not finite was written as null; two modules with one id were saved;
// none of these files could ever be loaded again.
TEST(PatchFileWriting, WhatCouldNotBeLoadedAgainFailsTheSaveWithAReason) {
    const std::vector<std::pair<void (*)(Patch&), std::string>> cases = {
        {[](Patch& p) { p.name = "bad \xff name"; }, "the patch name is not valid UTF-8 text"},
        {[](Patch& p) { p.nodes[3].label = "Env \xed\xa0\x80"; }, "the label of module 3 is not valid UTF-8 text"},
        {[](Patch& p) { p.nodes[4].parameters["cutoff_hz"] = NAN; }, "knob \"cutoff_hz\" of module 4 is not a finite number"},
        {[](Patch& p) { p.nodes[5].id = 2; }, "two modules share the id 2"},
    };
    for (const auto& [breakIt, reason] : cases) {
        Patch patch = myLead();
        breakIt(patch);
        EXPECT_EQ(saveError(patch), reason);
    }
}

// Regression: numbers beyond 32 bits were cast blindly (undefined or wrapped).
TEST(PatchFileReading, VoicesAreCutTowardZeroThenClampedToOneToEightEvenPastThirtyTwoBits) {
    const std::map<std::string, int> cases{{"0", 1},    {"12", 8},   {"-5", 1},         {"4.7", 4},
                                           {"1e20", 8}, {"-1e20", 1}, {"4294967297", 8}, {"18446744073709551615", 8}};
    for (const auto& [value, expected] : cases) EXPECT_EQ(parsed(file("\"voices\": " + value)).voices, expected) << value;
    EXPECT_EQ(parsed(file("")).voices, 8);
}

// Regression: an id or cable end past 32 bits wrapped, so 4294967296 became module 0.
TEST(PatchFileReading, IdsAndCableEndsAreIntegersThatFitThirtyTwoBits) {
    EXPECT_EQ(parsed(file("", R"({"id": -2147483648, "device": "x"})")).nodes.at(0).id, INT32_MIN);
    for (const char* node : {R"({"device": "x"})", R"({"id": "1", "device": "x"})", R"({"id": 3.0, "device": "x"})",
                             R"({"id": 4294967296, "device": "x"})", R"({"id": -2147483649, "device": "x"})"})
        EXPECT_EQ(parse(file("", node)), kBadModule) << node;
    for (const char* cable : {R"({"from": 0})", R"({"from": "a", "to": 1})", R"({"from": 4294967297, "to": 1})",
                              R"({"from": 0, "to": 1e20})"})
        EXPECT_EQ(parse(file(std::string(R"("connections": [)") + cable + "]")), kBadCable) << cable;
}

// Regression: a value of a kind the reader cannot use threw out of the load.
TEST(PatchFileReading, AValueOfTheWrongKindFailsTheLoadWithAMessage) {
    const std::map<std::string, std::string> cases{
        {file(R"("name": 5)"), "\"name\" must be text"},
        {file(R"("voices": "8")"), "\"voices\" must be a number"},
        {file(R"("connections": [{"from": 0, "to": 1, "slot": "a"}])"), "a cable's \"slot\" must be a number"},
        {file("", R"({"id": -1, "device": "x", "parameters": {"a": 1, "on": true}})"), "knob \"on\" of module -1 must be a number"},
    };
    for (const auto& [text, message] : cases) EXPECT_NO_THROW(EXPECT_EQ(parse(text), message) << text);
}

// Regression: version 4294967297 wrapped to 1 and lost the warning.
TEST(PatchFileReading, ANewerVersionReadsWithTheWarningAndLosesWhatItDoesNotKnow) {
    std::vector<std::string> warnings;
    EXPECT_EQ(parse(file(R"("format_version": 4294967297)"), nullptr, &warnings), "");
    EXPECT_EQ(warnings, std::vector<std::string>{kNewerWarning});
    Patch patch;
    warnings.clear();
    ASSERT_TRUE(loadPatchFile(kPatches / "newer-version.ostpatch", patch, nullptr, &warnings));
    EXPECT_EQ(warnings, std::vector<std::string>{kNewerWarning});
    EXPECT_EQ(patch.nodes.at(0).parameters, (Knobs{{"level", 0.5}}));
    const std::string saved = serializePatch(patch);
    EXPECT_NE(saved.find("\"format_version\": 1,"), std::string::npos);
    EXPECT_EQ(saved.find("macros"), std::string::npos);
}

TEST(PatchFileMessages, EveryFailureFromAFileMadeForItHasItsMessageAndLeavesThePatchAlone) {
    const std::map<std::string, std::string> cases{
        {"broken-json.ostpatch", "the file is not valid JSON"},
        {"empty.ostpatch", "the file is not valid JSON"},
        {"top-level-array.ostpatch", "the file is not valid JSON"},
        {"project-format.ostpatch", "this is not a Ostrel patch file"},
        {"no-nodes.ostpatch", "the patch has no list of modules"},
        {"fractional-id.ostpatch", kBadModule},
        {"shared-id.ostpatch", "two modules share the id 2"},
        {"text-knob.ostpatch", "knob \"cutoff_hz\" of module 4 must be a number"},
        {"cable-without-to.ostpatch", kBadCable},
        {"nowhere.ostpatch", "cannot open " + (kPatches / "nowhere.ostpatch").string() + ": No such file or directory"},
    };
    for (const auto& [name, message] : cases) {
        Patch patch = myLead();
        std::string error;
        EXPECT_FALSE(loadPatchFile(kPatches / name, patch, &error, nullptr)) << name;
        EXPECT_EQ(error, message) << name;
        EXPECT_EQ(patch, myLead()) << name;
    }
}

// ---- Files that are not patch files at all, or are far too large.

// Regression: a FIFO blocked the loader in open forever, and a link to /dev/zero grew
// memory until the process died.
TEST(PatchFileHostileFiles, AFifoOrADeviceIsRefusedAtOnceAndLeavesThePatchAlone) {
    TempDir dir;
    test::makeFifo(dir / "pipe.ostpatch");
    std::filesystem::create_symlink("/dev/zero", dir / "zeros.ostpatch");
    for (const char* name : {"pipe.ostpatch", "zeros.ostpatch"}) {
        Patch patch = myLead();
        std::string error;
        bool loaded = true;
        EXPECT_TRUE(test::returnsWithoutAWriter(dir / "pipe.ostpatch",
                                                [&] { loaded = loadPatchFile(dir / name, patch, &error, nullptr); }));
        EXPECT_FALSE(loaded);
        EXPECT_EQ(error, "cannot open " + (dir / name).string() + ": it is not a regular file");
        EXPECT_EQ(patch, myLead());
    }
}

// Under the allocation limit, any attempt to read the file would fail otherwise.
TEST(PatchFileHostileFiles, AHugeSparseFileIsRefusedFromItsSizeWithoutBeingRead) {
    TempDir dir;
    test::makeSparseFile(dir / "huge.ostpatch", 8ull << 30);
    Patch patch = myLead();
    std::string error;
    bool loaded = true;
    {
        test::AllocationLimit limit(1 << 20);
        loaded = loadPatchFile(dir / "huge.ostpatch", patch, &error, nullptr);
    }
    EXPECT_FALSE(loaded);
    EXPECT_EQ(error, "the patch file is too large to open (more than 16 MB)");
    EXPECT_EQ(patch, myLead());
}

// Regression: std::bad_alloc escaped loaders that promise to report failure in their result.
TEST(PatchFileHostileFiles, RunningOutOfMemoryWhileReadingOrParsingIsReportedNotThrown) {
    TempDir dir;
    const std::string text = file(R"("name": ")" + std::string(600000, 'n') + R"(")");
    test::writeFile(dir / "long.ostpatch", text);
    Patch patch = myLead();
    std::string readError;
    std::string parseError;
    bool read = true;
    bool parsed = true;
    {
        test::AllocationLimit limit(256 * 1024);  // less than the file, and than its name
        read = loadPatchFile(dir / "long.ostpatch", patch, &readError, nullptr);
        parsed = parsePatch(text, patch, &parseError, nullptr);
    }
    EXPECT_FALSE(read);
    EXPECT_EQ(readError, "not enough memory to open the patch file");
    EXPECT_FALSE(parsed);
    EXPECT_EQ(parseError, "not enough memory to open the patch file");
    EXPECT_EQ(patch, myLead());
    ASSERT_TRUE(loadPatchFile(dir / "long.ostpatch", patch, &readError, nullptr)) << readError;
    EXPECT_EQ(patch.name.size(), 600000u);
}

}  // namespace
}  // namespace ostrel::engine
