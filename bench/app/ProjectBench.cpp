// The project controller over a large song: 32 tracks x 64 clips x 64 notes (131072 notes),
// each track an FM instrument with three effects, as in the model's benchmark.
//
//   Open:              openProject of the file until the tracks view has been read.
//   ReadFileOnly:      the project file reader alone, for comparison with Open.
//   CopyAndDrop:       one copy of the document made and freed (an open makes the saved copy
//                      and frees the old document and the old saved copy).
//   TracksAfterEdit:   the tracks view read right after an edit (built afresh).
//   TracksAgain:       the tracks view read again with no edit between.
//   DirtyAfterEdit:    dirty read right after an edit (one whole-document comparison).
//   DirtyAgain:        dirty read again.
//   PlayStartAfterEdit: play after an edit, until the song is rendered into the engine (on
//                      the GUI thread).
//   PlayStartAgain:    play again with no edit since the last play: the last render is reused.
//   EditToBackingTrack: an edit while playing until its background render reaches the engine.

#include "BenchSupport.h"
#include "app/AudioController.h"
#include "app/ProjectController.h"
#include "app/SettingsBridge.h"
#include "app/TransportController.h"
#include "core/Logger.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "model/ProjectFile.h"
#include "platform/NullAudioBackend.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>

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
        for (const char* type : {"ostrel.eq", "ostrel.delay", "ostrel.reverb"}) {
            model::Device device;
            device.id = model::Uuid::generate();
            device.typeId = type;
            device.parameters = {{"mix", 0.3}, {"time_ms", 250.0}};
            track.devices.push_back(device);
        }
        tracks.push_back(std::move(track));
    }
    return model::makeProject(model::Uuid::generate(), "Large", 128.0, std::move(tracks), model::JsonValue{});
}

// The controllers of the program over a temporary data folder and the null output.
struct Program {
    Program()
        : registry(core::buildSettingsRegistry()),
          store(registry),
          settings(store, registry, data.filePath("settings.json"), logger),
          audio(std::make_unique<engine::NullAudioBackend>(), settings, logger),
          transport(audio, logger, &settings),
          project(transport, logger, data.filePath("projects"), QString(), QString()) {
        bench::require(data.isValid(), "a temporary folder");
        bench::require(QDir().mkpath(data.filePath("projects")), "the projects folder");
        std::string error;
        bench::require(model::saveProjectFile(QFile::encodeName(data.filePath("projects/large.ostproj")).toStdString(),
                                              largeProject(), &error),
                       "the large project file");
        bench::require(project.openProject("large.ostproj"), "opening the large project");
    }

    // An edit that keeps the song the same size: the tempo moves between two values.
    void edit() { project.setTempo(project.tempo() == 128.0 ? 129.0 : 128.0); }

    QTemporaryDir data;
    core::Logger logger;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::SettingsBridge settings;
    app::AudioController audio;
    app::TransportController transport;
    app::ProjectController project;
};

Program& program() {
    static Program shared;
    return shared;
}

void Open(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        if (p.project.dirty()) {
            bench::require(p.project.save(), "saving before the next open");
        }
        state.ResumeTiming();
        bench::require(p.project.openProject("large.ostproj"), "opening the large project");
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(Open)->Unit(benchmark::kMillisecond)->Iterations(5);

void ReadFileOnly(benchmark::State& state) {
    Program& p = program();
    const std::string path = QFile::encodeName(p.data.filePath("projects/large.ostproj")).toStdString();
    for (auto _ : state) {
        model::Project song;
        bench::require(model::loadProjectFile(path, song, nullptr, nullptr), "reading the large project");
        benchmark::DoNotOptimize(song);
    }
}
BENCHMARK(ReadFileOnly)->Unit(benchmark::kMillisecond)->Iterations(5);

void CopyAndDrop(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        model::Project copy = p.project.document();
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(CopyAndDrop)->Unit(benchmark::kMillisecond)->Iterations(5);

void TracksAfterEdit(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        p.edit();
        state.ResumeTiming();
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(TracksAfterEdit)->Unit(benchmark::kMillisecond)->Iterations(10);

void TracksAgain(benchmark::State& state) {
    Program& p = program();
    benchmark::DoNotOptimize(p.project.tracks());
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(TracksAgain)->Unit(benchmark::kMicrosecond);

void DirtyAfterEdit(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        p.edit();
        state.ResumeTiming();
        benchmark::DoNotOptimize(p.project.dirty());
    }
}
BENCHMARK(DirtyAfterEdit)->Unit(benchmark::kMillisecond)->Iterations(20);

void DirtyAgain(benchmark::State& state) {
    Program& p = program();
    benchmark::DoNotOptimize(p.project.dirty());
    for (auto _ : state) {
        benchmark::DoNotOptimize(p.project.dirty());
    }
}
BENCHMARK(DirtyAgain)->Unit(benchmark::kMicrosecond);

void PlayStartAfterEdit(benchmark::State& state) {
    Program& p = program();
    for (auto _ : state) {
        state.PauseTiming();
        p.edit();
        state.ResumeTiming();
        p.transport.play();
        state.PauseTiming();
        bench::require(p.transport.playing(), "play started");
        p.transport.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(PlayStartAfterEdit)->Unit(benchmark::kMillisecond)->Iterations(2);

void PlayStartAgain(benchmark::State& state) {
    Program& p = program();
    p.transport.play();
    p.transport.stop();
    for (auto _ : state) {
        p.transport.play();
        state.PauseTiming();
        bench::require(p.transport.playing(), "play started");
        p.transport.stop();
        state.ResumeTiming();
    }
}
BENCHMARK(PlayStartAgain)->Unit(benchmark::kMillisecond)->Iterations(20);

void EditToBackingTrack(benchmark::State& state) {
    Program& p = program();
    p.transport.play();
    bench::require(p.transport.playing(), "play started");
    for (auto _ : state) {
        p.edit();
        QCoreApplication::processEvents();  // the rebuild goes to the worker
        bool installed = false;
        while (!installed) {
            for (const engine::RenderResult& result : p.project.onRenderFinished()) {
                installed |= result.kind == engine::RenderJobKind::PlaybackRebuild && result.ok;
            }
            if (!installed) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    }
    p.transport.stop();
}
BENCHMARK(EditToBackingTrack)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    // The background rebuild waits for the event loop, as in the program.
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
