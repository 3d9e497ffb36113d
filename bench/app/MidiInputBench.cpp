// The MIDI input path on the GUI thread, over a sound card that never calls back and a
// MIDI back-end that never delivers on its own.
//
//   MessageToEngineQueue: one note message packed into the input ring (as the driver's
//                         callback does) and the drain that decodes it, shows it in the
//                         monitor and hands it to the instrument, up to its event in the
//                         engine's queue. Note on and note off alternate.
//   EmptyDrain:           one 4 ms drain that finds the ring empty.
//   MessageToEngineQueueOnTimer: the same path with the real 4 ms drain timer in an event
//                         loop: from the push, at a random moment of the timer's period,
//                         until the event is in the engine's queue (manual time).

#include "app/live/InstrumentController.h"
#include "app/live/MidiController.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>

#include <chrono>
#include <random>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace ostrel;

class SilentCard final : public engine::IAudioBackend {
public:
    std::string backendName() override { return "Bench"; }
    std::vector<engine::AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const engine::AudioConfig&, engine::RenderCallback, void*, std::string*) override { return running_ = true; }
    void close() override { running_ = false; }
    engine::BackendState state() const override {
        return running_ ? engine::BackendState::Running : engine::BackendState::Closed;
    }
    engine::LoadStats loadStats() const override { return {}; }

private:
    bool running_ = false;
};

class OneKeyboard final : public engine::IMidiBackend {
public:
    std::string name() override { return "Bench MIDI"; }
    std::vector<engine::MidiInputInfo> listInputs() override { return {{"Bench keys", "Bench keys"}}; }
    bool open(const std::string&, engine::MidiInputCallback, void*, std::string*) override { return open_ = true; }
    void close() override { open_ = false; }
    bool isOpen() override { return open_; }

private:
    bool open_ = false;
};

struct Rig {
    Rig() {
        std::string error;
        if (!store.set("midi.input_device", std::string("Bench keys"), &error)) throw std::runtime_error(error);
        settings = std::make_unique<app::SettingsBridge>(store, registry, dir.path() + "/settings.json", logger);
        audio = std::make_unique<app::AudioController>(std::make_unique<SilentCard>(), *settings, logger);
        instrument = std::make_unique<app::InstrumentController>(*audio, logger, settings.get());
        midi = std::make_unique<app::MidiController>(std::make_unique<OneKeyboard>(), *settings, *instrument, logger);
        instrument->padDown(40);  // opens the card and builds the instrument
        instrument->padUp(40);
        drainEngineQueue();
    }
    std::size_t drainEngineQueue() {
        engine::AudioEngine& engine = audio->engine();
        return engine.events().drain(static_cast<std::int64_t>(engine.clock()), 1).size();
    }

    QTemporaryDir dir;
    core::Logger logger;  // no sinks: the note's action steps are recorded, nothing is written
    core::SettingsRegistry registry = core::buildSettingsRegistry();
    core::SettingsStore store{registry};
    std::unique_ptr<app::SettingsBridge> settings;
    std::unique_ptr<app::AudioController> audio;
    std::unique_ptr<app::InstrumentController> instrument;
    std::unique_ptr<app::MidiController> midi;
};

void MessageToEngineQueue(benchmark::State& state) {
    Rig rig;
    const std::uint8_t noteOn[3] = {0x90, 60, 100};
    const std::uint8_t noteOff[3] = {0x80, 60, 0};
    std::uint64_t messages = 0;
    std::uint64_t arrived = 0;
    for (auto _ : state) {
        app::MidiController::onInputMessage(rig.midi.get(), (messages & 1) == 0 ? noteOn : noteOff, 3);
        rig.midi->pollMessages();
        ++messages;
        if (messages % 512 == 0) {  // the audio thread's part, kept out of the figure
            state.PauseTiming();
            arrived += rig.drainEngineQueue();
            state.ResumeTiming();
        }
    }
    arrived += rig.drainEngineQueue();
    if (arrived != messages) state.SkipWithError("not every message reached the engine's queue");
    state.counters["reached_queue"] = static_cast<double>(arrived);
}
BENCHMARK(MessageToEngineQueue)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly();

void EmptyDrain(benchmark::State& state) {
    Rig rig;
    for (auto _ : state) rig.midi->pollMessages();
    if (rig.midi->messageCount() != 0) state.SkipWithError("the ring was not empty");
}
BENCHMARK(EmptyDrain)->Unit(benchmark::kNanosecond)->Repetitions(5)->ReportAggregatesOnly();

void MessageToEngineQueueOnTimer(benchmark::State& state) {
    // The drain timer runs only with an application object; one for the whole program.
    static int argc = 1;
    static char name[] = "midi_input_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* application = new QCoreApplication(argc, argv);
    using Clock = std::chrono::steady_clock;
    Rig rig;
    std::mt19937 random(7);
    std::uniform_int_distribution<int> phaseUs(0, app::MidiController::kPollIntervalMs * 1000);
    const std::uint8_t noteOn[3] = {0x90, 60, 100};
    const std::uint8_t noteOff[3] = {0x80, 60, 0};
    std::uint64_t messages = 0;
    std::uint64_t arrived = 0;
    for (auto _ : state) {
        const Clock::time_point phaseEnd = Clock::now() + std::chrono::microseconds(phaseUs(random));
        while (Clock::now() < phaseEnd) application->processEvents(QEventLoop::AllEvents);
        const int before = rig.midi->messageCount();
        const Clock::time_point pushed = Clock::now();
        app::MidiController::onInputMessage(rig.midi.get(), (messages & 1) == 0 ? noteOn : noteOff, 3);
        while (rig.midi->messageCount() == before) application->processEvents(QEventLoop::WaitForMoreEvents);
        state.SetIterationTime(std::chrono::duration<double>(Clock::now() - pushed).count());
        ++messages;
        arrived += rig.drainEngineQueue();
    }
    if (arrived != messages) state.SkipWithError("not every message reached the engine's queue");
}
BENCHMARK(MessageToEngineQueueOnTimer)
    ->Iterations(500)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly();

}  // namespace
