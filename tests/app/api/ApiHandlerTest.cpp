#include "app/api/ApiHandler.h"

#include "ProjectTestSupport.h"
#include "api_server/ApiTestSupport.h"
#include "api_server/jsonrpc/ApiError.h"
#include "api_server/jsonrpc/ApiServer.h"
#include "app/api/ApiDoors.h"
#include "core/BuildInfo.h"
#include "support/TempDir.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;
using nlohmann::json;

namespace {

// A song of two tracks: a MIDI track with an instrument, a two-note clip and a delay, and an
// audio track with one clip; "loop.wav" lies in the samples folder.
struct ApiSong {
    ApiSong() {
        keys.id = model::Uuid::generate();
        keys.name = "Keys";
        keys.instrumentPatch = "FM E-Piano";
        model::Clip verse;
        verse.id = model::Uuid::generate();
        verse.name = "Verse";
        verse.lengthBeats = 4.0;
        verse.notes = {model::Note{model::Uuid::generate(), 60, 100, 0.0, 1.0, {}},
                       model::Note{model::Uuid::generate(), 64, 90, 1.0, 1.0, {}}};
        keys.clips.push_back(verse);
        model::Device delay;
        delay.id = model::Uuid::generate();
        delay.typeId = "ostrel.delay";
        delay.name = "Delay";
        keys.devices.push_back(delay);

        loops.id = model::Uuid::generate();
        loops.name = "Loops";
        loops.kind = model::kAudioTrackKind;
        model::Clip loop;
        loop.id = model::Uuid::generate();
        loop.name = "Loop";
        loop.startBeats = 2.0;
        loop.lengthBeats = 6.0;
        loop.audioSource = "loop.wav";
        loops.clips.push_back(loop);
        song = model::makeProject(model::Uuid::generate(), "Api", 120.0, {keys, loops}, model::JsonValue{});
    }
    model::Track keys, loops;
    model::Project song;
};

struct Refusal {
    const char* what;
    std::string method;
    std::string params;  // text, so that text which is not JSON can be given
    int code;
    std::string message;
};

class ApiHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        rig.writeSample("loop.wav", 4800);
        rig.writeProject("api.ostproj", s.song);
        ASSERT_TRUE(rig.project.openProject("api.ostproj"));
        rig.project.refreshSamples();
    }

    std::string keys() const { return s.keys.id.toString(); }
    std::string loops() const { return s.loops.id.toString(); }
    json call(const std::string& method, const json& params = json::object()) {
        return json::parse(handler.handle(method, params.dump()));
    }

    // Each call is refused with its code and exact message.
    void expectRefusals(const std::vector<Refusal>& refusals) {
        for (const Refusal& r : refusals) {
            SCOPED_TRACE(r.what);
            try {
                (void)handler.handle(r.method, r.params);
                ADD_FAILURE() << "accepted";
            } catch (const api_server::ApiError& error) {
                EXPECT_EQ(error.code, r.code);
                EXPECT_EQ(std::string(error.what()), r.message);
            }
        }
    }

    ApiSong s;
    ProjectRig rig;
    ApiHandler handler{&rig.project, &rig.transport};
};

TEST_F(ApiHandlerTest, EveryRefusalHasItsCodeAndExactMessage) {
    const std::string k = keys();
    const std::string l = loops();
    std::string upper = k;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    const std::string noTrack = "no track with id \"nope\" (tracks.list shows the ids)";
    const std::vector<Refusal> refusals = {
        {"letter case makes another method", "Project.get", "{}", -32601, "unknown method: Project.get"},
        {"text that is not JSON is {}", "tracks.rename", "not json", -32602,
         "the parameter \"id\" (a text) is missing or wrong"},
        {"a number given as text", "project.setTempo", R"({"bpm":"120"})", -32602,
         "the parameter \"bpm\" (a number) is missing or wrong"},
        {"a yes/no given as 1", "tracks.setMuted", R"({"id":")" + k + R"(","muted":1})", -32602,
         "the parameter \"muted\" (a yes/no) is missing or wrong"},
        {"the flag is read before the track", "tracks.setMuted", R"({"id":"nope"})", -32602,
         "the parameter \"muted\" (a yes/no) is missing or wrong"},
        {"solo missing", "tracks.setSolo", R"({"id":")" + k + R"("})", -32602,
         "the parameter \"solo\" (a yes/no) is missing or wrong"},
        {"volume as text", "tracks.setVolume", R"({"id":")" + k + R"(","volume":"1"})", -32602,
         "the parameter \"volume\" (a number) is missing or wrong"},
        {"the track is looked up before the name is read", "tracks.rename", R"({"id":"nope"})", -32602, noTrack},
        {"ids compare in letter case", "tracks.rename", R"({"id":")" + upper + R"(","name":"x"})", -32602,
         "no track with id \"" + upper + "\" (tracks.list shows the ids)"},
        {"an empty track name", "tracks.rename", R"({"id":")" + k + R"(","name":""})", -32602,
         "the track name must not be empty"},
        {"an unknown track to remove", "tracks.remove", R"({"id":"nope"})", -32602, noTrack},
        {"an empty project name", "project.setName", R"({"name":""})", -32602, "the project name must not be empty"},
        {"no project name", "project.setName", "{}", -32602, "the parameter \"name\" (a text) is missing or wrong"},
        {"an audio track has no instrument", "tracks.setInstrument", R"({"id":")" + l + R"(","patch":""})", -32602,
         "audio tracks have no instrument (add a MIDI track with tracks.add)"},
        {"instrument names compare in letter case", "tracks.setInstrument",
         R"({"id":")" + k + R"(","patch":"fm e-piano"})", -32602,
         "unknown instrument \"fm e-piano\" (instruments.list shows the names)"},
        {"a trackId that is not text wins over a valid id", "tracks.addPattern",
         R"({"id":")" + k + R"(","trackId":5})", -32602, "the parameter \"trackId\" (a text) is missing or wrong"},
        {"patterns need a MIDI track", "tracks.addPattern", R"({"trackId":")" + l + R"("})", -32602,
         "patterns are MIDI: use a MIDI track (tracks.add)"},
        {"sound files need an audio track, before the file is read", "tracks.addAudioClip",
         R"({"trackId":")" + k + R"("})", -32602,
         "sound files go on an audio track (tracks.add makes a MIDI track; Edit > Add audio track makes an audio one)"},
        {"file names compare in letter case", "tracks.addAudioClip", R"({"id":")" + l + R"(","file":"LOOP.wav"})",
         -32602, "no sound file \"LOOP.wav\" in the samples folder (tracks.samples lists the files)"},
        {"a start beyond the song's limit", "tracks.addAudioClip",
         R"({"id":")" + l + R"(","file":"loop.wav","startBeats":1e300})", -32602,
         "startBeats must be a finite number of beats, at most 100000"},
        {"transport tempo as text", "transport.setTempo", R"({"bpm":"fast"})", -32602,
         "the parameter \"bpm\" (a number) is missing or wrong"},
    };
    expectRefusals(refusals);
    EXPECT_EQ(rig.project.name(), "Api") << "no refusal changed the song";
    EXPECT_FALSE(rig.project.canUndo());
}

struct Answer {
    std::string method;
    json params;
    std::string result;  // exact text
};

TEST_F(ApiHandlerTest, ReadingMethodsAnswerExactlyTheirMembersInKeyOrder) {
    const std::vector<Answer> answers = {
        {"app.ping", {}, R"({"api":1,"contract":"1.3","version":")" + core::appVersion() + "\"}"},
        {"project.get", {}, R"({"dirty":false,"lengthBeats":8.0,"name":"Api","tempo":120.0,"trackCount":2})"},
        {"tracks.samples", {}, R"({"samples":["loop.wav"]})"},
        {"transport.position", {}, R"({"playing":false,"positionBeats":0.0,"positionText":"1.1.1","tempo":120.0})"},
        {"history.info", {}, R"({"canRedo":false,"canUndo":false,"redoText":"","undoText":""})"},
        {"history.undo", {}, R"({"ok":false})"},
        {"history.redo", {}, R"({"ok":false})"},
        {"transport.stop", {}, R"({"playing":false})"},
    };
    for (const Answer& a : answers) {
        SCOPED_TRACE(a.method);
        EXPECT_EQ(handler.handle(a.method, a.params.dump()), a.result);
    }
}

TEST_F(ApiHandlerTest, TracksListDescribesEveryTrackFromItsMap) {
    const json tracks = call("tracks.list")["tracks"];
    ASSERT_EQ(tracks.size(), 2u);
    const json& k = tracks[0];
    EXPECT_EQ(k["id"], keys());
    EXPECT_EQ(k["name"], "Keys");
    EXPECT_EQ(k["kind"], "midi");
    EXPECT_EQ(k["instrument"], "FM E-Piano");
    EXPECT_EQ(k["muted"], false);
    EXPECT_EQ(k["solo"], false);
    EXPECT_EQ(k["volume"], 1.0);
    EXPECT_EQ(k["clipCount"], 1);
    EXPECT_EQ(k["noteCount"], 2);
    ASSERT_EQ(k["effects"].size(), 1u);
    EXPECT_EQ(k["effects"][0]["refId"], s.keys.devices[0].id.toString());
    EXPECT_EQ(k["effects"][0]["deviceId"], "ostrel.delay");
    EXPECT_EQ(k["effects"][0]["enabled"], true);
    EXPECT_TRUE(k["effects"][0]["parameters"].is_object());
    EXPECT_FALSE(k["effects"][0]["parameters"].empty()) << "every knob of the type, at least its default";
    EXPECT_EQ(tracks[1]["kind"], "audio");
    EXPECT_EQ(tracks[1]["instrument"], "");
    EXPECT_EQ(tracks[1]["noteCount"], 0);
}

TEST_F(ApiHandlerTest, InstrumentsListEndsWithTheTwoSampleInstrumentsEveryTime) {
    for (int round = 0; round < 2; ++round) {
        const json list = call("instruments.list")["instruments"];
        ASSERT_EQ(list.size(), 21u);
        EXPECT_EQ(list[19].dump(), R"({"category":"sampler","name":"Sampler"})");
        EXPECT_EQ(list[20].dump(), R"({"category":"drums","name":"Drum Rack"})");
    }
}

TEST_F(ApiHandlerTest, ProjectChangesAreUndoStepsThatHistoryMethodsWalk) {
    EXPECT_EQ(call("project.setName", {{"name", "Renamed"}}).dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.name(), "Renamed");
    EXPECT_EQ(call("project.setTempo", {{"bpm", 500}}).dump(), R"({"ok":true})");
    EXPECT_DOUBLE_EQ(rig.project.tempo(), 300.0) << "clamped by the controller, no range check of its own";
    EXPECT_EQ(call("history.info").dump(),
              R"({"canRedo":false,"canUndo":true,"redoText":"","undoText":"Set tempo"})");
    EXPECT_EQ(call("history.undo").dump(), R"({"ok":true})");
    EXPECT_EQ(call("history.undo").dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.name(), "Api");
    EXPECT_EQ(call("history.redo").dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.name(), "Renamed");
}

TEST_F(ApiHandlerTest, ANameOfSpacesPassesTheCheckAndChangesNothing) {
    EXPECT_EQ(call("project.setName", {{"name", "   "}}).dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.name(), "Api");
}

TEST_F(ApiHandlerTest, TransportTempoAnswersTheTempoAfterTheCall) {
    EXPECT_EQ(call("transport.setTempo", {{"bpm", 500}}).dump(), R"({"tempo":300.0})");
    EXPECT_EQ(call("transport.setTempo", {{"bpm", 95.04}}).dump(), R"({"tempo":95.0})");
}

TEST_F(ApiHandlerTest, PlayAnswersTheTransportsFlag) {
    const json answer = call("transport.play");
    EXPECT_EQ(answer["playing"], rig.transport.playing());
    EXPECT_EQ(call("transport.stop").dump(), R"({"playing":false})");
}

TEST_F(ApiHandlerTest, TrackEditsThatPassTheirChecksAnswerOk) {
    const std::vector<std::pair<std::string, json>> edits = {
        {"tracks.rename", {{"id", keys()}, {"name", "Piano"}}},
        {"tracks.setMuted", {{"id", keys()}, {"muted", true}}},
        {"tracks.setSolo", {{"id", keys()}, {"solo", true}}},
        {"tracks.setVolume", {{"id", keys()}, {"volume", 2}}},
        {"tracks.setInstrument", {{"id", keys()}, {"patch", ""}}},
        {"tracks.setInstrument", {{"id", keys()}, {"patch", "Drum Rack"}}},
        {"tracks.setInstrument", {{"id", keys()}, {"patch", "Sampler"}}},
    };
    for (const auto& [method, params] : edits) {
        SCOPED_TRACE(method + " " + params.dump());
        EXPECT_EQ(call(method, params).dump(), R"({"ok":true})");
    }
}

// Regression: chained .arg calls substituted the "%1" of the name again: "Lead 1" and "%3".
TEST_F(ApiHandlerTest, ANameHoldingPlaceholdersIsShownAsItIs) {
    EXPECT_EQ(call("tracks.rename", {{"id", keys()}, {"name", "Lead %1 %2"}}).dump(), R"({"ok":true})");
    EXPECT_EQ(call("tracks.remove", {{"id", keys()}}).dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.message(),
              "Removed track \"Lead %1 %2\" (1 clips, 1 effects) via the API. Press Ctrl+Z to undo.");
}

TEST_F(ApiHandlerTest, RemovingATrackLeavesAHintWithWhatWentAndHowToGetItBack) {
    EXPECT_EQ(call("tracks.remove", {{"id", keys()}}).dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.message(),
              "Removed track \"Keys\" (1 clips, 1 effects) via the API. Press Ctrl+Z to undo.");
    EXPECT_TRUE(rig.project.problem());
}

TEST_F(ApiHandlerTest, TracksAddAnswersTheNewId) { EXPECT_TRUE(call("tracks.add").contains("id")); }

TEST_F(ApiHandlerTest, ARenderThatCannotStartIsRefusedWithItsReason) {
    // Without an application object the song renders at once; this one has nothing to hear.
    rig.writeProject("silent.ostproj", model::makeProject(model::Uuid::generate(), "Silent", 120.0, {}, {}));
    ASSERT_TRUE(rig.project.openProject("silent.ostproj"));
    try {
        (void)call("project.renderToWav");
        ADD_FAILURE() << "accepted";
    } catch (const api_server::ApiError& error) {
        EXPECT_EQ(error.code, api_server::kInvalidParams);
        EXPECT_EQ(error.what(), rig.project.message().toStdString());
        EXPECT_FALSE(rig.project.message().isEmpty());
    }
}

// Regression: a queued render used to answer "started": false with no path.
TEST_F(ApiHandlerTest, AQueuedRenderAnswersStartedWithThePathItWillWrite) {
    int argc = 1;
    char name[] = "ostrel";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    const json answer = call("project.renderToWav");
    EXPECT_EQ(answer["started"], true);
    EXPECT_EQ(answer["path"], (rig.exports() / "Api.wav").string());
    ASSERT_EQ(rig.collect(1).size(), 1u);
}

TEST(SongLimits, NonFiniteValuesAndBeatsBeyondTheLimitAreRefused) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::string error;
    EXPECT_TRUE(ProjectController::checkFinite(1e300, "bpm", &error));
    EXPECT_FALSE(ProjectController::checkFinite(inf, "bpm", &error));
    EXPECT_EQ(error, "bpm must be a finite number");
    EXPECT_FALSE(ProjectController::checkFinite(nan, "volume", nullptr));
    EXPECT_TRUE(ProjectController::checkBeats(100000.0, "startBeats", nullptr));
    EXPECT_FALSE(ProjectController::checkBeats(100000.01, "startBeats", &error));
    EXPECT_EQ(error, "startBeats must be a finite number of beats, at most 100000");
    EXPECT_FALSE(ProjectController::checkBeats(nan, "startBeats", nullptr));
    EXPECT_FALSE(ProjectController::checkBeats(-inf, "startBeats", nullptr));
}

TEST(SongLimits, AnInfiniteTempoChangesNeitherTheSongNorTheTransport) {
    ProjectRig rig;
    rig.project.setTempo(std::numeric_limits<double>::infinity());
    rig.transport.setTempo(-std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(rig.project.tempo(), 120.0);
    EXPECT_DOUBLE_EQ(rig.transport.tempo(), 120.0);
    EXPECT_FALSE(rig.project.canUndo());
}

// Clip and device methods.

class ApiClipTest : public ApiHandlerTest {
protected:
    std::string verse() const { return s.keys.clips[0].id.toString(); }
    std::string loop() const { return s.loops.clips[0].id.toString(); }
    std::string delay() const { return s.keys.devices[0].id.toString(); }
    std::string note(std::size_t i) const { return s.keys.clips[0].notes[i].id.toString(); }
    // The keys track with `extra` members, as request text.
    std::string onKeys(const std::string& extra = "") const {
        return R"({"trackId":")" + keys() + "\"" + (extra.empty() ? "" : "," + extra) + "}";
    }
    std::string onVerse(const std::string& extra = "") const {
        return onKeys(R"("clipId":")" + verse() + "\"" + (extra.empty() ? "" : "," + extra));
    }
    std::string onLoop(const std::string& extra = "") const {
        return R"({"trackId":")" + loops() + R"(","clipId":")" + loop() + "\"" + (extra.empty() ? "" : "," + extra) +
               "}";
    }
    std::string onDelay(const std::string& extra = "") const {
        return onKeys(R"("deviceId":")" + delay() + "\"" + (extra.empty() ? "" : "," + extra));
    }
    json clipsOf(const std::string& track) { return call("clips.list", {{"trackId", track}})["clips"]; }
    json clipOf(const std::string& track, const json& id) {
        for (const json& clip : clipsOf(track)) {
            if (clip["id"] == id) {
                return clip;
            }
        }
        return json::object();
    }
    json verseNotes() { return call("clips.notes", {{"trackId", keys()}, {"clipId", verse()}})["notes"]; }
    json verseNote(const json& id) {
        for (const json& each : verseNotes()) {
            if (each["id"] == id) {
                return each;
            }
        }
        return json::object();
    }
    json chain() { return call("devices.list", {{"trackId", keys()}})["devices"]; }
};

TEST_F(ApiClipTest, EveryRefusalHasItsExactMessageAndChangesNothing) {
    const std::string audioClip = "clip \"" + loop() + "\" is an audio clip: it has no notes";
    const std::string inside = "atBeats must be inside the clip (between its start and its end, in song beats)";
    const std::string moveThere =
        "the clip could not be moved there (an audio clip needs an audio track, a MIDI clip a MIDI track)";
    const std::string pitch = "pitch must be a MIDI note number from 0 to 127 (60 = middle C)";
    const std::string limit = " must be a finite number of beats, at most 100000";
    const std::vector<Refusal> refusals = {
        {"clips of an unknown track", "clips.list", R"({"trackId":"nope"})", -32602,
         "no track with id \"nope\" (tracks.list shows the ids)"},
        {"clips name their track by trackId only", "clips.list", R"({"id":")" + keys() + "\"}", -32602,
         "the parameter \"trackId\" (a text) is missing or wrong"},
        {"empty clips need a MIDI track, before the length is read", "clips.add", R"({"trackId":")" + loops() + "\"}",
         -32602, "empty clips are MIDI: use a MIDI track (audio clips come from tracks.addAudioClip)"},
        {"the length is checked before the start is read", "clips.add", onKeys(R"("lengthBeats":0)"), -32602,
         "lengthBeats must be greater than 0"},
        {"a valid length and no start", "clips.add", onKeys(R"("lengthBeats":4)"), -32602,
         "the parameter \"startBeats\" (a number) is missing or wrong"},
        {"a length beyond the song's limit", "clips.add", onKeys(R"("lengthBeats":1e300,"startBeats":0)"), -32602,
         "lengthBeats" + limit},
        {"a start beyond the song's limit", "clips.add", onKeys(R"("lengthBeats":4,"startBeats":100001)"), -32602,
         "startBeats" + limit},
        {"a clip of another track is looked for on this one", "clips.move",
         onKeys(R"("clipId":")" + loop() + R"(","startBeats":0)"), -32602,
         "track \"Keys\" has no clip with id \"" + loop() + "\" (clips.list shows the ids)"},
        {"a target track that does not exist", "clips.move", onVerse(R"("toTrackId":"nope")"), -32602,
         "no track with id \"nope\" (tracks.list shows the ids)"},
        {"an audio clip onto a MIDI track", "clips.move", onLoop(R"("toTrackId":")" + keys() + R"(","startBeats":0)"),
         -32602, moveThere},
        {"a MIDI clip onto an audio track", "clips.move", onVerse(R"("toTrackId":")" + loops() + R"(","startBeats":0)"),
         -32602, moveThere},
        {"a move beyond the song's limit", "clips.move", onVerse(R"("startBeats":1e300)"), -32602,
         "startBeats" + limit},
        {"a resize to nothing", "clips.resize", onVerse(R"("lengthBeats":-1)"), -32602,
         "lengthBeats must be greater than 0"},
        {"a resize beyond the song's limit", "clips.resize", onVerse(R"("lengthBeats":200000)"), -32602,
         "lengthBeats" + limit},
        {"a cut at the clip's start", "clips.split", onVerse(R"("atBeats":0)"), -32602, inside},
        {"a cut at the clip's end", "clips.split", onVerse(R"("atBeats":4)"), -32602, inside},
        {"a cut that leaves too short a part", "clips.split", onVerse(R"("atBeats":0.1)"), -32602,
         "the clip could not be split there"},
        {"an unknown clip to remove", "clips.remove", onKeys(R"("clipId":"nope")"), -32602,
         "track \"Keys\" has no clip with id \"nope\" (clips.list shows the ids)"},
        {"an unknown clip to copy", "clips.duplicate", onKeys(R"("clipId":"nope")"), -32602,
         "track \"Keys\" has no clip with id \"nope\" (clips.list shows the ids)"},
        {"an audio clip has no notes to list", "clips.notes", onLoop(), -32602, audioClip},
        {"an audio clip, before any other parameter", "clips.addNote", onLoop(), -32602, audioClip},
        {"an audio clip has no notes to edit", "clips.editNote", onLoop(), -32602, audioClip},
        {"an audio clip has no notes to remove", "clips.removeNote", onLoop(), -32602, audioClip},
        {"an audio clip has no notes to quantize", "clips.quantize", onLoop(), -32602, audioClip},
        {"a pitch just above the range", "clips.addNote", onVerse(R"("pitch":127.5,"startBeats":0,"lengthBeats":1)"),
         -32602, pitch},
        {"a pitch just below the range", "clips.addNote", onVerse(R"("pitch":-0.5,"startBeats":0,"lengthBeats":1)"),
         -32602, pitch},
        {"the pitch is checked after all four numbers are read", "clips.addNote", onVerse(R"("pitch":200)"), -32602,
         "the parameter \"startBeats\" (a number) is missing or wrong"},
        {"a velocity below 1", "clips.addNote",
         onVerse(R"("pitch":60,"velocity":0.5,"startBeats":0,"lengthBeats":1)"), -32602,
         "velocity must be from 1 to 127"},
        {"a negative start", "clips.addNote", onVerse(R"("pitch":60,"startBeats":-1,"lengthBeats":1)"), -32602,
         "startBeats must not be negative"},
        {"a note of no length", "clips.addNote", onVerse(R"("pitch":60,"startBeats":0,"lengthBeats":0)"), -32602,
         "lengthBeats must be greater than 0"},
        {"a note beyond the song's limit", "clips.addNote",
         onVerse(R"("pitch":60,"startBeats":1e12,"lengthBeats":1)"), -32602, "startBeats" + limit},
        {"a note too long for the song", "clips.addNote",
         onVerse(R"("pitch":60,"startBeats":0,"lengthBeats":1e12)"), -32602, "lengthBeats" + limit},
        {"the note is looked for only after the checks", "clips.editNote",
         onVerse(R"("noteId":"nope","pitch":128,"startBeats":0,"lengthBeats":1)"), -32602, pitch},
        {"an edit of a note the clip lacks", "clips.editNote",
         onVerse(R"("noteId":"nope","pitch":60,"startBeats":0,"lengthBeats":1)"), -32602,
         "clip \"" + verse() + "\" has no note with id \"nope\" (clips.notes shows the ids)"},
        {"a note id is a text", "clips.editNote", onVerse(R"("noteId":5,"pitch":60,"startBeats":0,"lengthBeats":1)"),
         -32602, "the parameter \"noteId\" (a text) is missing or wrong"},
        {"a removal of a note the clip lacks", "clips.removeNote", onVerse(R"("noteId":"nope")"), -32602,
         "clip \"" + verse() + "\" has no note with id \"nope\" (clips.notes shows the ids)"},
        {"knobs of a type no device has", "devices.knobs", R"({"deviceId":"ostrel.nothing"})", -32602,
         "unknown device \"ostrel.nothing\" (devices.catalogue lists the effects)"},
        {"an effect type that does not exist", "devices.add", onKeys(R"("deviceId":"ostrel.nothing","preset":"x")"),
         -32602, "unknown effect \"ostrel.nothing\" (devices.catalogue lists the effects)"},
        {"a preset of another effect type", "devices.add", onKeys(R"("deviceId":"ostrel.delay","preset":"Big Hall")"),
         -32602, "the effect \"ostrel.delay\" has no preset \"Big Hall\" (devices.catalogue lists them)"},
        {"an unknown effect to remove", "devices.remove", onKeys(R"("deviceId":"nope")"), -32602,
         "track \"Keys\" has no effect with id \"nope\" (devices.list shows the chain)"},
        {"the switch is read before the effect is looked up", "devices.setEnabled", onKeys(R"("deviceId":"nope")"),
         -32602, "the parameter \"enabled\" (a yes/no) is missing or wrong"},
        {"an index past the chain", "devices.move", onDelay(R"("newIndex":1)"), -32602,
         "newIndex must be a position in the chain (0 to 0)"},
        {"an index before the chain", "devices.move", onDelay(R"("newIndex":-0.5)"), -32602,
         "newIndex must be a position in the chain (0 to 0)"},
        {"the knob is checked before the value is read", "devices.setParameter", onDelay(R"("key":"size")"), -32602,
         "the effect \"ostrel.delay\" has no knob \"size\" (devices.knobs lists them)"},
        {"a knob value as text", "devices.setParameter", onDelay(R"("key":"mix","value":"1")"), -32602,
         "the parameter \"value\" (a number) is missing or wrong"},
    };
    expectRefusals(refusals);
    EXPECT_FALSE(rig.project.canUndo()) << "no refusal changed the song";
}

// Regression: these reached the client as the JSON library's own exception text,
// "[json.exception.type_error.302] type must be number, but is string".
TEST_F(ApiClipTest, AnOptionalParameterOfTheWrongTypeIsRefusedInWords) {
    const std::vector<Refusal> refusals = {
        {"start as text", "tracks.addAudioClip", R"({"id":")" + loops() + R"(","file":"loop.wav","startBeats":"x"})",
         -32602, "the parameter \"startBeats\" (a number) is wrong"},
        {"target track as a number", "clips.move", onVerse(R"("toTrackId":5,"startBeats":0)"), -32602,
         "the parameter \"toTrackId\" (a text) is wrong"},
        {"velocity as text", "clips.addNote", onVerse(R"("pitch":60,"startBeats":0,"lengthBeats":1,"velocity":"loud")"),
         -32602, "the parameter \"velocity\" (a number) is wrong"},
        {"preset as a number", "devices.add", onKeys(R"("deviceId":"ostrel.delay","preset":5)"), -32602,
         "the parameter \"preset\" (a text) is wrong"},
    };
    expectRefusals(refusals);
    EXPECT_FALSE(rig.project.canUndo());
}

TEST_F(ApiClipTest, ClipsListDescribesEveryClipInOrder) {
    EXPECT_EQ(call("clips.list", {{"trackId", keys()}}).dump(),
              R"({"clips":[{"audio":false,"id":")" + verse() + R"(","length":4.0,"name":"Verse","start":0.0}]})");
    EXPECT_EQ(clipsOf(loops())[0]["audio"], true);
}

TEST_F(ApiClipTest, ClipEditsAreUndoStepsWithTheirNames) {
    const json added = call("clips.add", {{"trackId", keys()}, {"lengthBeats", 2}, {"startBeats", 8}})["clipId"];
    EXPECT_EQ(rig.project.undoText(), "Add clip");
    EXPECT_EQ(clipsOf(keys()).size(), 2u);
    EXPECT_EQ(clipOf(keys(), added)["name"], "Clip");
    EXPECT_EQ(clipOf(keys(), added)["start"], 8.0);

    EXPECT_EQ(call("clips.move", {{"trackId", keys()}, {"clipId", verse()}, {"startBeats", 16}}).dump(),
              R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Edit clip");
    EXPECT_EQ(clipOf(keys(), verse())["start"], 16.0);

    EXPECT_EQ(call("clips.resize", {{"trackId", keys()}, {"clipId", verse()}, {"lengthBeats", 6}}).dump(),
              R"({"ok":true})");
    EXPECT_EQ(clipOf(keys(), verse())["length"], 6.0);

    const json split = call("clips.split", {{"trackId", keys()}, {"clipId", verse()}, {"atBeats", 18}})["clipId"];
    EXPECT_EQ(rig.project.undoText(), "Split clip");
    EXPECT_EQ(clipsOf(keys()).size(), 3u);
    EXPECT_EQ(clipOf(keys(), split)["start"], 18.0);
    EXPECT_EQ(clipOf(keys(), split)["length"], 4.0);

    const json copy = call("clips.duplicate", {{"trackId", keys()}, {"clipId", added}})["clipId"];
    EXPECT_EQ(rig.project.undoText(), "Add clip");
    EXPECT_EQ(clipOf(keys(), copy)["start"], 10.0) << "the copy starts where the copied clip ends";
}

TEST_F(ApiClipTest, AMoveOntoAnotherTrackOfTheSameKindIsOneStep) {
    const std::string other = call("tracks.add")["id"];
    EXPECT_EQ(
        call("clips.move", {{"trackId", keys()}, {"clipId", verse()}, {"toTrackId", other}, {"startBeats", 3}}).dump(),
        R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Move clip");
    EXPECT_TRUE(clipsOf(keys()).empty());
    EXPECT_EQ(clipsOf(other).size(), 1u);
    EXPECT_EQ(clipOf(other, verse())["start"], 3.0);
    call("history.undo");
    EXPECT_EQ(clipsOf(keys()).size(), 1u);
}

TEST_F(ApiClipTest, RemovingAClipLeavesAHint) {
    EXPECT_EQ(call("clips.remove", {{"trackId", keys()}, {"clipId", verse()}}).dump(), R"({"ok":true})");
    EXPECT_TRUE(clipsOf(keys()).empty());
    EXPECT_EQ(rig.project.undoText(), "Remove clip");
    EXPECT_EQ(rig.project.message(),
              "Removed the clip \"Verse\" from track \"Keys\" via the API. Press Ctrl+Z to undo.");
    EXPECT_TRUE(rig.project.problem());
}

// Regression: clips.add, clips.resize and the rest let a clip end past the song's limit, which
// tracks.addPattern keeps to; and the page gave clips.duplicate's refusal in other words.
TEST_F(ApiClipTest, NoEditEndsAClipPastTheSongsLimitAndThePageGivesEachRefusalInTheProgramsWords) {
    call("clips.move", {{"trackId", keys()}, {"clipId", verse()}, {"startBeats", 99996}});
    ASSERT_EQ(clipOf(keys(), verse())["start"], 99996.0) << "a clip may end at the limit itself";
    const model::Project before = rig.project.document();
    const std::string clipEnd = "the clip's end must be a finite number of beats, at most 100000";
    const std::vector<Refusal> refusals = {
        {"a clip from the last beat", "clips.add", onKeys(R"("lengthBeats":4,"startBeats":99999)"), -32602, clipEnd},
        {"a short clip, made a beat long", "clips.add", onKeys(R"("lengthBeats":0.5,"startBeats":99999.5)"), -32602,
         clipEnd},
        {"a resize as long as the song", "clips.resize", onLoop(R"("lengthBeats":100000)"), -32602, clipEnd},
        {"a resize of a clip that ends at the limit", "clips.resize", onVerse(R"("lengthBeats":4.5)"), -32602,
         clipEnd},
        {"a move a beat later", "clips.move", onVerse(R"("startBeats":99997)"), -32602, clipEnd},
        {"a copy after a clip that ends at the limit", "clips.duplicate", onVerse(), -32602,
         "the copy's end must be a finite number of beats, at most 100000"},
        {"a sound from the last beat", "tracks.addAudioClip",
         R"({"trackId":")" + loops() + R"(","file":"loop.wav","startBeats":99999.9})", -32602, clipEnd},
        {"a note past the clip's end and the song's", "clips.addNote",
         onVerse(R"("pitch":60,"startBeats":3,"lengthBeats":2)"), -32602,
         "the note's end must be a finite number of beats, at most 100000"},
    };
    expectRefusals(refusals);
    EXPECT_TRUE(rig.project.document() == before);
    const std::string page = readFile(std::filesystem::path(OSTREL_DOCS_DIR) / "control-api.md");
    for (const Refusal& r : refusals) {
        EXPECT_NE(page.find("`" + r.message + "`"), std::string::npos) << r.what << ": not on the page";
    }
}

TEST_F(ApiClipTest, ANoteThatWouldEndBeyondTheSongsLimitIsRefused) {
    call("clips.move", {{"trackId", keys()}, {"clipId", verse()}, {"startBeats", 99996}});
    for (const std::string method : {"clips.addNote", "clips.editNote"}) {
        SCOPED_TRACE(method);
        try {
            (void)call(method, {{"trackId", keys()},
                                {"clipId", verse()},
                                {"noteId", note(0)},
                                {"pitch", 60},
                                {"startBeats", 3.5},
                                {"lengthBeats", 1}});
            ADD_FAILURE() << "accepted";
        } catch (const api_server::ApiError& error) {
            EXPECT_EQ(error.code, api_server::kInvalidParams);
            EXPECT_STREQ(error.what(), "the note's end must be a finite number of beats, at most 100000");
        }
    }
    EXPECT_EQ(verseNote(note(0))["length"], 1.0);
    EXPECT_EQ(call("clips.addNote", {{"trackId", keys()},
                                     {"clipId", verse()},
                                     {"pitch", 60},
                                     {"startBeats", 3.5},
                                     {"lengthBeats", 0.5}})
                  .size(),
              1u)
        << "a note that ends at the limit is taken";
}

TEST_F(ApiClipTest, NotesAreListedWithStartsFromTheirClipsStart) {
    call("clips.move", {{"trackId", keys()}, {"clipId", verse()}, {"startBeats", 16}});
    EXPECT_EQ(verseNotes().dump(), R"([{"id":")" + note(0) +
                                       R"(","length":1.0,"pitch":60,"start":0.0,"velocity":100},{"id":")" + note(1) +
                                       R"(","length":1.0,"pitch":64,"start":1.0,"velocity":90}])");
}

TEST_F(ApiClipTest, AddedNotesCutPitchTowardsZeroAndDefaultTheVelocity) {
    const json added = call("clips.addNote", {{"trackId", keys()},
                                              {"clipId", verse()},
                                              {"pitch", 60.9},
                                              {"startBeats", 0},
                                              {"lengthBeats", 0.25}});
    EXPECT_EQ(rig.project.undoText(), "Add note");
    EXPECT_EQ(verseNotes().size(), 3u);
    const json note = verseNote(added["noteId"]);
    EXPECT_EQ(note["pitch"], 60);
    EXPECT_EQ(note["velocity"], 100);
    EXPECT_EQ(note["length"], 0.25);
}

// Regression: an edit without a velocity set the note's velocity to 100.
TEST_F(ApiClipTest, AnEditWithoutAVelocityKeepsTheNotesOwn) {
    EXPECT_EQ(call("clips.editNote", {{"trackId", keys()},
                                      {"clipId", verse()},
                                      {"noteId", note(1)},
                                      {"pitch", 67.5},
                                      {"startBeats", 2},
                                      {"lengthBeats", 0.5}})
                  .dump(),
              R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Edit note");
    const json edited = verseNote(note(1));
    EXPECT_EQ(edited["pitch"], 67);
    EXPECT_EQ(edited["velocity"], 90);
    EXPECT_EQ(edited["start"], 2.0);
    EXPECT_EQ(edited["length"], 0.5);

    call("clips.editNote", {{"trackId", keys()},
                            {"clipId", verse()},
                            {"noteId", note(1)},
                            {"pitch", 67},
                            {"velocity", 30.7},
                            {"startBeats", 2},
                            {"lengthBeats", 0.5}});
    EXPECT_EQ(verseNote(note(1))["velocity"], 30) << "a given velocity is cut like the pitch";
}

TEST_F(ApiClipTest, RemovingANoteLeavesAHintWithItsPitch) {
    EXPECT_EQ(call("clips.removeNote", {{"trackId", keys()}, {"clipId", verse()}, {"noteId", note(1)}}).dump(),
              R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Remove note");
    ASSERT_EQ(verseNotes().size(), 1u);
    EXPECT_EQ(rig.project.message(),
              "Removed a note (pitch 64) from clip \"Verse\" via the API. Press Ctrl+Z to undo.");
    call("clips.removeNote", {{"trackId", keys()}, {"clipId", verse()}, {"noteId", note(0)}});
    try {
        (void)call("clips.removeNote", {{"trackId", keys()}, {"clipId", verse()}, {"noteId", note(0)}});
        ADD_FAILURE() << "a clip without notes accepted a removal";
    } catch (const api_server::ApiError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "clip \"" + verse() + "\" has no note with id \"" + note(0) + "\" (clips.notes shows the ids)");
    }
}

TEST_F(ApiClipTest, QuantizeAnswersHowManyNotesMoved) {
    EXPECT_EQ(call("clips.quantize", {{"trackId", keys()}, {"clipId", verse()}}).dump(), R"({"moved":0})");
    const json added = call("clips.addNote", {{"trackId", keys()},
                                              {"clipId", verse()},
                                              {"pitch", 62},
                                              {"startBeats", 2.1},
                                              {"lengthBeats", 0.5}})["noteId"];
    EXPECT_EQ(call("clips.quantize", {{"trackId", keys()}, {"clipId", verse()}}).dump(), R"({"moved":1})");
    EXPECT_EQ(rig.project.undoText(), "Quantize clip");
    EXPECT_EQ(verseNote(added)["start"], 2.0);
}

TEST_F(ApiClipTest, TheCatalogueListsTheEffectsWithPresetsAndTheirKnobs) {
    const json devices = call("devices.catalogue")["devices"];
    ASSERT_EQ(devices.size(), 5u);
    for (const json& device : devices) {
        SCOPED_TRACE(device.dump());
        EXPECT_TRUE(device["id"].is_string());
        EXPECT_TRUE(device["name"].is_string());
        ASSERT_FALSE(device["presets"].empty());
        EXPECT_TRUE(device["presets"][0]["name"].is_string());
        EXPECT_TRUE(device["presets"][0]["tags"].is_array());
        const json knobs = call("devices.knobs", {{"deviceId", device["id"]}})["knobs"];
        ASSERT_FALSE(knobs.empty());
        for (const char* member : {"key", "name", "unit", "min", "max", "def", "kind", "help"}) {
            EXPECT_TRUE(knobs[0].contains(member)) << member;
        }
    }
}

TEST_F(ApiClipTest, EffectChainEditsAreUndoStepsWithTheirNames) {
    const json plain = call("devices.add", {{"trackId", keys()}, {"deviceId", "ostrel.reverb"}});
    EXPECT_EQ(rig.project.undoText(), "Add device");
    const json preset =
        call("devices.add", {{"trackId", keys()}, {"deviceId", "ostrel.delay"}, {"preset", "Slapback"}});
    ASSERT_EQ(chain().size(), 3u);
    EXPECT_EQ(chain()[1]["refId"], plain["refId"]);
    EXPECT_EQ(chain()[1]["deviceId"], "ostrel.reverb");
    EXPECT_EQ(chain()[2]["refId"], preset["refId"]);
    EXPECT_EQ(chain()[2]["parameters"]["time_ms"], 90.0) << "the preset's values";

    EXPECT_EQ(call("devices.move", {{"trackId", keys()}, {"deviceId", delay()}, {"newIndex", 1.7}}).dump(),
              R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Move device");
    EXPECT_EQ(chain()[1]["refId"], delay());

    EXPECT_EQ(call("devices.setEnabled", {{"trackId", keys()}, {"deviceId", delay()}, {"enabled", false}}).dump(),
              R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Bypass device");
    EXPECT_EQ(chain()[1]["enabled"], false);

    EXPECT_EQ(
        call("devices.setParameter", {{"trackId", keys()}, {"deviceId", delay()}, {"key", "time_ms"}, {"value", 1e6}})
            .dump(),
        R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Set time_ms");
    EXPECT_EQ(chain()[1]["parameters"]["time_ms"], 2000.0) << "held at the knob's maximum";

    EXPECT_EQ(call("devices.remove", {{"trackId", keys()}, {"deviceId", delay()}}).dump(), R"({"ok":true})");
    EXPECT_EQ(rig.project.undoText(), "Remove device");
    EXPECT_EQ(rig.project.message(),
              "Removed the effect \"Delay\" from track \"Keys\" via the API. Press Ctrl+Z to undo.");
    EXPECT_EQ(chain().size(), 2u);
}

struct Rewrite {
    const char* what;
    std::string method;
    std::string params;
    std::string expected;  // empty: unchanged
};

TEST_F(ApiHandlerTest, TrackNumbersBecomeIdsOnlyWhereAMethodNamesATrack) {
    const std::vector<Rewrite> rewrites = {
        {"the second track", "tracks.setMuted", R"({"id":"2","muted":true})",
         R"({"id":")" + loops() + R"(","muted":true})"},
        {"trackId for device methods", "devices.remove", R"({"deviceId":"d","trackId":"1"})",
         R"({"deviceId":"d","trackId":")" + keys() + R"("})"},
        {"the tenth of two tracks is beyond the song", "tracks.setMuted", R"({"id":"10","muted":true})", ""},
        {"a leading zero is not a track number", "tracks.setMuted", R"({"id":"02","muted":true})", ""},
        {"there is no track 0", "tracks.setMuted", R"({"id":"0","muted":true})", ""},
        {"a sign is not a digit", "tracks.setMuted", R"({"id":"+1","muted":true})", ""},
        {"beyond the last track", "tracks.setMuted", R"({"id":"3","muted":true})", ""},
        {"a number is not a text", "tracks.setMuted", R"({"id":2,"muted":true})", ""},
        {"a full id", "tracks.remove", R"({"id":")" + keys() + R"("})", ""},
        {"a method without a track", "project.setName", R"({"name":"1"})", ""},
        {"not an object", "tracks.remove", "[1]", ""},
        {"ten digits", "tracks.remove", R"({"id":"1111111111"})", ""},
    };
    for (const Rewrite& r : rewrites) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(handler.resolveTrackNumbers(r.method, r.params), r.expected.empty() ? r.params : r.expected);
    }
}

// Regression: a '0' anywhere made the text an id, so the tenth, twentieth or hundred-and-fifth
// track could not be named by its number.
TEST_F(ApiHandlerTest, TrackNumbersWithAZeroNameTheirTrackToo) {
    std::vector<std::string> ids{keys(), loops()};
    while (ids.size() < 10) {
        ids.push_back(call("tracks.add")["id"]);
    }
    EXPECT_EQ(handler.resolveTrackNumbers("tracks.setSolo", R"({"id":"10","solo":true})"),
              R"({"id":")" + ids[9] + R"(","solo":true})");
    const api_server::OscServer::Handler osc = oscRequestHandler(handler);
    EXPECT_EQ(osc("tracks.setSolo", R"({"id":"10","solo":true})"), R"({"ok":true})");
    EXPECT_EQ(call("tracks.list")["tracks"][9]["solo"], true);
    EXPECT_THROW((void)osc("tracks.setSolo", R"({"id":"11","solo":true})"), api_server::ApiError);
}

TEST_F(ApiHandlerTest, TheOscHandlerCallsTheMethodWithTheTrackItNumbered) {
    const api_server::OscServer::Handler osc = oscRequestHandler(handler);
    EXPECT_EQ(osc("tracks.remove", R"({"id":"1"})"), R"({"ok":true})");
    EXPECT_EQ(rig.project.message(),
              "Removed track \"Keys\" (1 clips, 1 effects) via the API. Press Ctrl+Z to undo.");
    EXPECT_THROW((void)osc("tracks.remove", R"({"id":"9"})"), api_server::ApiError);
}

// The doors as main wires them, over the loopback port: the network thread, the 30 ms door
// pump on this thread's event loop, the method table and the controllers. `client` talks
// to the port from a thread of its own while this thread's events run. False when the door
// did not open.
bool talkOverTheDoor(ProjectController& project, ApiHandler& handler,
                     const std::function<void(TestClient&)>& client) {
    int argc = 1;
    char name[] = "ostrel";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    auto server = std::make_unique<api_server::ApiServer>(nullptr);
    auto osc = std::make_unique<api_server::OscServer>(nullptr);
    server->handler = apiRequestHandler(handler);
    osc->handler = oscRequestHandler(handler);
    if (!server->start(0, "secret")) {
        return false;
    }
    QTimer pump;
    connectDoors(pump, project, *server, *osc);

    std::atomic<bool> done{false};
    std::thread talk([&] {
        TestClient tcp(server->port());
        client(tcp);
        done.store(true);
    });
    QEventLoop loop;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, &loop, [&] {
        if (done.load()) {
            loop.quit();
        }
    });
    watch.start(5);
    loop.exec();
    talk.join();
    pump.stop();
    server->stop();
    return true;
}

// The whole road; the change's notification comes before the reply.
TEST_F(ApiHandlerTest, ARequestOverTcpChangesTheSongAndTheClientHearsOfItFirst) {
    std::vector<std::string> lines;
    ASSERT_TRUE(talkOverTheDoor(rig.project, handler, [&](TestClient& tcp) {
        if (tcp.sendLine(R"({"id":7,"method":"project.setName","params":{"name":"Wire"},"token":"secret"})")) {
            for (int i = 0; i < 2; ++i) {
                if (std::optional<std::string> line = tcp.readLine()) {
                    lines.push_back(*line);
                }
            }
        }
    }));

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              R"({"jsonrpc":"2.0","method":"ostrel/project.changed","params":{"name":"Wire","tempo":120.0,"trackCount":2}})");
    EXPECT_EQ(lines[1], R"({"id":7,"jsonrpc":"2.0","result":{"ok":true}})");
    EXPECT_EQ(rig.project.name(), "Wire");
}

struct LongReply {
    const char* method;
    std::string params;
    const char* list;
    std::size_t length;
};

// Regression: a reply longer than one ring slot (8 KB) was refused -32003 "the reply is too
// long", so tracks.list failed at 47 tracks and clips.notes at 84 notes.
TEST(ApiLongReplyTest, ListsOfALargeSongArriveWholeOverTheDoor) {
    constexpr int kTracks = 500;
    constexpr int kNotes = 10000;
    std::vector<model::Track> tracks(kTracks);
    for (int t = 0; t < kTracks; ++t) {
        tracks[t].id = model::Uuid::generate();
        tracks[t].name = "Track " + std::to_string(t + 1);
    }
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = "Long";
    clip.lengthBeats = kNotes / 4.0;
    for (int n = 0; n < kNotes; ++n) {
        clip.notes.push_back(model::Note{model::Uuid::generate(), 36 + n % 48, 64 + n % 64, n / 4.0, 0.25, {}});
    }
    tracks[0].clips.push_back(clip);
    ProjectRig rig;
    rig.writeProject("large.ostproj", model::makeProject(model::Uuid::generate(), "Large", 120.0, tracks,
                                                         model::JsonValue{}));
    ASSERT_TRUE(rig.project.openProject("large.ostproj"));
    ApiHandler handler(&rig.project, &rig.transport);

    const std::vector<LongReply> cases = {
        {"tracks.list", "{}", "tracks", kTracks},
        {"clips.notes", R"({"trackId":")" + tracks[0].id.toString() + R"(","clipId":")" + clip.id.toString() + "\"}",
         "notes", kNotes},
    };
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        lines.push_back(R"({"id":)" + std::to_string(i) + R"(,"method":")" + cases[i].method + R"(","params":)" +
                        cases[i].params + R"(,"token":"secret"})");
    }
    // Each sent once the one before was answered; notifications are skipped.
    std::vector<std::string> replies;
    ASSERT_TRUE(talkOverTheDoor(rig.project, handler, [&](TestClient& tcp) {
        for (const std::string& line : lines) {
            if (!tcp.sendLine(line)) {
                break;
            }
            replies.push_back(tcp.readReply().value_or("<no reply>"));
        }
    }));
    ASSERT_EQ(replies.size(), cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].method);
        const json reply = json::parse(replies[i], nullptr, false);
        ASSERT_TRUE(reply.is_object()) << replies[i].substr(0, 200);
        EXPECT_EQ(reply.value("id", json()), json(i));
        ASSERT_TRUE(reply.contains("result")) << replies[i].substr(0, 200);
        EXPECT_EQ(reply["result"][cases[i].list].size(), cases[i].length);
        // Every byte as the method table answered it.
        EXPECT_EQ(reply["result"], json::parse(handler.handle(cases[i].method, cases[i].params)));
    }
}

}  // namespace
