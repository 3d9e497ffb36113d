#include "model/ProjectFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "ModelTestSupport.h"
#include "support/TempDir.h"

namespace ostrel::model {
namespace {

using nlohmann::json;
using test::idFromText;
using test::readFile;
using test::TempDir;
using test::writeFile;

std::string dataFile(const std::string& name) {
    return readFile(std::filesystem::path(OSTREL_TEST_DATA_DIR) / name);
}

// The project that tests/model/data/known-project.ostproj holds.
Project knownProject() {
    Note first;
    first.id = idFromText("44444444-4444-4444-8444-444444444444");
    Note second;
    second.id = idFromText("55555555-5555-4555-8555-555555555555");
    second.pitch = 64;
    second.velocity = 90;
    second.startBeats = 1.5;
    second.lengthBeats = 0.5;
    Clip intro;
    intro.id = idFromText("33333333-3333-4333-8333-333333333333");
    intro.name = "Intro";
    intro.notes = {first, second};
    Device echo;
    echo.id = idFromText("66666666-6666-4666-8666-666666666666");
    echo.typeId = "ostrel.delay";
    echo.name = "Echo";
    echo.enabled = false;
    echo.parameters = {{"time_ms", 250.0}, {"mix", 0.25}};
    Track lead;
    lead.id = idFromText("22222222-2222-4222-8222-222222222222");
    lead.name = "Lead";
    lead.clips = {intro};
    lead.devices = {echo};
    lead.instrumentPatch = "FM Piano";
    lead.instrumentConfig = json{{"algorithm", 3}};
    lead.volume = 0.8;

    Clip loop;
    loop.id = idFromText("88888888-8888-4888-8888-888888888888");
    loop.name = "Loop";
    loop.startBeats = 8.0;
    loop.lengthBeats = 2.0;
    loop.audioSource = "loop.wav";
    loop.audioOffsetSeconds = 0.125;
    Track drums;
    drums.id = idFromText("77777777-7777-4777-8777-777777777777");
    drums.name = "Drums";
    drums.clips = {loop};
    drums.kind = "audio";
    drums.muted = true;
    drums.solo = true;
    return makeProject(idFromText("11111111-1111-4111-8111-111111111111"), "Demo — Café", 120.0, {lead, drums},
                       JsonValue{});
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

// ---- Writing ------------------------------------------------------------------------

TEST(ProjectFileWriting, KnownProjectGivesTheExpectedBytes) {
    EXPECT_EQ(projectToJsonText(knownProject()), dataFile("known-project.ostproj"));
}

TEST(ProjectFileWriting, SavingTheSameProjectTwiceGivesTheSameBytes) {
    const Project project = test::sampleProject();
    EXPECT_EQ(projectToJsonText(project), projectToJsonText(Project(project)));
}

TEST(ProjectFileWriting, ADefaultTrackHasOnlyItsFourAlwaysWrittenMembers) {
    Track track;
    track.id = Uuid::generate();
    const json written = json::parse(projectToJsonText(makeProject(Uuid::generate(), "x", 120.0, {track}, {})));
    std::vector<std::string> keys;
    for (const auto& [key, value] : written["tracks"][0].items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"clips", "devices", "id", "name"}));
}

TEST(ProjectFileWriting, AProjectWithoutTracksWritesAnEmptyList) {
    const std::string text = projectToJsonText(makeProject(Uuid::generate(), "Empty", 120.0, {}, {}));
    EXPECT_NE(text.find("\"tracks\": []\n"), std::string::npos) << text;
    EXPECT_TRUE(parsed(text).tracks().empty());
}

TEST(ProjectFileWriting, KnownKeysOverwriteTheSameKeysInExtra) {
    const Project project = makeProject(Uuid::generate(), "Real", 90.0, {},
                                        json{{"format", "fake"}, {"name", "Fake"}, {"zzz", 1}});
    const json written = json::parse(projectToJsonText(project));
    EXPECT_EQ(written["format"], "ostrel-project");
    EXPECT_EQ(written["name"], "Real");
    EXPECT_EQ(written["zzz"], 1);
}

TEST(ProjectFileWriting, RealsAlwaysCarryAFractionAndIntegersStayIntegers) {
    const std::string text = projectToJsonText(knownProject());
    EXPECT_NE(text.find("\"tempo_bpm\": 120.0"), std::string::npos);
    EXPECT_NE(text.find("\"pitch\": 60,"), std::string::npos);
    EXPECT_NE(text.find("\"format_version\": 1,"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text[text.size() - 2], '\n') << "exactly one line feed at the end";
}

// A NaN or infinity would be written as null and the file would not open again.
TEST(ProjectFileWriting, RefusesANonFiniteNumberAndNamesItsPlace) {
    const EditKey key = test::editKeyForTests();
    struct Case {
        std::function<void(Project&)> spoil;
        std::string message;
    };
    const std::vector<Case> cases = {
        {[&](Project& p) { p.setTempo(key, std::numeric_limits<double>::quiet_NaN()); },
         "cannot save the project: the value at tempo_bpm is not a finite number"},
        {[&](Project& p) {
             const Track& track = p.tracks()[0];
             Note note = track.clips[0].notes[1];
             p.removeNote(key, track.id, track.clips[0].id, 1);
             note.lengthBeats = std::numeric_limits<double>::infinity();
             p.insertNote(key, track.id, track.clips[0].id, 1, note);
         },
         "cannot save the project: the value at tracks[0].clips[0].notes[1].length_beats is not a finite number"},
        {[&](Project& p) {
             p.setTrackInstrumentConfig(key, p.tracks()[1].id,
                                        json{{"gain", -std::numeric_limits<double>::infinity()}});
         },
         "cannot save the project: the value at tracks[1].instrument_config.gain is not a finite number"},
        {[&](Project& p) {
             p.setDeviceParameter(key, p.tracks()[0].id, p.tracks()[0].devices[0].id, "feedback",
                                  std::numeric_limits<double>::quiet_NaN());
         },
         "cannot save the project: the value at tracks[0].devices[0].parameters.feedback is not a finite number"},
    };
    for (const Case& test : cases) {
        Project project = knownProject();
        test.spoil(project);
        TempDir dir;
        const auto path = dir / "song.ostproj";
        writeFile(path, "old content");
        std::string error;
        EXPECT_FALSE(saveProjectFile(path, project, &error));
        EXPECT_EQ(error, test.message);
        EXPECT_EQ(readFile(path), "old content") << "nothing is written";
        EXPECT_FALSE(std::filesystem::exists(dir / "song.ostproj.tmp"));
        try {
            projectToJsonText(project);
            ADD_FAILURE() << "expected std::invalid_argument";
        } catch (const std::invalid_argument& thrown) {
            EXPECT_EQ(std::string(thrown.what()), test.message);
        }
    }
}

// The strict dump throws on such text; saving must fail with a reason instead.
TEST(ProjectFileWriting, RefusesTextThatIsNotUtf8) {
    const EditKey key = test::editKeyForTests();
    Project project = knownProject();
    project.setTrackName(key, project.tracks()[1].id, "Dr\xffms");
    std::string error;
    TempDir dir;
    EXPECT_FALSE(saveProjectFile(dir / "a.ostproj", project, &error));
    EXPECT_EQ(error, "cannot save the project: the text at tracks[1].name is not valid UTF-8");
    EXPECT_FALSE(std::filesystem::exists(dir / "a.ostproj"));

    Project badKey = knownProject();
    badKey.setTrackInstrumentConfig(key, badKey.tracks()[0].id, json{{"ok", 1}, {"\xc0\xaf", 2}});
    EXPECT_FALSE(saveProjectFile(dir / "b.ostproj", badKey, &error));
    EXPECT_EQ(error, "cannot save the project: a member name in tracks[0].instrument_config is not valid UTF-8 text");

    Project surrogate = knownProject();
    surrogate.setName(key, "\xed\xa0\x80");  // an encoded surrogate half
    EXPECT_THROW(projectToJsonText(surrogate), std::invalid_argument);
}

TEST(ProjectFileWriting, SaveReportsTheWritersReasonForAnUnwritablePlace) {
    TempDir dir;
    std::string error;
    writeFile(dir / "plain", "a file, not a folder");
    EXPECT_FALSE(saveProjectFile(dir / "plain" / "song.ostproj", knownProject(), &error));
    EXPECT_FALSE(error.empty());
}

// ---- Round trips --------------------------------------------------------------------

TEST(ProjectFileRoundTrip, SaveThenLoadGivesAnEqualProject) {
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
    EXPECT_EQ(project.extra().get()["future"]["nested"], (json{{"deep", json::object()}}));
    EXPECT_EQ(project.tracks()[0].extra.get(), (json{{"height_px", 64}}));
    EXPECT_EQ(project.tracks()[0].clips[0].extra.get(), (json{{"color", "#ff8800"}}));
    EXPECT_EQ(project.tracks()[0].clips[0].notes[0].extra.get(), (json{{"probability", 0.75}}));
    EXPECT_EQ(project.tracks()[0].devices[0].extra.get(), (json{{"sidechain", nullptr}}));
    EXPECT_EQ(projectToJsonText(project), text);
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
    EXPECT_EQ(project.tempoBpm(), 96.0);
    EXPECT_EQ(readFile(dir / "old.ostproj"), dataFile("version-0.ostproj")) << "loading never writes the file";
    EXPECT_EQ(projectToJsonText(project), dataFile("version-0-saved.ostproj"));
}

// ---- Reading rules ------------------------------------------------------------------

TEST(ProjectFileReading, DefaultsFillMissingKeys) {
    const Project project = parsed(header(R"([{"clips": [{"notes": [{}]}], "devices": [{"device_id": ""}]}])"));
    EXPECT_EQ(project.name(), "Untitled");
    EXPECT_EQ(project.tempoBpm(), 120.0);
    const Track& track = project.tracks()[0];
    EXPECT_EQ(track.kind, "midi");
    EXPECT_EQ(track.volume, 1.0);
    const Clip& clip = track.clips[0];
    EXPECT_EQ(clip.lengthBeats, 4.0);
    EXPECT_EQ(clip.notes[0].pitch, 60);
    EXPECT_EQ(clip.notes[0].velocity, 100);
    EXPECT_EQ(clip.notes[0].lengthBeats, 1.0);
    EXPECT_EQ(track.devices[0].typeId, "");
    EXPECT_TRUE(track.devices[0].enabled);
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

TEST(ProjectFileReading, IdsInUpperCaseAreAccepted) {
    const Project project = parsed(header(R"([{"id": "ABCDEFAB-CDEF-4ABC-8DEF-ABCDEFABCDEF"}])"));
    EXPECT_EQ(project.tracks()[0].id.toString(), "abcdefab-cdef-4abc-8def-abcdefabcdef");
}

TEST(ProjectFileReading, EqualIdsInDifferentContainersAreAccepted) {
    const std::string clip = R"({"id": "33333333-3333-4333-8333-333333333333"})";
    const Project project = parsed(header(R"([{"id": "22222222-2222-4222-8222-222222222221", "clips": [)" + clip +
                                          R"(]}, {"id": "22222222-2222-4222-8222-222222222222", "clips": [)" + clip +
                                          "]}]"));
    EXPECT_EQ(project.tracks()[0].clips[0].id, project.tracks()[1].clips[0].id);
}

TEST(ProjectFileReading, OddKindsFallBackWhereTheFormatSaysSo) {
    const Project project = parsed(oneTrack(
        R"(, "instrument_config": "Sampler", "kind": 5, "clips": "none", "devices": {"a": 1}, "muted": false)"));
    const Track& track = project.tracks()[0];
    EXPECT_TRUE(track.instrumentConfig.isEmptyObject());
    EXPECT_EQ(track.kind, "midi");
    EXPECT_TRUE(track.clips.empty());
    EXPECT_TRUE(track.devices.empty());
    EXPECT_FALSE(track.muted);
    const std::string written = projectToJsonText(project);
    EXPECT_EQ(written.find("instrument_config"), std::string::npos);
    EXPECT_EQ(written.find("muted"), std::string::npos);

    const Project device = parsed(oneTrack(
        R"(, "devices": [{"device_id": "ostrel.delay", "enabled": "no", "parameters": []}], "clips": [{"audio_source": 3, "notes": 7}])"));
    EXPECT_TRUE(device.tracks()[0].devices[0].enabled);
    EXPECT_TRUE(device.tracks()[0].devices[0].parameters.empty());
    EXPECT_EQ(device.tracks()[0].clips[0].audioSource, "");
    EXPECT_TRUE(device.tracks()[0].clips[0].notes.empty());
}

TEST(ProjectFileReading, AnyKindTextIsKept) {
    EXPECT_EQ(parsed(oneTrack(R"(, "kind": "video")")).tracks()[0].kind, "video");
}

TEST(ProjectFileReading, ValuesAreTakenAsTheyStandAndFractionsCutTowardZero) {
    const Project project = parsed(
        R"({"format": "ostrel-project", "format_version": 1, "tempo_bpm": 0, "tracks": [{"clips": [{"notes": [
            {"pitch": 61.9, "velocity": -3.7, "length_beats": -2},
            {"pitch": 200, "velocity": 0},
            {"pitch": 2147483647, "velocity": -2147483648}]}]}]})");
    EXPECT_EQ(project.tempoBpm(), 0.0);
    const auto& notes = project.tracks()[0].clips[0].notes;
    EXPECT_EQ(notes[0].pitch, 61);
    EXPECT_EQ(notes[0].velocity, -3);
    EXPECT_EQ(notes[0].lengthBeats, -2.0);
    EXPECT_EQ(notes[1].pitch, 200);
    EXPECT_EQ(notes[1].velocity, 0);
    EXPECT_EQ(notes[2].pitch, 2147483647);
    EXPECT_EQ(notes[2].velocity, -2147483648LL);
}

TEST(ProjectFileReading, KnobValuesOfAnyNumberKindAreRead) {
    const Project project = parsed(oneTrack(
        R"(, "devices": [{"device_id": "d", "parameters": {"a": 1, "b": -2, "c": 0.5, "d": 18446744073709551615}}])"));
    const auto& parameters = project.tracks()[0].devices[0].parameters;
    EXPECT_EQ(parameters.at("a"), 1.0);
    EXPECT_EQ(parameters.at("b"), -2.0);
    EXPECT_EQ(parameters.at("c"), 0.5);
    EXPECT_EQ(parameters.at("d"), 18446744073709551615.0);
}

TEST(ProjectFileReading, FractionalVersionsAreCutTowardZero) {
    std::vector<std::string> warnings;
    parsed(R"({"format": "ostrel-project", "format_version": 1.9, "tracks": []})", &warnings);
    EXPECT_TRUE(warnings.empty());
    parsed(R"({"format": "ostrel-project", "format_version": 2.5, "tracks": []})", &warnings);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("newer version"), std::string::npos);
}

TEST(ProjectFileReading, NullOutputPointersAreAllowed) {
    Project project;
    EXPECT_TRUE(parseProject(dataFile("version-0.ostproj"), project, nullptr, nullptr));
    EXPECT_FALSE(parseProject("", project, nullptr, nullptr));
}

// ---- Reader messages ----------------------------------------------------------------

struct Refusal {
    std::string text;
    std::string message;
};

TEST(ProjectFileMessages, EachProblemFailsTheLoadWithItsMessageAndLeavesOutAlone) {
    const std::string note = R"({"id": "44444444-4444-4444-8444-444444444444"})";
    const std::string device = R"({"device_id": "x", "id": "66666666-6666-4666-8666-666666666666"})";
    const std::string clip = R"({"id": "33333333-3333-4333-8333-333333333333"})";
    const std::vector<Refusal> refusals = {
        {"", "the file is not valid JSON"},
        {"[1, 2]", "the file is not valid JSON"},
        {"\"text\"", "the file is not valid JSON"},
        {"{\"format\": ", "the file is not valid JSON"},
        {"// comment\n" + header("[]"), "the file is not valid JSON"},
        {"{}", "this is not a Ostrel project file"},
        {R"({"format": "ostrel-patch", "tracks": []})", "this is not a Ostrel project file"},
        {R"({"format": 5, "tracks": []})", "this is not a Ostrel project file"},
        {R"({"format": "ostrel-project", "format_version": -1, "tracks": []})",
         "could not read this project file: don't know how to upgrade a project file from format version -1"},
        {R"({"format": "ostrel-project", "format_version": 1})", "the project has no list of tracks"},
        {header("{}"), "the project has no list of tracks"},
        {R"({"format": "ostrel-project"})", "the project has no list of tracks"},
        {header(R"([{"id": "22222222-2222-4222-8222-222222222222"}, {"id": "22222222-2222-4222-8222-222222222222"}])"),
         "two tracks in the project share an id"},
        {header("[{}, 3]"), "a track must be an object"},
        {oneTrack(R"(, "clips": [[]])"), "a clip must be an object"},
        {oneTrack(R"(, "clips": [)" + clip + "," + clip + "]"), "two clips on the same track share an id"},
        {oneTrack(R"(, "clips": [{"notes": [null]}])"), "a note must be an object"},
        {oneTrack(R"(, "clips": [{"notes": [)" + note + "," + note + "]}]"), "two notes in the same clip share an id"},
        {oneTrack(R"(, "devices": [5])"), "a device needs a \"device_id\""},
        {oneTrack(R"(, "devices": [{"name": "x"}])"), "a device needs a \"device_id\""},
        {oneTrack(R"(, "devices": [{"device_id": 3}])"), "a device needs a \"device_id\""},
        {oneTrack(R"(, "devices": [)" + device + "," + device + "]"), "two devices on the same track share an id"},
        {oneTrack(R"(, "devices": [{"device_id": "ostrel.delay", "parameters": {"time_ms": true}}])"),
         "knob \"time_ms\" of device ostrel.delay must be a number"},
        {oneTrack(R"(, "devices": [{"device_id": "ostrel.eq", "parameters": {"gain_db": "3"}}])"),
         "knob \"gain_db\" of device ostrel.eq must be a number"},
        // Each track is read in full before its id is compared.
        {header(R"([{"id": "22222222-2222-4222-8222-222222222222"},
                    {"id": "22222222-2222-4222-8222-222222222222", "clips": [{"notes": [1]}]}])"),
         "a note must be an object"},
    };
    for (const Refusal& refusal : refusals) {
        Project out = test::sampleProject();
        const Project before = out;
        std::string error = "untouched";
        EXPECT_FALSE(parseProject(refusal.text, out, &error, nullptr)) << refusal.text;
        EXPECT_EQ(error, refusal.message) << refusal.text;
        EXPECT_EQ(out, before) << "a failed read leaves out alone: " << refusal.text;
    }
}

// Values of the wrong kind or out of range must fail the load with a message, never
// escape as a library exception or wrap into a small number.
TEST(ProjectFileMessages, WrongKindsAndOutOfRangeNumbersAreRefused) {
    const std::vector<Refusal> refusals = {
        {R"({"format": "ostrel-project", "format_version": 1, "tempo_bpm": "fast", "tracks": []})",
         "the project's \"tempo_bpm\" must be a number"},
        {R"({"format": "ostrel-project", "format_version": 1, "name": 5, "tracks": []})",
         "the project's \"name\" must be text"},
        {R"({"format": "ostrel-project", "format_version": "one", "tracks": []})",
         "the format version of the file is not a number"},
        {R"({"format": "ostrel-project", "format_version": true, "tracks": []})",
         "the format version of the file is not a number"},
        {R"({"format": "ostrel-project", "format_version": 4294967297, "tracks": []})",
         "the format version of the file is out of range"},
        {R"({"format": "ostrel-project", "format_version": -4294967297, "tracks": []})",
         "the format version of the file is out of range"},
        {R"({"format": "ostrel-project", "format_version": 1e300, "tracks": []})",
         "the format version of the file is out of range"},
        {R"({"format": "ostrel-project", "format_version": 18446744073709551615, "tracks": []})",
         "the format version of the file is out of range"},
        {oneTrack(R"(, "name": ["x"])"), "a track's \"name\" must be text"},
        {oneTrack(R"(, "instrument_patch": 1)"), "a track's \"instrument_patch\" must be text"},
        {oneTrack(R"(, "muted": 1)"), "a track's \"muted\" must be true or false"},
        {oneTrack(R"(, "solo": "yes")"), "a track's \"solo\" must be true or false"},
        {oneTrack(R"(, "volume": "loud")"), "a track's \"volume\" must be a number"},
        {oneTrack(R"(, "volume": false)"), "a track's \"volume\" must be a number"},
        {oneTrack(R"(, "clips": [{"name": null}])"), "a clip's \"name\" must be text"},
        {oneTrack(R"(, "clips": [{"start_beats": null}])"), "a clip's \"start_beats\" must be a number"},
        {oneTrack(R"(, "clips": [{"length_beats": {}}])"), "a clip's \"length_beats\" must be a number"},
        {oneTrack(R"(, "clips": [{"audio_offset_seconds": "1s"}])"),
         "a clip's \"audio_offset_seconds\" must be a number"},
        {oneTrack(R"(, "clips": [{"notes": [{"pitch": "C4"}]}])"), "a note's \"pitch\" must be a number"},
        {oneTrack(R"(, "clips": [{"notes": [{"pitch": 4294967297}]}])"), "a note's \"pitch\" is out of range"},
        {oneTrack(R"(, "clips": [{"notes": [{"pitch": 1e300}]}])"), "a note's \"pitch\" is out of range"},
        {oneTrack(R"(, "clips": [{"notes": [{"pitch": 2147483648}]}])"), "a note's \"pitch\" is out of range"},
        {oneTrack(R"(, "clips": [{"notes": [{"velocity": -2147483649}]}])"), "a note's \"velocity\" is out of range"},
        {oneTrack(R"(, "clips": [{"notes": [{"velocity": 18446744073709551615}]}])"),
         "a note's \"velocity\" is out of range"},
        {oneTrack(R"(, "clips": [{"notes": [{"start_beats": true}]}])"), "a note's \"start_beats\" must be a number"},
        {oneTrack(R"(, "clips": [{"notes": [{"length_beats": "1"}]}])"), "a note's \"length_beats\" must be a number"},
        {oneTrack(R"(, "devices": [{"device_id": "x", "name": false}])"), "a device's \"name\" must be text"},
        {std::string(600, '[') + std::string(600, ']'), "the file nests too deeply to be read"},
        {header(R"([{"x": )" + std::string(600, '[') + std::string(600, ']') + "}]"),
         "the file nests too deeply to be read"},
    };
    for (const Refusal& refusal : refusals) {
        Project out = test::sampleProject();
        const Project before = out;
        std::string error;
        EXPECT_FALSE(parseProject(refusal.text, out, &error, nullptr)) << refusal.text.substr(0, 200);
        EXPECT_EQ(error, refusal.message) << refusal.text.substr(0, 200);
        EXPECT_EQ(out, before);
    }
}

TEST(ProjectFileMessages, NumbersTooLargeForADoubleAreNotValidJson) {
    Project out;
    std::string error;
    EXPECT_FALSE(parseProject(R"({"format": "ostrel-project", "tempo_bpm": 1e999, "tracks": []})", out, &error,
                              nullptr));
    EXPECT_EQ(error, "the file is not valid JSON");
}

TEST(ProjectFileMessages, BracketsInsideTextDoNotCountAsNesting) {
    const Project project = parsed(header("[]").insert(1, "\"deep\": \"" + std::string(2000, '[') + "\\\"\", "));
    EXPECT_EQ(project.extra().get()["deep"].get<std::string>().size(), 2001u);
}

TEST(ProjectFileMessages, AMissingFileCannotBeOpened) {
    TempDir dir;
    Project out = test::sampleProject();
    const Project before = out;
    std::string error;
    EXPECT_FALSE(loadProjectFile(dir / "nothing.ostproj", out, &error, nullptr));
    EXPECT_EQ(error, "cannot open " + (dir / "nothing.ostproj").string());
    EXPECT_FALSE(loadProjectFile(dir.path(), out, &error, nullptr));
    EXPECT_EQ(error, "cannot open " + dir.path().string());
    EXPECT_EQ(out, before);
}

TEST(ProjectFileMessages, AWarningGivenBeforeAFailureStays) {
    Project out;
    std::string error;
    std::vector<std::string> warnings;
    EXPECT_FALSE(parseProject(R"({"format": "ostrel-project", "format_version": 3, "tracks": 1})", out, &error,
                              &warnings));
    EXPECT_EQ(error, "the project has no list of tracks");
    EXPECT_EQ(warnings.size(), 1u);
}

}  // namespace
}  // namespace ostrel::model
