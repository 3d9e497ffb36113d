#pragma once

#include <cstdint>
#include <string>

#include "engine/Event.h"

namespace ostrel::engine {

// Decoding of short MIDI messages for live playing. Running status is not understood:
// every message starts with its status byte. GUI thread; no state.

// Note on (a note on at velocity 0 becomes a note off), note off, control change and pitch
// bend (value -1..1, centre 0) fill `out` completely; anything else, or a message shorter
// than its status needs, gives false and leaves `out` alone.
[[nodiscard]] bool parseMidiMessage(const std::uint8_t* bytes, int length, Event& out);

// One line for the MIDI monitor, channels counted from 1 ("Note on C4 (60), velocity 100
// (channel 1)"); empty for what parseMidiMessage refuses.
std::string describeMidiMessage(const std::uint8_t* bytes, int length);

// "C4 (60)": the note's name, its octave (middle C is 4) and its number.
std::string midiNoteName(int note);

}  // namespace ostrel::engine
