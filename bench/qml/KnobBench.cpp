// The knob, the one control a screen places by the dozen, built and drawn offscreen with
// the real theme, app and settings objects and Qt Quick's software renderer.
//
//   CreateKnobs/1000:   builds 1,000 knobs into a shown window (object creation and bindings),
//                       then destroys them outside the timing.
//   FirstFrameOfKnobs/1000: the same, timed until the window has drawn them once (every
//                       knob's canvas paints once).
//   FollowingFrame/100: 100 knobs whose value is bound to one number that changes before
//                       every frame; the time of one frame: a new value, every canvas
//                       repainted, the window drawn.
//   StillFrame/100:     the same window drawn with an unchanged value, for comparison.

#include "QuickBench.h"

#include <QCoreApplication>
#include <QtQml/QQmlExtensionPlugin>

#include <memory>

Q_IMPORT_QML_PLUGIN(Ostrel_AppPlugin)

namespace {

using namespace ostrel;

bench::QuickHost& host() {
    static bench::QuickHost made(1280, 800);
    return made;
}

// A grid of `count` knobs, each with its value bound to the grid's `value`.
std::unique_ptr<QQuickItem> makeKnobs(int count) {
    return host().makeItem(QByteArrayLiteral("import QtQuick\n"
                                             "import Ostrel.App\n"
                                             "Flow {\n"
                                             "    property real value: 0.5\n"
                                             "    property int count: 0\n"
                                             "    width: 1280\n"
                                             "    Repeater {\n"
                                             "        model: parent.count\n"
                                             "        Knob { value: parent.value }\n"
                                             "    }\n"
                                             "}\n"),
                           {{QStringLiteral("count"), count}});
}

void CreateKnobs(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<QQuickItem> grid = makeKnobs(static_cast<int>(state.range(0)));
        state.PauseTiming();
        grid.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(CreateKnobs)->Arg(1000)->Unit(benchmark::kMillisecond);

void FirstFrameOfKnobs(benchmark::State& state) {
    for (auto _ : state) {
        std::unique_ptr<QQuickItem> grid = makeKnobs(static_cast<int>(state.range(0)));
        host().drawFrame();
        state.PauseTiming();
        grid.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(FirstFrameOfKnobs)->Arg(1000)->Unit(benchmark::kMillisecond);

void FollowingFrame(benchmark::State& state) {
    std::unique_ptr<QQuickItem> grid = makeKnobs(static_cast<int>(state.range(0)));
    host().drawFrame();
    double value = 0.0;
    for (auto _ : state) {
        value = value >= 1.0 ? 0.0 : value + 0.01;
        grid->setProperty("value", value);
        host().drawFrame();
    }
}
BENCHMARK(FollowingFrame)->Arg(100)->Unit(benchmark::kMillisecond);

void StillFrame(benchmark::State& state) {
    std::unique_ptr<QQuickItem> grid = makeKnobs(static_cast<int>(state.range(0)));
    host().drawFrame();
    for (auto _ : state) {
        host().drawFrame();
    }
}
BENCHMARK(StillFrame)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return ostrel::bench::runQuickBenchmarks(argc, argv); }
