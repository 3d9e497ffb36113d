// Editing every note of one large clip, as quantizing does: one "Quantize" step of 4096
// note updates, then that step undone and redone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "model/commands/Commands.h"
#include "model/commands/History.h"
#include "model/document/Project.h"

namespace {

using namespace ostrel::model;

constexpr int kClipNotes = 4096;
constexpr double kGridBeats = 0.25;

// One track with one clip of kClipNotes notes, off the grid, in the order they were played.
Project playedClip() {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> jitter(-0.1, 0.1);
    Clip clip;
    clip.id = Uuid::generate();
    clip.lengthBeats = kClipNotes * kGridBeats;
    for (int n = 0; n < kClipNotes; ++n) {
        Note note;
        note.id = Uuid::generate();
        note.pitch = 36 + (n * 7) % 48;
        note.startBeats = std::max(0.0, n * kGridBeats + jitter(random));
        note.lengthBeats = 0.2;
        clip.notes.push_back(note);
    }
    Track track;
    track.id = Uuid::generate();
    track.clips.push_back(std::move(clip));
    std::vector<Track> tracks;
    tracks.push_back(std::move(track));
    return makeProject(Uuid::generate(), "Played", 120.0, std::move(tracks), JsonValue{});
}

void quantize(History& history, const Project& project) {
    const Track& track = project.tracks()[0];
    const Clip& clip = track.clips[0];
    const std::vector<Note> notes = clip.notes;  // the edits change the clip under us
    history.beginTransaction("Quantize");
    for (const Note& note : notes) {
        Note snapped = note;
        snapped.startBeats = std::round(note.startBeats / kGridBeats) * kGridBeats;
        history.execute(std::make_unique<UpdateNoteCommand>(track.id, clip.id, note.id, snapped));
    }
    history.commitTransaction();
}

void BM_QuantizeClip(benchmark::State& state) {
    const Project played = playedClip();
    for (auto _ : state) {
        state.PauseTiming();
        Project project = played;
        History history(project, 0);
        state.ResumeTiming();
        quantize(history, project);
        benchmark::DoNotOptimize(project);
    }
    state.counters["notes"] = kClipNotes;
}
BENCHMARK(BM_QuantizeClip)->Unit(benchmark::kMillisecond);

void BM_QuantizeClipUndo(benchmark::State& state) {
    Project project = playedClip();
    History history(project, 0);
    quantize(history, project);
    for (auto _ : state) {
        history.undo();
        state.PauseTiming();
        history.redo();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_QuantizeClipUndo)->Unit(benchmark::kMillisecond);

void BM_QuantizeClipRedo(benchmark::State& state) {
    Project project = playedClip();
    History history(project, 0);
    quantize(history, project);
    for (auto _ : state) {
        state.PauseTiming();
        history.undo();
        state.ResumeTiming();
        history.redo();
    }
}
BENCHMARK(BM_QuantizeClipRedo)->Unit(benchmark::kMillisecond);

}  // namespace
