// GUI-thread cost of the audio and transport controllers' timers, with the sound card on the
// silent null output (its own thread plays in real time meanwhile).
//
//   TransportTick:        one 40 ms tick while playing: position to beats and text, signals
//                         with one receiver each (as a QML binding would be).
//   AudioStatusUpdate:    one 250 ms status tick while the card runs: garbage collection,
//                         deadlines and the four load figures.
//   TransportPace:        plays for a second and reports the beats the transport showed
//                         against the beats the wall clock says should have passed.

#include "ProgramControllers.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

using namespace ostrel;

// The controllers over the program's settings in a temporary folder, playing.
struct Playing : bench::ProgramControllers {
    Playing() {
        for (auto signal : {&app::TransportController::positionChanged, &app::TransportController::beatChanged,
                            &app::TransportController::beatsChanged}) {
            QObject::connect(&transport, signal, [this] { ++received; });
        }
        QObject::connect(&audio, &app::AudioController::statsChanged, [this] { ++received; });
        transport.play();
    }

    long received = 0;
};

void TransportTick(benchmark::State& state) {
    Playing playing;
    if (!playing.transport.playing()) {
        state.SkipWithError("the null output did not start");
        return;
    }
    for (auto _ : state) {
        playing.transport.tick();
    }
    benchmark::DoNotOptimize(playing.received);
}
BENCHMARK(TransportTick);

void AudioStatusUpdate(benchmark::State& state) {
    Playing playing;
    for (auto _ : state) {
        playing.audio.onTick();
    }
    benchmark::DoNotOptimize(playing.received);
}
BENCHMARK(AudioStatusUpdate);

void TransportPace(benchmark::State& state) {
    for (auto _ : state) {
        Playing playing;
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(1));
        playing.transport.tick();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        state.counters["beats_per_expected"] = playing.transport.positionBeats() / (seconds * playing.transport.tempo() / 60.0);
    }
}
BENCHMARK(TransportPace)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
