#pragma once

#include <map>
#include <string>

#include "model/document/JsonValue.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// One device of a track's chain with the knob values it has been given.
struct Device {
    Uuid id;
    std::string typeId;                       // such as "ostrel.delay"
    std::string name;                         // may be empty
    std::map<std::string, double> parameters;  // knob id to value, only knobs with a value
    bool enabled = true;                      // false while bypassed
    JsonValue extra;                          // file keys the reader did not know

    bool operator==(const Device&) const = default;
};

}  // namespace ostrel::model
