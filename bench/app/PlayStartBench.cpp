// Play after an edit with the program's controllers on the null output, on the reference
// songs of the door benchmark (app_play_door_bench) built the same way in process: eight
// tracks with the first eight built-in instruments, an echo on every second track, the
// default pattern added again and again to 1, 3 and 10 minutes.
//
//   PlayAfterEdit/M/S:  an edit, then play until the audio thread has moved the transport
//                       past its start; S = 0 from the song's start, 1 from its middle (the
//                       door has no way to set the start beat). Counter "gui_ms": the play
//                       call itself, the GUI thread's share.
//   EditWhilePlaying/M: an edit while the song plays from its middle, until the edit's render
//                       can take over at the playhead (the engine moves to it at its next
//                       period).

#include "BenchSupport.h"
#include "ProgramControllers.h"
#include "app/project/ProjectController.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "playback/AudioEngine.h"

#include <QCoreApplication>
#include <QString>
#include <QVariantMap>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <thread>

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The controllers with the reference song of `minutes` open.
struct Program : bench::ProgramControllers {
    explicit Program(double minutes) : project(transport, logger, data.filePath("projects"), QString(), QString()) {
        const std::vector<engine::Patch>& patches = engine::builtinPatches();
        const int patterns = static_cast<int>(std::ceil(minutes * 120.0 / 16.0));
        for (int t = 0; t < 8; ++t) {
            const QString id = project.addTrack();
            tracks.push_back(id);
            project.setTrackInstrument(id, QString::fromStdString(patches.at(static_cast<std::size_t>(t)).name));
            if (t % 2 == 1) {
                bench::require(!project.addDevice(id, QStringLiteral("ostrel.delay"), QString()).isEmpty(), "an echo");
            }
            for (int p = 0; p < patterns; ++p) {
                project.addPattern(id);
            }
        }
        bench::require(project.lengthBeats() >= minutes * 120.0, "the song's length");
    }

    void edit() { project.setTrackVolume(tracks.front(), ++edits % 2 == 0 ? 0.8 : 0.9); }

    // Turns the event loop and takes the renders in, as the program's 40 ms timer does.
    std::vector<engine::RenderResult> collect() {
        QCoreApplication::processEvents();
        return project.onRenderFinished();
    }

    // Until the audio thread has taken the play and moved past where it started.
    void waitForMotion(std::int64_t startFrame) {
        const engine::AudioEngine& engine = audio.engine();
        while (engine.shownGeneration() != engine.transport().state().generation || engine.shownPos() <= startFrame) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    void stop() {
        transport.stop();
        (void)collect();
    }

    app::ProjectController project;
    std::vector<QString> tracks;
    int edits = 0;
};

void PlayAfterEdit(benchmark::State& state) {
    Program program(static_cast<double>(state.range(0)));
    const double startBeat = state.range(1) == 0 ? 0.0 : std::floor(program.project.lengthBeats() / 2.0);
    program.transport.setStartBeat(startBeat);
    double guiSeconds = 0.0;
    for (auto _ : state) {
        program.edit();
        const auto start = Clock::now();
        program.transport.play();
        guiSeconds += secondsSince(start);
        const engine::AudioEngine& engine = program.audio.engine();
        program.waitForMotion(engine::AudioEngine::beatsToFrames(startBeat, engine.config().sampleRate * 60.0 / engine.tempo()));
        state.SetIterationTime(secondsSince(start));
        program.stop();
    }
    state.counters["gui_ms"] = benchmark::Counter(1000.0 * guiSeconds / static_cast<double>(state.iterations()));
    state.SetLabel(state.range(1) == 0 ? "from the start" : "from the middle");
}
BENCHMARK(PlayAfterEdit)
    ->ArgsProduct({{1, 3, 10}, {0, 1}})
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

void EditWhilePlaying(benchmark::State& state) {
    Program program(static_cast<double>(state.range(0)));
    // From the middle, so every edit's render has its whole pre-roll to do.
    program.transport.setStartBeat(std::floor(program.project.lengthBeats() / 2.0));
    program.transport.play();
    program.waitForMotion(0);
    const engine::AudioEngine& engine = program.audio.engine();
    for (auto _ : state) {
        const auto start = Clock::now();
        program.edit();
        std::shared_ptr<engine::BackingTrack> track;
        for (;;) {
            for (const engine::RenderResult& result : program.collect()) {
                track = result.track;
            }
            if (track != nullptr && track->view().ready(engine.shownPos(), engine::AudioEngine::kAheadFrames)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        state.SetIterationTime(secondsSince(start));
        // A while with the new song before the next edit.
        const auto until = Clock::now() + std::chrono::milliseconds(300);
        while (Clock::now() < until) {
            (void)program.collect();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    program.stop();
}
BENCHMARK(EditWhilePlaying)->Arg(3)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) { return ostrel::bench::runWithEventLoop(argc, argv); }
