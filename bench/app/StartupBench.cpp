// Start-up of the whole program without a display, ten runs of each. Every run starts a fresh
// process with a data folder of its own; the aggregates report the median.
//
//   FirstFrame:  the program's own "first frame after N ms" figure, as manual time; also
//                with --demo-project, whose song is built after that frame.
//   WholeRun:    wall time from starting the process until it has exited, with
//                --quit-after-ms 0 (start-up, one turn of the event loop, shut-down).
//   PictureRun:  wall time of a run that ends with --screenshot: start-up, first frame,
//                the fixed 600 ms wait, the picture and shut-down; with --demo-project
//                also building the song and finishing its WAV export before exiting.

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

namespace {

// Runs the program to its end and returns its exit code, or -1 when it did not end.
int runProgram(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(OSTREL_PROGRAM), arguments);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// The "first frame after N ms" figure of the log, or -1.
int firstFrameMs(const QString& dataFolder) {
    static const QRegularExpression figure(QStringLiteral("\\] first frame after (\\d+) ms"));
    QFile log(dataFolder + "/logs/ostrel.log");
    if (!log.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QRegularExpressionMatch match = figure.match(QString::fromUtf8(log.readAll()));
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

void FirstFrame(benchmark::State& state, const QStringList& extra) {
    for (auto _ : state) {
        QTemporaryDir data;
        // Long enough for the first frame on a slow machine; the figure is read from the log.
        const int code = runProgram(QStringList{"--data-dir", data.path(), "--quit-after-ms", "3000"} + extra);
        const int ms = firstFrameMs(data.path());
        if (code != 0 || ms < 0) {
            state.SkipWithError("the program did not report a first frame");
            return;
        }
        state.SetIterationTime(ms / 1000.0);
    }
}
BENCHMARK_CAPTURE(FirstFrame, empty, QStringList{})
    ->Iterations(1)->Repetitions(10)->UseManualTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(FirstFrame, demo_project, QStringList{"--demo-project"})
    ->Iterations(1)->Repetitions(10)->UseManualTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();

void WholeRun(benchmark::State& state) {
    for (auto _ : state) {
        QTemporaryDir data;
        QElapsedTimer clock;
        clock.start();
        const int code = runProgram({"--data-dir", data.path(), "--quit-after-ms", "0"});
        const qint64 ns = clock.nsecsElapsed();
        if (code != 0) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(static_cast<double>(ns) / 1e9);
    }
}
BENCHMARK(WholeRun)->Iterations(1)->Repetitions(10)->UseManualTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();

void PictureRun(benchmark::State& state, const QStringList& extra) {
    for (auto _ : state) {
        QTemporaryDir data;
        QElapsedTimer clock;
        clock.start();
        const int code =
            runProgram(QStringList{"--data-dir", data.path(), "--screenshot", data.filePath("window.png")} + extra);
        const qint64 ns = clock.nsecsElapsed();
        if (code != 0) {
            state.SkipWithError("the program failed");
            return;
        }
        state.SetIterationTime(static_cast<double>(ns) / 1e9);
    }
}
BENCHMARK_CAPTURE(PictureRun, empty, QStringList{})
    ->Iterations(1)->Repetitions(10)->UseManualTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();
BENCHMARK_CAPTURE(PictureRun, demo_project, QStringList{"--demo-project"})
    ->Iterations(1)->Repetitions(10)->UseManualTime()->Unit(benchmark::kMillisecond)->ReportAggregatesOnly();

}  // namespace
