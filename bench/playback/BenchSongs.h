#pragma once

// Songs the playback benchmarks render. Keep them as they are so figures stay comparable
// across changes.

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "model/document/Project.h"

namespace ostrel::bench {

inline constexpr double kBpm = 128.0;

inline model::Note note(int pitch, double start, double length, int velocity = 100) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

inline model::Track track(const char* name, const char* instrument, int bars, std::vector<model::Note> notes) {
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.startBeats = 0.0;
    clip.lengthBeats = 4.0 * bars;
    clip.notes = std::move(notes);
    model::Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.instrumentPatch = instrument;
    t.clips.push_back(std::move(clip));
    return t;
}

inline model::Device device(const char* type, std::map<std::string, double> knobs) {
    model::Device d;
    d.id = model::Uuid::generate();
    d.typeId = type;
    d.parameters = std::move(knobs);
    return d;
}

// The render benchmark's song: drums on the modular kit, a bass line, a lead through a
// delay and a pad through a reverb, at 128 BPM over bars bars (32: one minute).
inline model::Project benchSong(int bars = 32) {
    // Kick on every beat, snare on 2 and 4, closed hat on every eighth.
    std::vector<model::Note> drums;
    for (int beat = 0; beat < 4 * bars; ++beat) {
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
    for (int bar = 0; bar < bars; ++bar) {
        for (int e = 0; e < 8; ++e) {
            bass.push_back(note(roots[bar % 4] - 12 + (e % 4 == 3 ? 12 : 0), bar * 4 + e * 0.5, 0.4, 100));
        }
    }

    // A lead phrase of quarters and eighths, repeated every two bars.
    const int phrase[] = {69, 72, 76, 74, 72, 71, 69, 67};
    std::vector<model::Note> lead;
    for (int bar = 0; bar < bars; bar += 2) {
        double beat = bar * 4.0;
        for (int i = 0; i < 8; ++i) {
            const double length = i % 3 == 2 ? 0.5 : 1.0;
            lead.push_back(note(phrase[i], beat, length * 0.9, 90));
            beat += length;
        }
    }

    // Three-note pad chords, one per bar.
    std::vector<model::Note> pad;
    for (int bar = 0; bar < bars; ++bar) {
        const int root = roots[bar % 4] + 12;
        for (int interval : {0, 4, 7}) {
            pad.push_back(note(root + interval, bar * 4.0, 4.0, 70));
        }
    }

    std::vector<model::Track> tracks;
    tracks.push_back(track("Drums", "Modular Drums", bars, std::move(drums)));
    tracks.push_back(track("Bass", "Modular Bass", bars, std::move(bass)));
    model::Track leadTrack = track("Lead", "Modular Lead", bars, std::move(lead));
    leadTrack.devices.push_back(device("ostrel.delay", {{"time_ms", 351.6}, {"feedback", 0.35}, {"mix", 0.25}}));
    leadTrack.volume = 0.7;
    tracks.push_back(std::move(leadTrack));
    model::Track padTrack = track("Pad", "Modular Pad", bars, std::move(pad));
    padTrack.devices.push_back(device("ostrel.reverb", {{"mix", 0.35}}));
    padTrack.volume = 0.5;
    tracks.push_back(std::move(padTrack));
    return model::makeProject(model::Uuid::generate(), "Render bench", kBpm, std::move(tracks), model::JsonValue{});
}

}  // namespace ostrel::bench
