#pragma once

#include <cstdint>

#include "model/document/JsonValue.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// One note of a MIDI clip. Positions in beats, counted from the start of the clip.
struct Note {
    Uuid id;
    std::int32_t pitch = 60;      // MIDI note number, not range-checked here
    std::int32_t velocity = 100;  // MIDI velocity, not range-checked here
    double startBeats = 0.0;
    double lengthBeats = 1.0;
    JsonValue extra;  // file keys the reader did not know

    bool operator==(const Note&) const = default;
};

}  // namespace ostrel::model
