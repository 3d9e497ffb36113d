#pragma once

#include <string>
#include <vector>

#include "model/Clip.h"
#include "model/Device.h"
#include "model/JsonValue.h"
#include "model/Uuid.h"

namespace ostrel::model {

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
    std::string kind = "midi";   // "midi" or "audio"
    JsonValue extra;             // file keys the reader did not know

    bool operator==(const Track&) const = default;
};

}  // namespace ostrel::model
