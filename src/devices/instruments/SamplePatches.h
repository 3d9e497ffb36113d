#pragma once

#include "devices/patches/Patch.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ostrel::engine { inline namespace devices {

// One pad of a Drum Rack as its configuration describes it.
struct DrumPad {
    std::int32_t note = -1;                  // the MIDI note that plays the pad
    std::shared_ptr<const AudioData> sample;  // empty: no sound chosen or it could not be loaded
    double gain = 1.0;
    double tune_cents = 0.0;
    double release_ms = 80.0;
};

// One sampler module across the keyboard, eight voices. The knobs are passed on as given;
// a knob the module does not have is reported when the graph is built.
Patch makeSamplerPatch(std::shared_ptr<const AudioData> sample, const std::map<std::string, double>& knobs,
                       const std::string& name);

// One one-shot sampler per usable pad (a sound and a note in 0..127), in list order, mixed into
// "Rack level"; one voice. A rack with no usable pad is a silent placeholder that still plays.
Patch makeDrumRackPatch(const std::vector<DrumPad>& pads, const std::string& name);

} }  // namespace ostrel::engine::devices
