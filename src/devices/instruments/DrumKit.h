#pragma once

#include <vector>

#include "devices/patches/Patch.h"

namespace ostrel::engine { inline namespace devices {

// One sound layer of a drum voice. Fields a layer's kind does not use are 0.
struct DrumKitLayer {
    bool tone = false;          // true: a sine whose pitch falls after the hit; false: filtered noise
    double coarse = 0.0;        // tone: semitones
    double pitchAmount = 0.0;   // tone: octaves the pitch starts above its rest
    double pitchDecayMs = 0.0;  // tone
    int filterMode = 0;         // noise: 0 low-pass, 1 high-pass, 2 band-pass
    double cutoffHz = 0.0;      // noise
    double resonance = 0.0;     // noise
    double decayMs = 0.0;       // the layer's level envelope
    double level = 0.0;         // the oscillator's or the noise module's level
};

// A drum voice: the MIDI note that plays it and its layers. The name prefixes its module
// labels and names the instrument screen's pad.
struct DrumKitVoice {
    const char* name;
    int note;
    std::vector<DrumKitLayer> layers;
};

// The eight voices of "Modular Drums", in table order.
const std::vector<DrumKitVoice>& modularDrumKitVoices();

// "Modular Drums": every voice its own modules answering only its note, so one copy
// plays the whole kit (voices 1). 70 nodes, 75 cables, output "Kit level" (id 69).
Patch makeModularDrums();

} }  // namespace ostrel::engine::devices
