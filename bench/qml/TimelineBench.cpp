// The arrangement over the large song of the model's benchmark (32 tracks x 64 clips x 64
// notes), drawn offscreen by Qt Quick's software renderer in a window the size of the
// program's timeline, with the real project, transport and instrument controllers on the
// null output.
//
//   OpenToFirstFrame:  openProject of the large song and a new timeline until its first
//                      frame is drawn (the view and the song freed outside the timing).
//   ScrollFrame:       one sideways step of 2 beats (the grid, the ruler and every visible
//                      clip move), then one frame.
//   ZoomFrame:         one zoom step in or out about the lanes' middle, then one frame.
//   StillFrame:        a frame with nothing changed, for comparison.

#include "BenchSupport.h"
#include "app/AppController.h"
#include "app/AudioController.h"
#include "app/InstrumentController.h"
#include "app/ProjectController.h"
#include "app/SettingsBridge.h"
#include "app/ThemeManager.h"
#include "app/TransportController.h"
#include "core/Logger.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "model/ProjectFile.h"
#include "platform/NullAudioBackend.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QQmlComponent>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/QQmlExtensionPlugin>

#include <memory>
#include <string>
#include <vector>

Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

namespace {

using namespace ostrel;

constexpr int kTracks = 32;
constexpr int kClips = 64;
constexpr int kNotes = 64;

model::Project largeProject() {
    std::vector<model::Track> tracks;
    for (int t = 0; t < kTracks; ++t) {
        model::Track track;
        track.id = model::Uuid::generate();
        track.name = "Track " + std::to_string(t + 1);
        track.instrumentPatch = "FM E-Piano";
        for (int c = 0; c < kClips; ++c) {
            model::Clip clip;
            clip.id = model::Uuid::generate();
            clip.name = "Clip";
            clip.startBeats = 4.0 * c;
            for (int n = 0; n < kNotes; ++n) {
                model::Note note;
                note.id = model::Uuid::generate();
                note.pitch = 36 + (n * 7) % 48;
                note.velocity = 64 + n % 64;
                note.startBeats = n * 0.0625;
                note.lengthBeats = 0.25;
                clip.notes.push_back(note);
            }
            track.clips.push_back(std::move(clip));
        }
        tracks.push_back(std::move(track));
    }
    return model::makeProject(model::Uuid::generate(), "Large", 128.0, std::move(tracks), model::JsonValue{});
}

// The context objects the timeline reads, over a temporary data folder and the null output.
struct Host {
    Host()
        : registry(core::buildSettingsRegistry()),
          store(registry),
          app(logger, folder.filePath(QStringLiteral("ostrel.log"))),
          settings(store, registry, folder.filePath(QStringLiteral("settings.json")), logger),
          audio(std::make_unique<engine::NullAudioBackend>(), settings, logger),
          instrument(audio, logger, &settings),
          transport(audio, logger, &settings),
          project(transport, logger, folder.filePath(QStringLiteral("projects")), QString(), QString()) {
        bench::require(folder.isValid(), "a temporary folder");
        bench::require(QDir().mkpath(folder.filePath(QStringLiteral("projects"))), "the projects folder");
        std::string error;
        bench::require(model::saveProjectFile(QFile::encodeName(folder.filePath(QStringLiteral("projects/large.ostproj")))
                                                  .toStdString(),
                                              largeProject(), &error),
                       "the large project file");
        themes.loadThemeFolder(QStringLiteral(":/themes"));
        themes.setCurrentId(QStringLiteral("graphite"));
        engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
        QQmlContext* context = engine.rootContext();
        context->setContextProperty(QStringLiteral("theme"), &themes);
        context->setContextProperty(QStringLiteral("app"), &app);
        context->setContextProperty(QStringLiteral("settings"), &settings);
        context->setContextProperty(QStringLiteral("audio"), &audio);
        context->setContextProperty(QStringLiteral("instrument"), &instrument);
        context->setContextProperty(QStringLiteral("transport"), &transport);
        context->setContextProperty(QStringLiteral("project"), &project);
        // The timeline's share of the program's 1320 x 860 window.
        window.resize(1068, 420);
        window.show();
    }

    // Draws one frame now; the software renderer draws straight into the picture.
    void drawFrame() { benchmark::DoNotOptimize(window.grabWindow()); }

    std::unique_ptr<QQuickItem> makeTimeline() {
        QQmlComponent component(&engine);
        component.setData(QByteArrayLiteral("import QtQuick\n"
                                            "import Ostrel.App\n"
                                            "TimelineView { width: 1068; height: 420 }\n"),
                          QUrl());
        QObject* made = component.create();
        if (made == nullptr) {
            qFatal("%s", qPrintable(component.errorString()));
        }
        auto* view = qobject_cast<QQuickItem*>(made);
        view->setParentItem(window.contentItem());
        return std::unique_ptr<QQuickItem>(view);
    }

    QTemporaryDir folder;
    core::Logger logger;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::ThemeManager themes;
    app::AppController app;
    app::SettingsBridge settings;
    app::AudioController audio;
    app::InstrumentController instrument;
    app::TransportController transport;
    app::ProjectController project;
    QQmlEngine engine;
    QQuickWindow window;
};

Host& host() {
    static Host made;
    return made;
}

void OpenToFirstFrame(benchmark::State& state) {
    Host& h = host();
    for (auto _ : state) {
        bench::require(h.project.openProject(QStringLiteral("large.ostproj")), "opening the large project");
        std::unique_ptr<QQuickItem> view = h.makeTimeline();
        h.drawFrame();
        state.PauseTiming();
        view.reset();
        h.project.newProject();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(OpenToFirstFrame)->Unit(benchmark::kMillisecond);

// The large song open in a drawn timeline, for the frame benchmarks.
std::unique_ptr<QQuickItem> openTimeline() {
    Host& h = host();
    bench::require(h.project.openProject(QStringLiteral("large.ostproj")), "opening the large project");
    std::unique_ptr<QQuickItem> view = h.makeTimeline();
    h.drawFrame();
    return view;
}

void ScrollFrame(benchmark::State& state) {
    std::unique_ptr<QQuickItem> view = openTimeline();
    double start = 0.0;
    for (auto _ : state) {
        start = start >= 200.0 ? 0.0 : start + 2.0;
        view->setProperty("viewStart", start);
        host().drawFrame();
    }
}
BENCHMARK(ScrollFrame)->Unit(benchmark::kMillisecond);

void ZoomFrame(benchmark::State& state) {
    std::unique_ptr<QQuickItem> view = openTimeline();
    view->setProperty("viewStart", 64.0);
    const double middle = view->property("lanesWidth").toDouble() / 2;
    bool in = true;
    for (auto _ : state) {
        QMetaObject::invokeMethod(view.get(), "zoomBy", Q_ARG(QVariant, in ? 1.3 : 1 / 1.3), Q_ARG(QVariant, middle));
        in = !in;
        host().drawFrame();
    }
}
BENCHMARK(ZoomFrame)->Unit(benchmark::kMillisecond);

void StillFrame(benchmark::State& state) {
    std::unique_ptr<QQuickItem> view = openTimeline();
    for (auto _ : state) {
        host().drawFrame();
    }
}
BENCHMARK(StillFrame)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The renderer every machine has, so the figures compare.
    qputenv("QT_QUICK_BACKEND", "software");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
