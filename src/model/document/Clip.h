#pragma once

#include <string>
#include <vector>

#include "model/document/EditStamp.h"
#include "model/document/JsonValue.h"
#include "model/document/Note.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// A stretch of a track's timeline: notes for a MIDI track, a sound file for an audio one.
struct Clip {
    Uuid id;
    std::string name;
    double startBeats = 0.0;
    double lengthBeats = 4.0;
    std::string audioSource;          // file name; empty for a MIDI clip
    double audioOffsetSeconds = 0.0;  // offset into that sound
    std::vector<Note> notes;
    JsonValue extra;  // file keys the reader did not know
    EditStamp stamp;  // set by the edits of the clip and of its notes

    bool operator==(const Clip&) const = default;
};

}  // namespace ostrel::model
