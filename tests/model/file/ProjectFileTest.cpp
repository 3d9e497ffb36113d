#include "model/file/ProjectFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <limits>
#include <random>
#include <stdexcept>
#include <sys/resource.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"
#include "support/AllocationCounter.h"
#include "support/HostileFiles.h"
#include "support/TempDir.h"

#if defined(__SANITIZE_ADDRESS__)
#define OSTREL_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OSTREL_UNDER_ASAN 1
#endif
#endif

namespace ostrel::model {
namespace {

using nlohmann::json;
using ::testing::ThrowsMessage;
using test::idFromText;
using test::readFile;
using test::TempDir;
using test::writeFile;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

std::string dataFile(const std::string& name) {
    return readFile(std::filesystem::path(OSTREL_TEST_DATA_DIR) / name);
}

// The id that repeats one digit, as the fixture files use: "33333333-3333-4333-8333-333333333333".
Uuid digitId(char digit) {
    const std::string d(4, digit);
    return idFromText(d + d + "-" + d + "-4" + d.substr(1) + "-8" + d.substr(1) + "-" + d + d + d);
}

// The project that tests/model/data/known-project.ostproj holds. Records are built with
// every member in declaration order.
Project knownProject() {
    const Note first{digitId('4'), 60, 100, 0.0, 1.0, {}};
    const Note second{digitId('5'), 64, 90, 1.5, 0.5, {}};
    const Clip intro{digitId('3'), "Intro", 0.0, 4.0, "", 0.0, {first, second}, {}, {}};
    const Clip loop{digitId('8'), "Loop", 8.0, 2.0, "loop.wav", 0.125, {}, {}, {}};
    const Device echo{digitId('6'), "ostrel.delay", "Echo", {{"time_ms", 250.0}, {"mix", 0.25}}, false, {}};
    const Track lead{digitId('2'), "Lead", {intro}, {echo}, "FM Piano", json{{"algorithm", 3}}, false, false, 0.8,
                     "midi", {}, {}};
    const Track drums{digitId('7'), "Drums", {loop}, {}, "", {}, true, true, 1.0, "audio", {}, {}};
    return makeProject(digitId('1'), "Demo — Café", 120.0, {lead, drums}, JsonValue{});
}

Project parsed(const std::string& text, std::vector<std::string>* warnings = nullptr) {
    Project project;
    std::string error;
    EXPECT_TRUE(parseProject(text, project, &error, warnings)) << error;
    return project;
}

std::string header(const std::string& tracks) {
    return R"({"format": "ostrel-project", "format_version": 1, "tracks": )" + tracks + "}";
}

std::string oneTrack(const std::string& members) {
    return header(R"([{"id": "22222222-2222-4222-8222-222222222222")" + members + "}]");
}

// ---- Writing and round trips --------------------------------------------------------

TEST(ProjectFileRoundTrip, KnownProjectSavesToTheExpectedBytesAndLoadsBackEqual) {
    TempDir dir;
    const Project project = knownProject();
    std::string error;
    ASSERT_TRUE(saveProjectFile(dir / "song.ostproj", project, &error)) << error;
    EXPECT_EQ(readFile(dir / "song.ostproj"), dataFile("known-project.ostproj"));
    Project loaded;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadProjectFile(dir / "song.ostproj", loaded, &error, &warnings)) << error;
    EXPECT_EQ(loaded, project);
    EXPECT_TRUE(warnings.empty());
}

TEST(ProjectFileRoundTrip, UnknownKeysAtEveryLevelComeBackAsTheSameBytes) {
    const std::string text = dataFile("unknown-keys.ostproj");
    Project project = parsed(text);
    EXPECT_EQ(project.tracks()[0].clips[0].notes[0].extra.get(), (json{{"probability", 0.75}}));
    for (int cycle = 0; cycle < 3; ++cycle) project = parsed(projectToJsonText(project));
    EXPECT_EQ(projectToJsonText(project), text);
}

TEST(ProjectFileRoundTrip, ANewerFileLoadsWithAWarningAndIsSavedAsVersionOne) {
    std::string text = dataFile("unknown-keys.ostproj");
    text.replace(text.find("\"format_version\": 1"), 19, "\"format_version\": 2");
    std::vector<std::string> warnings{"earlier"};
    const Project project = parsed(text, &warnings);
    EXPECT_EQ(warnings, (std::vector<std::string>{
                            "earlier",
                            "this project was saved by a newer version of Ostrel; unknown parts are kept as they are"}));
    EXPECT_EQ(projectToJsonText(project), dataFile("unknown-keys.ostproj"));
}

TEST(ProjectFileRoundTrip, AVersionZeroFileIsUpgradedWithItsWarning) {
    TempDir dir;
    writeFile(dir / "old.ostproj", dataFile("version-0.ostproj"));
    Project project;
    std::string error;
    std::vector<std::string> warnings;
    ASSERT_TRUE(loadProjectFile(dir / "old.ostproj", project, &error, &warnings)) << error;
    EXPECT_EQ(warnings,
              (std::vector<std::string>{"this project was upgraded from an older file format (was version 0)"}));
    EXPECT_EQ(readFile(dir / "old.ostproj"), dataFile("version-0.ostproj")) << "loading never writes the file";
    EXPECT_EQ(projectToJsonText(project), dataFile("version-0-saved.ostproj"));
}

TEST(ProjectFileWriting, KnownKeysOverwriteTheSameKeysInExtra) {
    const Project project = makeProject(Uuid::generate(), "Real", 90.0, {},
                                        json{{"format", "fake"}, {"name", "Fake"}, {"zzz", 1}});
    const json written = json::parse(projectToJsonText(project));
    EXPECT_EQ(written["format"], "ostrel-project");
    EXPECT_EQ(written["name"], "Real");
    EXPECT_EQ(written["zzz"], 1);
}

// A NaN or infinity would be written as null and the file would not open again; the strict
// dump throws on text that is not UTF-8. Saving fails with the place named and writes nothing.
TEST(ProjectFileWriting, RefusesValuesAFileCannotKeepAndWritesNothing) {
    const EditKey key = test::editKeyForTests();
    const std::string prefix = "cannot save the project: ";
    const std::vector<std::pair<std::function<void(Project&)>, std::string>> cases = {
        {[&](Project& p) { p.setTempo(key, kNaN); }, "the value at tempo_bpm is not a finite number"},
        {[&](Project& p) { p.setTrackInstrumentConfig(key, p.tracks()[1].id, json{{"gain", -kInfinity}}); },
         "the value at tracks[1].instrument_config.gain is not a finite number"},
        {[&](Project& p) { p.setDeviceParameter(key, p.tracks()[0].id, p.tracks()[0].devices[0].id, "fb", kNaN); },
         "the value at tracks[0].devices[0].parameters.fb is not a finite number"},
        {[&](Project& p) { p.setDeviceParameter(key, p.tracks()[0].id, p.tracks()[0].devices[0].id, "", kNaN); },
         "the value at tracks[0].devices[0].parameters. is not a finite number"},
        {[&](Project& p) { p.setTrackInstrumentConfig(key, p.tracks()[0].id, json{{"list", {1, kInfinity}}}); },
         "the value at tracks[0].instrument_config.list[1] is not a finite number"},
        {[&](Project& p) { p.setTrackName(key, p.tracks()[1].id, "Dr\xffms"); },
         "the text at tracks[1].name is not valid UTF-8"},
        {[&](Project& p) { p.setName(key, "\xed\xa0\x80"); },  // an encoded surrogate half
         "the text at name is not valid UTF-8"},
        {[&](Project& p) { p.setTrackInstrumentConfig(key, p.tracks()[0].id, json{{"ok", 1}, {"\xc0\xaf", 2}}); },
         "a member name in tracks[0].instrument_config is not valid UTF-8 text"},
    };
    for (const auto& [spoil, message] : cases) {
        SCOPED_TRACE(message);
        Project project = knownProject();
        spoil(project);
        TempDir dir;
        writeFile(dir / "song.ostproj", "old content");
        std::string error;
        EXPECT_FALSE(saveProjectFile(dir / "song.ostproj", project, &error));
        EXPECT_EQ(error, prefix + message);
        EXPECT_EQ(readFile(dir / "song.ostproj"), "old content");
        EXPECT_FALSE(std::filesystem::exists(dir / "song.ostproj.tmp"));
        EXPECT_THAT([&] { projectToJsonText(project); }, ThrowsMessage<std::invalid_argument>(prefix + message));
    }
}

TEST(ProjectFileWriting, SaveReportsTheWritersReasonForAnUnwritablePlace) {
    TempDir dir;
    std::string error;
    writeFile(dir / "plain", "a file, not a folder");
    EXPECT_FALSE(saveProjectFile(dir / "plain" / "song.ostproj", knownProject(), &error));
    EXPECT_FALSE(error.empty());
}

// ---- Bytes of the writer ------------------------------------------------------------

// The writer as it was first made, the library's tree of the whole project dumped: the
// streaming writer must give the same bytes for every project.
json treeStart(const JsonValue& extra) { return extra.get().is_object() ? extra.get() : json::object(); }

template <typename T>
json treeList(const std::vector<T>& records, json (*toJson)(const T&)) {
    json list = json::array();
    for (const T& record : records) list.push_back(toJson(record));
    return list;
}

json treeNote(const Note& n) {
    json o = treeStart(n.extra);
    o.update({{"id", n.id.toString()}, {"pitch", n.pitch}, {"velocity", n.velocity}, {"start_beats", n.startBeats},
              {"length_beats", n.lengthBeats}});
    return o;
}

json treeClip(const Clip& c) {
    json o = treeStart(c.extra);
    o.update({{"id", c.id.toString()}, {"name", c.name}, {"start_beats", c.startBeats}, {"length_beats", c.lengthBeats},
              {"notes", treeList(c.notes, treeNote)}});
    if (!c.audioSource.empty()) o["audio_source"] = c.audioSource;
    if (c.audioOffsetSeconds != 0.0) o["audio_offset_seconds"] = c.audioOffsetSeconds;
    return o;
}

json treeDevice(const Device& d) {
    json o = treeStart(d.extra);
    o.update({{"id", d.id.toString()}, {"device_id", d.typeId}, {"parameters", json::object()}});
    if (!d.name.empty()) o["name"] = d.name;
    if (!d.enabled) o["enabled"] = false;
    for (const auto& [knob, value] : d.parameters) o["parameters"][knob] = value;
    return o;
}

json treeTrack(const Track& t) {
    json o = treeStart(t.extra);
    o.update({{"id", t.id.toString()}, {"name", t.name}, {"clips", treeList(t.clips, treeClip)},
              {"devices", treeList(t.devices, treeDevice)}});
    if (!t.instrumentPatch.empty()) o["instrument_patch"] = t.instrumentPatch;
    const json& config = t.instrumentConfig.get();
    if (config.is_object() && !config.empty()) o["instrument_config"] = config;
    if (t.muted) o["muted"] = true;
    if (t.solo) o["solo"] = true;
    if (t.volume != 1.0) o["volume"] = t.volume;
    if (t.kind != kMidiTrackKind) o["kind"] = t.kind;
    return o;
}

std::string treeText(const Project& p) {
    json o = treeStart(p.extra());
    o.update({{"format", "ostrel-project"}, {"format_version", 1}, {"id", p.id().toString()}, {"name", p.name()},
              {"tempo_bpm", p.tempoBpm()}, {"tracks", treeList(p.tracks(), treeTrack)}});
    return o.dump(2, ' ', false, json::error_handler_t::strict) + "\n";
}

constexpr char kNulText[] = "nul \0 one \x01 unit \x1f del \x7f";

// Reals at the edges of the library's number forms, texts needing every escape and
// characters of two to four bytes.
const std::vector<double> kEdgeReals = {0.0,    -0.0,  1.0,  0.1,  -2.5, 1e-300, 5e-324, 2.2250738585072014e-308,
                                        1.7976931348623157e308, 1e15, 1e16, 123456789012345.6, 1e21, 1e-4, 1e-5,
                                        0.000123, 1.0 / 3.0, 120.0, 4294967296.0, -1e100};
const std::vector<std::string> kEdgeTexts = {"", "Demo — Café", "\xf0\x9f\x8e\xb9 keys", "quote \" backslash \\ slash /",
                                             "tab\tline\nreturn\rfeed\fback\b",
                                             std::string(kNulText, sizeof kNulText - 1), "日本語"};

// Members of extra before, between and after the known keys, some named as known keys
// (overwritten where the key is written, kept where it is not), of every kind of value.
json edgeExtra(std::mt19937& random) {
    static const std::vector<std::string> names = {"a",    "aa",   "color", "enabled", "id",        "kind",
                                                   "muted", "name", "notes", "pitch",   "solo",      "tempo_bpm",
                                                   "volume", "zz", "\xc3\xa9t\xc3\xa9", "with \"quote\"",
                                                   "audio_source", "format"};
    const json kinds[] = {nullptr, true, false, std::numeric_limits<std::uint64_t>::max(),
                          std::numeric_limits<std::int64_t>::min(), json::array(), json::object(),
                          json{{"list", {1, 2.5, "x", nullptr, json::object(), json::array({json::array()})}},
                               {"deep", {{"deeper", {{"b", false}}}}}}};
    json extra = json::object();
    for (int i = static_cast<int>(random() % 4); i > 0; --i) {
        const std::string& name = names[random() % names.size()];
        const std::uint32_t kind = random() % 10;
        extra[name] = kind == 8 ? json(kEdgeReals[random() % kEdgeReals.size()])
                      : kind == 9 ? json(kEdgeTexts[random() % kEdgeTexts.size()])
                                  : kinds[kind];
    }
    return extra;
}

Project variedProject(std::uint32_t seed) {
    std::mt19937 random(seed);
    const auto real = [&] {
        if (random() % 2 == 0) return kEdgeReals[random() % kEdgeReals.size()];
        for (;;) {  // any finite reading of a double's bits
            const std::uint64_t bits = static_cast<std::uint64_t>(random()) << 32 | random();
            double value = 0.0;
            std::memcpy(&value, &bits, sizeof value);
            if (std::isfinite(value)) return value;
        }
    };
    const auto text = [&] { return kEdgeTexts[random() % kEdgeTexts.size()]; };
    const auto maybe = [&] { return random() % 3 == 0; };
    std::vector<Track> tracks(random() % 3);
    for (Track& track : tracks) {
        track.id = Uuid::generate();
        track.name = text();
        if (maybe()) track.instrumentPatch = text();
        if (maybe()) track.instrumentConfig = json{{"algorithm", 3}, {"ops", {0.5, -1e-300}}, {text(), text()}};
        track.muted = maybe();
        track.solo = maybe();
        track.volume = maybe() ? 1.0 : real();
        track.kind = maybe() ? std::string(kMidiTrackKind) : maybe() ? std::string(kAudioTrackKind) : text();
        track.extra = random() % 7 == 0 ? JsonValue(json::array({1, 2})) : JsonValue(edgeExtra(random));
        track.clips.resize(random() % 3);
        for (Clip& clip : track.clips) {
            clip.id = Uuid::generate();
            clip.name = text();
            clip.startBeats = real();
            clip.lengthBeats = real();
            if (maybe()) clip.audioSource = text();
            if (maybe()) clip.audioOffsetSeconds = real();
            clip.extra = edgeExtra(random);
            clip.notes.resize(random() % 4);
            for (Note& note : clip.notes) {
                note.id = Uuid::generate();
                note.pitch = maybe() ? std::numeric_limits<std::int32_t>::max() : static_cast<std::int32_t>(random());
                note.velocity = maybe() ? std::numeric_limits<std::int32_t>::min() : static_cast<std::int32_t>(random() % 128);
                note.startBeats = real();
                note.lengthBeats = real();
                note.extra = edgeExtra(random);
            }
        }
        track.devices.resize(random() % 3);
        for (Device& device : track.devices) {
            device.id = Uuid::generate();
            device.typeId = maybe() ? "" : text();
            if (maybe()) device.name = text();
            device.enabled = !maybe();
            for (int k = static_cast<int>(random() % 4); k > 0; --k) device.parameters[text()] = real();
            device.extra = edgeExtra(random);
        }
    }
    const JsonValue extra = random() % 5 == 0 ? JsonValue(json::array({1, 2})) : JsonValue(edgeExtra(random));
    return makeProject(Uuid::generate(), text(), real(), std::move(tracks), extra);
}

// An extra that is not an object (on the project or a track) is written as empty.
TEST(ProjectFileBytes, TheStreamingWriterGivesTheBytesOfTheWholeTreeDump) {
    EXPECT_EQ(projectToJsonText(knownProject()), treeText(knownProject()));
    const Project unknowns = parsed(dataFile("unknown-keys.ostproj"));
    EXPECT_EQ(projectToJsonText(unknowns), treeText(unknowns));
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        const Project project = variedProject(seed);
        const std::string text = projectToJsonText(project);
        ASSERT_EQ(text, treeText(project)) << "seed " << seed;
        // Some extras hold known keys of kinds the reader refuses; the others read back.
        Project again;
        if (parseProject(text, again, nullptr, nullptr)) {
            ASSERT_EQ(projectToJsonText(again), treeText(again));
        }
    }
}

// ---- Reading rules ------------------------------------------------------------------

// A record of defaults with the id the reader gave record.
template <typename T>
T defaultsWithIdOf(const T& record) {
    T defaults;
    defaults.id = record.id;
    return defaults;
}

// Absent members, and odd kinds where the format tolerates them, read as the defaults.
TEST(ProjectFileReading, MissingMembersAndTolerableOddKindsReadAsDefaults) {
    const Project project = parsed(header(R"([
        {"instrument_config": "Sampler", "kind": 5, "clips": "none", "devices": {"a": 1}},
        {"clips": [{"audio_source": 3, "notes": 7}, {"notes": [{}]}],
         "devices": [{"device_id": "", "enabled": "no", "parameters": []}], "kind": "video"}])"));
    EXPECT_EQ(project.name(), "Untitled");
    EXPECT_EQ(project.tempoBpm(), 120.0);
    const auto& tracks = project.tracks();
    EXPECT_EQ(tracks[0], defaultsWithIdOf(tracks[0]));
    EXPECT_EQ(tracks[1].clips[0], defaultsWithIdOf(tracks[1].clips[0]));
    EXPECT_EQ(tracks[1].clips[1].notes[0], defaultsWithIdOf(tracks[1].clips[1].notes[0]));
    EXPECT_EQ(tracks[1].devices[0], defaultsWithIdOf(tracks[1].devices[0]));
    EXPECT_EQ(tracks[1].kind, "video") << "any kind text is kept";
}

TEST(ProjectFileReading, MissingOrBadIdsGetFreshOnesOnEveryLoad) {
    const std::string text = header(R"([{"name": "a"}, {"id": "abc"}, {"id": 5}])");
    const Project first = parsed(text);
    const Project second = parsed(text);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(first.tracks()[i].id.isNil());
        EXPECT_NE(first.tracks()[i].id, second.tracks()[i].id);
    }
    EXPECT_NE(first.id(), second.id());
}

TEST(ProjectFileReading, EqualIdsInDifferentContainersAreAccepted) {
    const std::string clip = R"({"id": "33333333-3333-4333-8333-333333333333"})";
    const Project project = parsed(header(R"([{"id": "22222222-2222-4222-8222-222222222221", "clips": [)" + clip +
                                          R"(]}, {"id": "22222222-2222-4222-8222-222222222222", "clips": [)" + clip +
                                          "]}]"));
    EXPECT_EQ(project.tracks()[0].clips[0].id, project.tracks()[1].clips[0].id);
}

TEST(ProjectFileReading, NumbersAreTakenAsTheyStandAndFractionsCutTowardZero) {
    std::vector<std::string> warnings;
    const Project project = parsed(
        R"({"format": "ostrel-project", "format_version": 1.9, "tempo_bpm": 0, "tracks": [{"clips": [{"notes": [
            {"pitch": 61.9, "velocity": -3.7, "length_beats": -2},
            {"pitch": 2147483647, "velocity": -2147483648}]}],
            "devices": [{"device_id": "d", "parameters": {"a": 1, "b": -2, "c": 0.5, "d": 18446744073709551615}}]}]})",
        &warnings);
    EXPECT_TRUE(warnings.empty()) << "version 1.9 reads as 1";
    EXPECT_EQ(project.tempoBpm(), 0.0);
    const auto& notes = project.tracks()[0].clips[0].notes;
    EXPECT_EQ(notes[0].pitch, 61);
    EXPECT_EQ(notes[0].velocity, -3);
    EXPECT_EQ(notes[0].lengthBeats, -2.0);
    EXPECT_EQ(notes[1].pitch, 2147483647);
    EXPECT_EQ(notes[1].velocity, -2147483648LL);
    EXPECT_EQ(project.tracks()[0].devices[0].parameters,
              (std::map<std::string, double>{{"a", 1.0}, {"b", -2.0}, {"c", 0.5}, {"d", 18446744073709551615.0}}));

    parsed(R"({"format": "ostrel-project", "format_version": 2.5, "tracks": []})", &warnings);
    ASSERT_EQ(warnings.size(), 1u) << "version 2.5 reads as 2, newer than this program";
    EXPECT_NE(warnings[0].find("newer version"), std::string::npos);
}

TEST(ProjectFileReading, BracketsInsideTextDoNotCountAsNesting) {
    const Project project = parsed(header("[]").insert(1, "\"deep\": \"" + std::string(2000, '[') + "\\\"\", "));
    EXPECT_EQ(project.extra().get()["deep"].get<std::string>().size(), 2001u);
}

// The reader's values are the library's: the extra of a file equals the library's own
// parse of it, kinds included, for numbers and texts at the edges of the grammar.
TEST(ProjectFileReading, ExtraValuesEqualTheLibrarysParseOfTheSameText) {
    const std::string members = R"("n1": 1e-400, "n2": -0, "n3": -0.0, "n4": 2.2250738585072011e-308, "n5": 0.1,
        "n6": 1.7976931348623157e308, "n7": 4.9e-324, "n8": 18446744073709551615, "n9": -9223372036854775808,
        "n10": 9223372036854775808, "n11": 7, "n12": 1E+2, "n13": [], "n14": {}, "n15": [null, true, false],
        "s1": "\u00e9\ud83d\ude00", "s2": "nul \u0000 end", "s3": "\/\b\f\n\r\t\"\\", "s4": "Caf\u00c9 — 日本",
        "n16": 123456789012345678901234567890, "n17": -99999999999999999999)";
    const std::string text = header("[]").insert(1, members + ", ");
    const Project project = parsed(text);
    json expected = json::parse(text);
    for (const char* known : {"format", "format_version", "tracks"}) expected.erase(known);
    const json& extra = project.extra().get();
    EXPECT_EQ(extra, expected);
    EXPECT_EQ(extra.dump(), expected.dump());
    for (const auto& [key, value] : expected.items()) {
        // -0 is the whole number 0 to both, which the library calls signed and the reader
        // unsigned; the two compare equal and are written the same.
        if (key == "n2") continue;
        EXPECT_EQ(static_cast<int>(extra.at(key).type()), static_cast<int>(value.type())) << key;
    }
    EXPECT_TRUE(std::signbit(extra["n3"].get<double>()));
}

TEST(ProjectFileReading, ALeadingByteOrderMarkIsSkipped) {
    const std::string text = dataFile("known-project.ostproj");
    Project withMark = parsed("\xEF\xBB\xBF" + text);
    EXPECT_EQ(withMark, knownProject());
}

// The library keeps the last of two members with the same name; so does the reader,
// for known keys and for extra alike.
TEST(ProjectFileReading, TheLastOfRepeatedKeysCounts) {
    const Project project = parsed(R"({"format": "other", "format": "ostrel-project", "tracks": 5, "tracks": [
        {"name": "first", "name": "second", "x": 1, "x": 2,
         "clips": [{"notes": [{"pitch": 1, "pitch": 2}]}],
         "devices": [{"device_id": 3, "device_id": "ostrel.eq", "parameters": {"a": "x", "a": 1.5}}]}]})");
    const Track& track = project.tracks()[0];
    EXPECT_EQ(track.name, "second");
    EXPECT_EQ(track.extra.get(), (json{{"x", 2}}));
    EXPECT_EQ(track.clips[0].notes[0].pitch, 2);
    EXPECT_EQ(track.devices[0].typeId, "ostrel.eq");
    EXPECT_EQ(track.devices[0].parameters, (std::map<std::string, double>{{"a", 1.5}}));

    std::string error;
    Project out;
    EXPECT_FALSE(parseProject(oneTrack(R"(, "devices": [{"device_id": "ostrel.eq", "device_id": 3}])"), out, &error,
                              nullptr));
    EXPECT_EQ(error, "a device needs a \"device_id\"");
    // Knobs are judged in key order, whatever order the file has them in.
    EXPECT_FALSE(parseProject(oneTrack(R"(, "devices": [{"device_id": "d", "parameters": {"b": "x", "a": "y"}}])"),
                              out, &error, nullptr));
    EXPECT_EQ(error, "knob \"a\" of device d must be a number");
}

// 512 levels are read, whatever the innermost value; 513 are refused.
TEST(ProjectFileReading, NestingUpToTheLimitIsRead) {
    // The document itself is the first level; an object inside the arrays is one more.
    for (const std::string inner : {"", "1", "{}", "{\"a\": 1}"}) {
        const std::size_t arrays = inner.starts_with('{') ? 510 : 511;
        const auto withDeep = [&](std::size_t depth) {
            return header("[]").insert(1, "\"deep\": " + std::string(depth, '[') + inner + std::string(depth, ']') + ", ");
        };
        const Project project = parsed(withDeep(arrays));
        EXPECT_EQ(projectToJsonText(parsed(projectToJsonText(project))), projectToJsonText(project));
        Project out;
        std::string error;
        EXPECT_FALSE(parseProject(withDeep(arrays + 1), out, &error, nullptr));
        EXPECT_EQ(error, "the file nests too deeply to be read");
    }
}

// ---- Reader messages ----------------------------------------------------------------

// Values of the wrong kind or out of range fail the load with a message: never a library
// exception escaping, never a huge number wrapped into a small one.
TEST(ProjectFileMessages, EachProblemFailsTheLoadWithItsMessageAndLeavesOutAlone) {
    const std::string note = R"({"id": "44444444-4444-4444-8444-444444444444"})";
    const std::string device = R"({"device_id": "x", "id": "66666666-6666-4666-8666-666666666666"})";
    const std::string clip = R"({"id": "33333333-3333-4333-8333-333333333333"})";
    const std::string project = R"({"format": "ostrel-project", )";
    const std::string deep = std::string(600, '[') + std::string(600, ']');
    const std::string badVersion = "the format version of the file is out of range";
    const std::vector<std::pair<std::string, std::string>> refusals = {
        {"[1, 2]", "the file is not valid JSON"},
        {"// comment\n" + header("[]"), "the file is not valid JSON"},
        {project + R"("tempo_bpm": 1e999, "tracks": []})", "the file is not valid JSON"},
        {deep, "the file nests too deeply to be read"},
        {header(R"([{"x": )" + deep + "}]"), "the file nests too deeply to be read"},
        {R"({"format": "ostrel-patch", "tracks": []})", "this is not a Ostrel project file"},
        {project + R"("format_version": -1, "tracks": []})",
         "could not read this project file: don't know how to upgrade a project file from format version -1"},
        {project + R"("format_version": true, "tracks": []})", "the format version of the file is not a number"},
        {project + R"("format_version": 4294967297, "tracks": []})", badVersion},
        {project + R"("format_version": 1e300, "tracks": []})", badVersion},
        {project + R"("format_version": 1})", "the project has no list of tracks"},
        {header("{}"), "the project has no list of tracks"},
        {R"({"format": "ostrel-project"})", "the project has no list of tracks"},  // upgraded from version 0 first
        {project + R"("tempo_bpm": "fast", "tracks": []})", "the project's \"tempo_bpm\" must be a number"},
        {project + R"("name": 5, "tracks": []})", "the project's \"name\" must be text"},
        {header(R"([{"id": "22222222-2222-4222-8222-222222222222"}, {"id": "22222222-2222-4222-8222-222222222222"}])"),
         "two tracks in the project share an id"},
        // Each track is read in full before its id is compared.
        {header(R"([{"id": "22222222-2222-4222-8222-222222222222"},
                    {"id": "22222222-2222-4222-8222-222222222222", "clips": [{"notes": [1]}]}])"),
         "a note must be an object"},
        {header("[{}, 3]"), "a track must be an object"},
        {oneTrack(R"(, "muted": 1)"), "a track's \"muted\" must be true or false"},
        {oneTrack(R"(, "clips": [[]])"), "a clip must be an object"},
        {oneTrack(R"(, "clips": [)" + clip + "," + clip + "]"), "two clips on the same track share an id"},
        {oneTrack(R"(, "clips": [{"start_beats": null}])"), "a clip's \"start_beats\" must be a number"},
        {oneTrack(R"(, "clips": [{"notes": [)" + note + "," + note + "]}]"), "two notes in the same clip share an id"},
        {oneTrack(R"(, "clips": [{"notes": [{"pitch": "C4"}]}])"), "a note's \"pitch\" must be a number"},
        {oneTrack(R"(, "clips": [{"notes": [{"pitch": 2147483648}]}])"), "a note's \"pitch\" is out of range"},
        {oneTrack(R"(, "clips": [{"notes": [{"velocity": -2147483649}]}])"), "a note's \"velocity\" is out of range"},
        {oneTrack(R"(, "devices": [5])"), "a device needs a \"device_id\""},
        {oneTrack(R"(, "devices": [{"device_id": 3}])"), "a device needs a \"device_id\""},
        {oneTrack(R"(, "devices": [)" + device + "," + device + "]"), "two devices on the same track share an id"},
        {oneTrack(R"(, "devices": [{"device_id": "ostrel.eq", "parameters": {"gain_db": "3"}}])"),
         "knob \"gain_db\" of device ostrel.eq must be a number"},
    };
    for (const auto& [text, message] : refusals) {
        Project out = test::sampleProject();
        const Project before = out;
        std::string error = "untouched";
        EXPECT_FALSE(parseProject(text, out, &error, nullptr)) << text.substr(0, 200);
        EXPECT_EQ(error, message) << text.substr(0, 200);
        EXPECT_EQ(out, before) << text.substr(0, 200);
    }
    Project out;
    EXPECT_FALSE(parseProject("", out, nullptr, nullptr)) << "a null error is allowed";
}

TEST(ProjectFileMessages, AMissingFileOrAFolderCannotBeOpened) {
    TempDir dir;
    Project out = test::sampleProject();
    const Project before = out;
    std::string error;
    EXPECT_FALSE(loadProjectFile(dir / "nothing.ostproj", out, &error, nullptr));
    EXPECT_EQ(error, "cannot open " + (dir / "nothing.ostproj").string() + ": No such file or directory");
    EXPECT_FALSE(loadProjectFile(dir.path(), out, &error, nullptr));
    EXPECT_EQ(error, "cannot open " + dir.path().string() + ": it is not a regular file");
    EXPECT_EQ(out, before);
}

// ---- Files that are not project files at all, or are far too large.

// The reason a load gives, which must fail and leave the project it loads into alone.
std::string failedLoad(const std::function<bool(Project&, std::string*)>& load) {
    Project out = test::sampleProject();
    const Project before = out;
    std::string error;
    EXPECT_FALSE(load(out, &error));
    EXPECT_EQ(out, before);
    return error;
}

// Regression: a FIFO blocked the loader in open forever, and a link to /dev/zero grew
// memory until the process died.
TEST(ProjectFileHostileFiles, AFifoOrADeviceIsRefusedAtOnceAndLeavesOutAlone) {
    TempDir dir;
    test::makeFifo(dir / "pipe.ostproj");
    std::filesystem::create_symlink("/dev/zero", dir / "zeros.ostproj");
    for (const char* name : {"pipe.ostproj", "zeros.ostproj"}) {
        std::string error;
        EXPECT_TRUE(test::returnsWithoutAWriter(dir / "pipe.ostproj", [&] {
            error = failedLoad([&](Project& out, std::string* e) { return loadProjectFile(dir / name, out, e, nullptr); });
        }));
        EXPECT_EQ(error, "cannot open " + (dir / name).string() + ": it is not a regular file");
    }
}

// Regression: a gigabyte of zeros was read whole (seconds, gigabytes) only to be found
// not to be JSON; std::bad_alloc escaped loaders that promise to report failure in their
// result. Under an allocation limit smaller than the file, reading it whole would fail.
TEST(ProjectFileHostileFiles, AHugeFileOrRunningOutOfMemoryIsReportedNotThrown) {
    TempDir dir;
    test::makeSparseFile(dir / "huge.ostproj", 8ull << 30);
    const std::string text =
        R"({"format": "ostrel-project", "format_version": 1, "name": ")" + std::string(600000, 'n') + R"(", "tracks": []})";
    writeFile(dir / "long.ostproj", text);
    const auto underLimit = [](std::size_t bytes, const std::function<bool(Project&, std::string*)>& load) {
        return failedLoad([&](Project& out, std::string* error) {
            test::AllocationLimit limit(bytes);
            return load(out, error);
        });
    };
    const auto fromFile = [&](const char* name) {
        return [&dir, name](Project& out, std::string* e) { return loadProjectFile(dir / name, out, e, nullptr); };
    };
    EXPECT_EQ(underLimit(1 << 20, fromFile("huge.ostproj")), "the project file is too large to open (more than 256 MB)");
    // Less than the file, and than its name.
    EXPECT_EQ(underLimit(256 * 1024, fromFile("long.ostproj")), "not enough memory to open the project file");
    EXPECT_EQ(underLimit(256 * 1024, [&](Project& out, std::string* e) { return parseProject(text, out, e, nullptr); }),
              "not enough memory to open the project file");
    Project out;
    std::string readError;
    ASSERT_TRUE(loadProjectFile(dir / "long.ostproj", out, &readError, nullptr)) << readError;
    EXPECT_EQ(out.name().size(), 600000u);
}

// The same with a real limit on the address space, as a ulimit or a container sets it.
TEST(ProjectFileHostileFiles, UnderARealMemoryLimitAFileTooLargeForMemoryIsReportedNotThrown) {
#ifdef OSTREL_UNDER_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves far more address space than such a limit leaves";
#endif
    TempDir dir;
    test::makeSparseFile(dir / "zeros.ostproj", 200ull << 20);  // within the size limit, so it is read
    const auto loadUnderTheLimit = [&] {
        // Room for what the process holds now and a little more; far less than the file.
        std::ifstream statm("/proc/self/statm");
        std::uint64_t pages = 0;
        statm >> pages;
        const rlim_t bytes = pages * static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE)) + (64ull << 20);
        const rlimit limit{bytes, bytes};
        ::setrlimit(RLIMIT_AS, &limit);
        Project out;
        std::string error;
        const bool loaded = loadProjectFile(dir / "zeros.ostproj", out, &error, nullptr);
        std::fprintf(stderr, "%s", error.c_str());
        std::_Exit(!loaded && error == "not enough memory to open the project file" ? 0 : 1);
    };
    EXPECT_EXIT(loadUnderTheLimit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace ostrel::model
