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
#include "QuickBench.h"
#include "model/LargeSong.h"
#include "model/file/ProjectFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtQml/QQmlExtensionPlugin>

#include <memory>
#include <string>

Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

namespace {

using namespace ostrel;

// The context objects the timeline reads, over a temporary data folder and the null output,
// in the timeline's share of the program's 1320 x 860 window; the large song without its
// effects is saved in the projects folder.
struct Host : bench::ProjectQuickHost {
    Host() : ProjectQuickHost(1068, 420) {
        bench::require(folder.isValid(), "a temporary folder");
        bench::require(QDir().mkpath(folder.filePath(QStringLiteral("projects"))), "the projects folder");
        std::string error;
        bench::require(model::saveProjectFile(QFile::encodeName(folder.filePath(QStringLiteral("projects/large.ostproj")))
                                                  .toStdString(),
                                              bench::largeProject({.effectsPerTrack = 0}), &error),
                       "the large project file");
    }

    std::unique_ptr<QQuickItem> makeTimeline() {
        return makeItem(QByteArrayLiteral("import QtQuick\n"
                                          "import Ostrel.App\n"
                                          "TimelineView { width: 1068; height: 420 }\n"));
    }
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

int main(int argc, char** argv) { return ostrel::bench::runQuickBenchmarks(argc, argv); }
