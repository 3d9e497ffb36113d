#pragma once

#include <string>
#include <vector>

#include "model/document/Clip.h"
#include "model/document/Device.h"
#include "model/document/EditStamp.h"
#include "model/document/JsonValue.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// The kinds a track is made as.
inline constexpr const char* kMidiTrackKind = "midi";
inline constexpr const char* kAudioTrackKind = "audio";

// A track of the song. The model does not interpret instrumentPatch, instrumentConfig or kind.
struct Track {
    Uuid id;
    std::string name;
    std::vector<Clip> clips;
    std::vector<Device> devices;  // in chain order
    std::string instrumentPatch;
    JsonValue instrumentConfig;  // Sampler, Drum Rack or FM settings; empty object by default
    bool muted = false;
    bool solo = false;
    double volume = 1.0;         // linear gain
    std::string kind = kMidiTrackKind;  // see isAudioTrack
    JsonValue extra;             // file keys the reader did not know
    EditStamp stamp;             // set by every edit of the track, its clips, notes and devices

    bool operator==(const Track&) const = default;
};

// Whether the track plays audio clips rather than an instrument. A file may hold any other
// kind, which is kept as it stands and plays as a MIDI track.
inline bool isAudioTrack(const Track& track) { return track.kind == kAudioTrackKind; }

}  // namespace ostrel::model
