#include "app/ApiHandler.h"

#include "api_server/ApiTestSupport.h"
#include "ProjectTestSupport.h"
#include "api_server/ApiError.h"
#include "api_server/ApiServer.h"
#include "app/ApiDoors.h"
#include "core/BuildInfo.h"

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>

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

    ApiSong s;
    ProjectRig rig;
    ApiHandler handler{&rig.project, &rig.transport};
};

struct Refusal {
    const char* what;
    std::string method;
    std::string params;  // text, so that text which is not JSON can be given
    int code;
    std::string message;
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
    EXPECT_EQ(rig.project.name(), "Api") << "no refusal changed the song";
    EXPECT_FALSE(rig.project.canUndo());
}

TEST_F(ApiHandlerTest, AWronglyTypedOptionalParameterFailsInTheLibraryNotAsARefusal) {
    const std::string params = R"({"id":")" + loops() + R"(","file":"loop.wav","startBeats":"x"})";
    EXPECT_THROW((void)handler.handle("tracks.addAudioClip", params), json::type_error);
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
        {"a 0 makes the text an id", "tracks.setMuted", R"({"id":"10","muted":true})", ""},
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

TEST_F(ApiHandlerTest, TheOscHandlerCallsTheMethodWithTheTrackItNumbered) {
    const api_server::OscServer::Handler osc = oscRequestHandler(handler);
    EXPECT_EQ(osc("tracks.remove", R"({"id":"1"})"), R"({"ok":true})");
    EXPECT_EQ(rig.project.message(),
              "Removed track \"Keys\" (1 clips, 1 effects) via the API. Press Ctrl+Z to undo.");
    EXPECT_THROW((void)osc("tracks.remove", R"({"id":"9"})"), api_server::ApiError);
}

// The whole road over the loopback port: the network thread, the 30 ms door pump of the event
// loop, the method table and the controllers; the change's notification comes before the reply.
TEST_F(ApiHandlerTest, ARequestOverTcpChangesTheSongAndTheClientHearsOfItFirst) {
    int argc = 1;
    char name[] = "ostrel";
    char* argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    auto server = std::make_unique<api_server::ApiServer>(nullptr);
    auto osc = std::make_unique<api_server::OscServer>(nullptr);
    server->handler = apiRequestHandler(handler);
    osc->handler = oscRequestHandler(handler);
    ASSERT_TRUE(server->start(0, "secret"));
    QTimer pump;
    connectDoors(pump, rig.project, *server, *osc);

    std::vector<std::string> lines;
    std::atomic<bool> done{false};
    std::thread client([&] {
        TestClient tcp(server->port());
        if (tcp.sendLine(R"({"id":7,"method":"project.setName","params":{"name":"Wire"},"token":"secret"})")) {
            for (int i = 0; i < 2; ++i) {
                if (std::optional<std::string> line = tcp.readLine()) {
                    lines.push_back(*line);
                }
            }
        }
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
    client.join();
    pump.stop();
    server->stop();

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              R"({"jsonrpc":"2.0","method":"ostrel/project.changed","params":{"name":"Wire","tempo":120.0,"trackCount":2}})");
    EXPECT_EQ(lines[1], R"({"id":7,"jsonrpc":"2.0","result":{"ok":true}})");
    EXPECT_EQ(rig.project.name(), "Wire");
}

}  // namespace
