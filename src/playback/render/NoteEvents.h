#pragma once

#include <cstdint>
#include <vector>

#include "model/document/Track.h"

namespace ostrel::engine { inline namespace playback {

// A note on or off of a MIDI track, in ticks (960 per beat) from the start of the song.
struct NoteEvent {
    std::int64_t tick = 0;
    bool off = false;
    std::int32_t pitch = 0;
    std::int32_t velocity = 0;  // 0 in note offs
};

// A position from a file as beats the renderer can use: NaN counts as 0, the rest is
// clamped far beyond the longest render, so a clamped clip still fails the length check.
double safeBeats(double beats);

// Beats as ticks of the tempo map, after safeBeats.
std::int64_t beatsToTick(double beats);

// The track's notes as ons and offs, cut at their clip's end; at one tick offs come first.
// Notes a file may hold but no instrument can play (pitch outside 0..127) are left out and
// velocities are brought into 1..127.
std::vector<NoteEvent> collectNoteEvents(const model::Track& track);

} }  // namespace ostrel::engine::playback
