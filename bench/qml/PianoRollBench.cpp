// The piano roll over a dense clip, with the real project controller, built and drawn
// offscreen with Qt Quick's software renderer.
//
//   FirstFrameOfPianoRoll/4096: makes a piano roll for a clip of 4,096 notes in a shown
//                       window and draws it once (reading the clip, fitting the rows, painting
//                       the names, the grid and every note); the roll is destroyed outside the
//                       timing.
//   DragFrameOfPianoRoll/4096: a note of that clip is held and the pointer moves one row up
//                       or down before every frame: one move event (an undoable note edit, the
//                       clip read again, the notes repainted) and the window drawn.
//   StillFrameOfPianoRoll/4096: the same roll drawn with nothing changed, for comparison.

#include "QuickBench.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>

#include <memory>

namespace {

using namespace ostrel;

QString uuid(int n) { return QStringLiteral("00000000-0000-4000-8000-%1").arg(n, 12, 16, QLatin1Char('0')); }

// The controllers the roll reads, over a settings file and a projects folder in a temporary
// folder, and a silent output that is never opened.
struct RollHost : bench::ProjectQuickHost {
    RollHost() : ProjectQuickHost(1280, 800) {}

    // One track with one 128-beat clip of `count` notes, four to each eighth of a beat; the
    // first note lasts four beats, so that it is wide enough to grab for a move. Opened once:
    // the drags leave the song edited, and opening it again would ask to discard that.
    void openDenseSong(int count) {
        if (openedCount == count) {
            return;
        }
        openedCount = count;
        QJsonArray notes;
        for (int i = 0; i < count; ++i) {
            const int position = i / 4;
            notes.append(QJsonObject{{QStringLiteral("id"), uuid(100 + i)},
                                     {QStringLiteral("pitch"), 48 + (i * 5 + position * 3) % 25},
                                     {QStringLiteral("velocity"), i % 3 == 0 ? 110 : 80},
                                     {QStringLiteral("start_beats"), position * 0.125},
                                     {QStringLiteral("length_beats"), i == 0 ? 4.0 : 0.25}});
        }
        const QJsonObject clip{{QStringLiteral("id"), uuid(2)},
                               {QStringLiteral("name"), QStringLiteral("Clip")},
                               {QStringLiteral("start_beats"), 0.0},
                               {QStringLiteral("length_beats"), 128.0},
                               {QStringLiteral("notes"), notes}};
        const QJsonObject track{{QStringLiteral("id"), uuid(1)},
                                {QStringLiteral("name"), QStringLiteral("Keys")},
                                {QStringLiteral("kind"), QStringLiteral("midi")},
                                {QStringLiteral("clips"), QJsonArray{clip}}};
        const QJsonObject song{{QStringLiteral("format"), QStringLiteral("ostrel-project")},
                               {QStringLiteral("format_version"), 1},
                               {QStringLiteral("id"), uuid(3)},
                               {QStringLiteral("name"), QStringLiteral("Dense")},
                               {QStringLiteral("tempo_bpm"), 120.0},
                               {QStringLiteral("tracks"), QJsonArray{track}}};
        QDir().mkpath(project.projectsDirectory());
        QFile file(project.projectsDirectory() + QStringLiteral("/dense.ostproj"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(QJsonDocument(song).toJson(QJsonDocument::Compact)) < 0) {
            qFatal("cannot write the dense song");
        }
        file.close();
        if (!project.openProject(QStringLiteral("dense.ostproj"))) {
            qFatal("%s", qPrintable(project.message()));
        }
    }

    std::unique_ptr<QQuickItem> makeRoll() {
        return makeItem(QByteArrayLiteral("import QtQuick\n"
                                          "import Ostrel.App\n"
                                          "PianoRoll { width: 1280; height: 480 }\n"),
                        {{QStringLiteral("trackId"), uuid(1)}, {QStringLiteral("clipId"), uuid(2)}});
    }

    void sendMouse(QEvent::Type type, QQuickItem* item, QPointF local, Qt::MouseButtons buttons) {
        const QPointF scene = item->mapToScene(local);
        QMouseEvent event(type, scene, scene, window.mapToGlobal(scene),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, buttons, Qt::NoModifier);
        QGuiApplication::sendEvent(&window, &event);
    }

    int openedCount = 0;
};

RollHost& host() {
    static RollHost made;
    return made;
}

void FirstFrameOfPianoRoll(benchmark::State& state) {
    host().openDenseSong(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::unique_ptr<QQuickItem> roll = host().makeRoll();
        host().drawFrame();
        state.PauseTiming();
        roll.reset();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}
BENCHMARK(FirstFrameOfPianoRoll)->Arg(4096)->Unit(benchmark::kMillisecond);

void DragFrameOfPianoRoll(benchmark::State& state) {
    host().openDenseSong(static_cast<int>(state.range(0)));
    std::unique_ptr<QQuickItem> roll = host().makeRoll();
    host().drawFrame();
    auto* grid = roll->findChild<QQuickItem*>(QStringLiteral("gridMouse"));
    if (grid == nullptr || roll->property("notes").toList().size() != state.range(0)) {
        state.SkipWithError("the roll did not read the clip");
        return;
    }
    // The first note: beat 0 at the left edge, four beats long.
    const int pitch = roll->property("notes").toList().constFirst().toMap().value(QStringLiteral("pitch")).toInt();
    const double lane = roll->property("laneHeight").toDouble();
    const double y = (roll->property("highPitch").toInt() - pitch) * lane + lane / 2;
    host().sendMouse(QEvent::MouseButtonPress, grid, {5.0, y}, Qt::LeftButton);
    bool up = true;
    for (auto _ : state) {
        host().sendMouse(QEvent::MouseMove, grid, {5.0, up ? y - lane : y}, Qt::LeftButton);
        up = !up;
        host().drawFrame();
    }
    host().sendMouse(QEvent::MouseButtonRelease, grid, {5.0, y}, Qt::NoButton);
    if (roll->property("dragMode").toInt() != 0) {
        state.SkipWithError("the drag did not end");
    }
}
BENCHMARK(DragFrameOfPianoRoll)->Arg(4096)->Unit(benchmark::kMillisecond);

void StillFrameOfPianoRoll(benchmark::State& state) {
    host().openDenseSong(static_cast<int>(state.range(0)));
    std::unique_ptr<QQuickItem> roll = host().makeRoll();
    host().drawFrame();
    for (auto _ : state) {
        host().drawFrame();
    }
}
BENCHMARK(StillFrameOfPianoRoll)->Arg(4096)->Unit(benchmark::kMillisecond);

}  // namespace
