// Offline render of a fixed song, single-threaded: 4 tracks, 32 bars at 128 BPM (60 s).
// Drums on the modular kit, a bass line, a lead through a delay and a pad through a
// reverb. Keep the song as it is so figures stay comparable across changes.
//
// Counters: realtime = song seconds rendered per second of wall time; peak_rss_mb = the
// process's peak resident memory after the render (getrusage).

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <string>
#include <vector>

#include "playback/SongRenderer.h"
#include "model/Project.h"

namespace {

using namespace ostrel;

constexpr double kBpm = 128.0;
constexpr int kBars = 32;

model::Note note(int pitch, double start, double length, int velocity = 100) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

model::Track track(const char* name, const char* instrument, std::vector<model::Note> notes) {
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.startBeats = 0.0;
    clip.lengthBeats = 4.0 * kBars;
    clip.notes = std::move(notes);
    model::Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.instrumentPatch = instrument;
    t.clips.push_back(std::move(clip));
    return t;
}

model::Device device(const char* type, std::map<std::string, double> knobs) {
    model::Device d;
    d.id = model::Uuid::generate();
    d.typeId = type;
    d.parameters = std::move(knobs);
    return d;
}

model::Project benchSong() {
    // Kick on every beat, snare on 2 and 4, closed hat on every eighth.
    std::vector<model::Note> drums;
    for (int beat = 0; beat < 4 * kBars; ++beat) {
        drums.push_back(note(36, beat, 0.25, 110));
        if (beat % 2 == 1) {
            drums.push_back(note(38, beat, 0.25, 100));
        }
        drums.push_back(note(42, beat, 0.125, 70));
        drums.push_back(note(42, beat + 0.5, 0.125, 60));
    }

    // A bass line of eighths over A minor, F, C, G.
    const int roots[] = {45, 41, 48, 43};
    std::vector<model::Note> bass;
    for (int bar = 0; bar < kBars; ++bar) {
        for (int e = 0; e < 8; ++e) {
            bass.push_back(note(roots[bar % 4] - 12 + (e % 4 == 3 ? 12 : 0), bar * 4 + e * 0.5, 0.4, 100));
        }
    }

    // A lead phrase of quarters and eighths, repeated every two bars.
    const int phrase[] = {69, 72, 76, 74, 72, 71, 69, 67};
    std::vector<model::Note> lead;
    for (int bar = 0; bar < kBars; bar += 2) {
        double beat = bar * 4.0;
        for (int i = 0; i < 8; ++i) {
            const double length = i % 3 == 2 ? 0.5 : 1.0;
            lead.push_back(note(phrase[i], beat, length * 0.9, 90));
            beat += length;
        }
    }

    // Three-note pad chords, one per bar.
    std::vector<model::Note> pad;
    for (int bar = 0; bar < kBars; ++bar) {
        const int root = roots[bar % 4] + 12;
        for (int interval : {0, 4, 7}) {
            pad.push_back(note(root + interval, bar * 4.0, 4.0, 70));
        }
    }

    std::vector<model::Track> tracks;
    tracks.push_back(track("Drums", "Modular Drums", std::move(drums)));
    tracks.push_back(track("Bass", "Modular Bass", std::move(bass)));
    model::Track leadTrack = track("Lead", "Modular Lead", std::move(lead));
    leadTrack.devices.push_back(device("ostrel.delay", {{"time_ms", 351.6}, {"feedback", 0.35}, {"mix", 0.25}}));
    leadTrack.volume = 0.7;
    tracks.push_back(std::move(leadTrack));
    model::Track padTrack = track("Pad", "Modular Pad", std::move(pad));
    padTrack.devices.push_back(device("ostrel.reverb", {{"mix", 0.35}}));
    padTrack.volume = 0.5;
    tracks.push_back(std::move(padTrack));
    return model::makeProject(model::Uuid::generate(), "Render bench", kBpm, std::move(tracks), model::JsonValue{});
}

double peakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_RenderSong(benchmark::State& state) {
    const model::Project song = benchSong();
    engine::RenderSettings settings;
    settings.sampleRate = static_cast<double>(state.range(0));
    settings.blockSize = static_cast<std::uint32_t>(state.range(1));
    double songSeconds = 0.0;
    double wallSeconds = 0.0;
    for (auto _ : state) {
        engine::RenderOutput out;
        std::string error;
        const auto start = std::chrono::steady_clock::now();
        if (!engine::renderProject(song, settings, &out, &error)) {
            state.SkipWithError(error.c_str());
            return;
        }
        wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        songSeconds += static_cast<double>(out.audio.frames) / settings.sampleRate;
        benchmark::DoNotOptimize(out.audio.samples.data());
    }
    state.counters["realtime"] = wallSeconds > 0.0 ? songSeconds / wallSeconds : 0.0;
    state.counters["peak_rss_mb"] = peakResidentMegabytes();
}
BENCHMARK(BM_RenderSong)->Args({48000, 512})->Args({44100, 512})->Args({96000, 512})->Unit(benchmark::kMillisecond);

}  // namespace
