// The note edits on the large song (see LargeProject.h), each timed as the window lives it:
// the member (its command executed and projectChanged sent) and the tracks view that the QML
// reads after it.
//
//   EditNote:        one note of the song moved back and forth (a drag: the steps merge).
//   EditNoteOnly:    the same without the tracks read: the command and the change signals.
//   AddNote:         one note added to a clip of the song.
//   QuantizeClip4096: a 4096-note clip, every note off the grid, snapped in one step; the
//                    undo that puts the notes back is not timed.
//   QuantizeOnly4096: the same quantize without the tracks read.

#include "LargeProject.h"

#include <benchmark/benchmark.h>

namespace {

using namespace ostrel;
using bench::Program;

constexpr int kLongClipNotes = 4096;

// The large song with a track holding one clip of 4096 notes, none on a sixteenth.
model::Project songWithLongClip() {
    model::Track track;
    track.id = model::Uuid::generate();
    track.name = "Long";
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = "Long";
    clip.lengthBeats = kLongClipNotes * 0.25;
    for (int n = 0; n < kLongClipNotes; ++n) {
        model::Note note;
        note.id = model::Uuid::generate();
        note.pitch = 36 + n % 48;
        note.startBeats = n * 0.25 + 0.07;
        note.lengthBeats = 0.2;
        clip.notes.push_back(note);
    }
    track.clips.push_back(std::move(clip));
    return bench::largeProject(bench::kLargeSong, {std::move(track)});
}

struct NotesProgram : Program {
    NotesProgram() : Program(songWithLongClip()) {
        const model::Track& first = project.document().tracks().front();
        const model::Track& last = project.document().tracks().back();
        trackId = idText(first.id);
        clipId = idText(first.clips.front().id);
        noteId = idText(first.clips.front().notes.front().id);
        longTrackId = idText(last.id);
        longClipId = idText(last.clips.front().id);
    }
    static QString idText(const model::Uuid& id) { return QString::fromStdString(id.toString()); }

    QString trackId, clipId, noteId, longTrackId, longClipId;
};

NotesProgram& program() {
    static NotesProgram shared;
    return shared;
}

void EditNote(benchmark::State& state) {
    NotesProgram& p = program();
    double start = 0.0;
    for (auto _ : state) {
        start = start == 0.0 ? 0.5 : 0.0;
        p.project.editNote(p.trackId, p.clipId, p.noteId, 60, 100, start, 0.25);
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(EditNote)->Unit(benchmark::kMillisecond)->Iterations(50);

void EditNoteOnly(benchmark::State& state) {
    NotesProgram& p = program();
    double start = 0.0;
    for (auto _ : state) {
        start = start == 0.0 ? 0.5 : 0.0;
        p.project.editNote(p.trackId, p.clipId, p.noteId, 60, 100, start, 0.25);
    }
}
BENCHMARK(EditNoteOnly)->Unit(benchmark::kMicrosecond)->Iterations(50);

void AddNote(benchmark::State& state) {
    NotesProgram& p = program();
    for (auto _ : state) {
        bench::require(!p.project.addNote(p.trackId, p.clipId, 72, 100, 1.0, 0.25).isEmpty(), "a note added");
        benchmark::DoNotOptimize(p.project.tracks());
    }
}
BENCHMARK(AddNote)->Unit(benchmark::kMillisecond)->Iterations(50);

void QuantizeClip4096(benchmark::State& state) {
    NotesProgram& p = program();
    for (auto _ : state) {
        bench::require(p.project.quantizeClip(p.longTrackId, p.longClipId) == kLongClipNotes, "every note moved");
        benchmark::DoNotOptimize(p.project.tracks());
        state.PauseTiming();
        p.project.undo();
        state.ResumeTiming();
    }
}
BENCHMARK(QuantizeClip4096)->Unit(benchmark::kMillisecond)->Iterations(10);

void QuantizeOnly4096(benchmark::State& state) {
    NotesProgram& p = program();
    for (auto _ : state) {
        bench::require(p.project.quantizeClip(p.longTrackId, p.longClipId) == kLongClipNotes, "every note moved");
        state.PauseTiming();
        p.project.undo();
        state.ResumeTiming();
    }
}
BENCHMARK(QuantizeOnly4096)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv) { return ostrel::bench::runWithEventLoop(argc, argv); }
