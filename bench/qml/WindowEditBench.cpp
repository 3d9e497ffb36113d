// One edit through the control door with the program's whole window loaded offscreen: the
// real controllers on the null output, the window's QML and the JSON-RPC door with its 30 ms
// pump, wired as main wires them. Two songs, each saved and opened as a file, so the history
// is clean:
//   reference:  8 tracks of eight built-in instruments, a delay on every second track, the
//               starter pattern repeated over a minute (120 BPM, 128 beats);
//   large:      the benchmarks' large song, 32 tracks x 64 clips x 64 notes (131,072 notes).
//
//   RoundTrip:  one tracks.setVolume of the first track from a client thread until its reply,
//               the event loop (the pump, the window's frames) running meanwhile. A share of
//               it is the wait for the pump's next tick (15 ms on average).
//   Edit:       the same request handed straight to the method table on the GUI thread: the
//               edit with every QML handler and binding it sets off, without the wait.
//
// The figures compare only from one run to the next on the same machine; the songs' notes
// are in the label.

#include "BenchSupport.h"
#include "DoorClient.h"
#include "QuickBench.h"
#include "api_server/jsonrpc/ApiServer.h"
#include "app/api/ApiDoors.h"
#include "app/api/ApiHandler.h"
#include "app/live/MidiController.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/patches/Patch.h"
#include "model/LargeSong.h"
#include "model/file/ProjectFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <QtQml/QQmlExtensionPlugin>

#include <memory>
#include <string>

Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

namespace {

using namespace ostrel;

// No MIDI keyboard is plugged in.
class NoMidiInputs : public engine::IMidiBackend {
public:
    std::string name() override { return "none"; }
    std::vector<engine::MidiInputInfo> listInputs() override { return {}; }
    bool open(const std::string&, engine::MidiInputCallback, void*, std::string* error) override {
        if (error != nullptr) {
            *error = "no MIDI inputs";
        }
        return false;
    }
    void close() override {}
    bool isOpen() override { return false; }
};

// The reference song, made by the controller's own edits.
void makeReferenceSong(app::ProjectController& project) {
    constexpr int kTracks = 8;
    constexpr int kPatterns = 8;  // of 16 beats: 128 beats, a minute at 120 BPM
    const std::vector<engine::Patch> patches = engine::builtinPatches();
    bench::require(patches.size() >= kTracks, "eight built-in instruments");
    for (int t = 0; t < kTracks; ++t) {
        const QString id = project.addTrack();
        project.setTrackInstrument(id, QString::fromStdString(patches[static_cast<std::size_t>(t)].name));
        if (t % 2 == 1) {
            bench::require(!project.addDevice(id, QStringLiteral("ostrel.delay"), QString()).isEmpty(), "a delay");
        }
        for (int p = 0; p < kPatterns; ++p) {
            project.addPattern(id);
        }
    }
}

// The window over the program's controllers, a projects folder holding both songs, and the
// JSON-RPC door with its pump.
struct Program : bench::ProjectQuickHost {
    Program()
        : ProjectQuickHost(1320, 860),
          midi(std::make_unique<NoMidiInputs>(), settings, instrument, logger),
          handler(&project, &transport),
          server(std::make_unique<api_server::ApiServer>(nullptr)) {
        bench::require(folder.isValid(), "a temporary folder");
        bench::require(QDir().mkpath(folder.filePath(QStringLiteral("projects"))), "the projects folder");
        {
            app::ProjectController scratch(transport, logger, folder.filePath(QStringLiteral("scratch")), QString(),
                                           QString());
            makeReferenceSong(scratch);
            save("reference.ostproj", scratch.document());
        }
        save("large.ostproj", bench::largeProject());

        expose("midi", &midi);
        server->handler = app::apiRequestHandler(handler);
        bench::require(server->start(0, "token"), "the JSON-RPC door starts");
        app::connectDoors(pump, project, *server, osc);
        window.hide();  // the program's window is Main itself
        QQmlComponent component(&engine);
        component.setData(QByteArrayLiteral("import Ostrel.App\nMain {}\n"), QUrl());
        main.reset(component.isReady() ? component.create() : nullptr);
        if (main == nullptr) {
            qFatal("%s", qPrintable(component.errorString()));
        }
    }
    ~Program() {
        pump.stop();
        server->stop();
        main.reset();
    }

    void save(const char* name, const model::Project& song) {
        std::string error;
        bench::require(model::saveProjectFile(QFile::encodeName(folder.filePath(QStringLiteral("projects/") +
                                                                                QString::fromLatin1(name)))
                                                  .toStdString(),
                                              song, &error),
                       name);
    }

    // Opens the song and lets the window draw it.
    void open(const char* name) {
        // After another benchmark's edits the first press only asks; the second discards them.
        const QString file = QString::fromLatin1(name);
        if (!project.openProject(file) && !project.openProject(file)) {
            qFatal("%s: %s", name, qPrintable(project.message()));
        }
        for (int i = 0; i < 5; ++i) {
            QCoreApplication::processEvents();
        }
    }

    int noteCount() const {
        int notes = 0;
        for (const model::Track& track : project.document().tracks()) {
            for (const model::Clip& clip : track.clips) {
                notes += static_cast<int>(clip.notes.size());
            }
        }
        return notes;
    }

    app::MidiController midi;
    app::ApiHandler handler;
    std::unique_ptr<api_server::ApiServer> server;
    api_server::OscServer osc{nullptr};
    QTimer pump;
    std::unique_ptr<QObject> main;
};

// Made at the first benchmark, and gone before the application object.
std::unique_ptr<Program>& shared() {
    static std::unique_ptr<Program> made;
    return made;
}

Program& program() {
    if (shared() == nullptr) {
        shared() = std::make_unique<Program>();
    }
    return *shared();
}


// The volume alternates, so every request changes the song.
std::string volumeParams(const std::string& trackId, int i) {
    return R"({"id":")" + trackId + R"(","volume":)" + (i % 2 == 0 ? "0.5" : "0.75") + "}";
}

const char* songFile(const benchmark::State& state) {
    return state.range(0) == 0 ? "reference.ostproj" : "large.ostproj";
}

void label(benchmark::State& state, const Program& p) {
    state.SetLabel((state.range(0) == 0 ? "reference song, " : "large song, ") + std::to_string(p.noteCount()) +
                   " notes");
}

void RoundTrip(benchmark::State& state) {
    Program& p = program();
    p.open(songFile(state));
    const std::string trackId = p.project.document().tracks().front().id.toString();
    bench::DoorClient client(p.server->port());
    bench::require(client.connected(), "the client connects");
    int i = 0;
    for (auto _ : state) {
        const std::string line = R"({"id":1,"jsonrpc":"2.0","method":"tracks.setVolume","params":)" +
                                 volumeParams(trackId, ++i) + R"(,"token":"token"})" "\n";
        state.SetIterationTime(bench::runClientThread([&] {
            client.send(line);
            bench::require(client.readReply().find("\"result\"") != std::string::npos, "the edit is answered");
        }));
    }
    label(state, p);
}
BENCHMARK(RoundTrip)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(60);

void Edit(benchmark::State& state) {
    Program& p = program();
    p.open(songFile(state));
    const std::string trackId = p.project.document().tracks().front().id.toString();
    int i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.handler.handle("tracks.setVolume", volumeParams(trackId, ++i)));
    }
    label(state, p);
}
BENCHMARK(Edit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

// As runQuickBenchmarks, with the window and its controllers freed while the application
// object still exists.
int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    shared().reset();
    return 0;
}
