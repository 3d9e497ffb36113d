#pragma once

#include <cstdint>
#include <span>

#include "engine/graph/Node.h"
#include "engine/graph/Param.h"

namespace ostrel::engine {

// Base of every instrument module and effect: a node with a type id, a display name
// and a block of knobs described by a static table that outlives every device.
class DeviceNode : public Node {
public:
    explicit DeviceNode(std::span<const ParamDescriptor> table) : params(table) {}

    // Stable type id used in project and patch files, such as "ostrel.delay".
    virtual const char* typeId() const = 0;
    virtual const char* displayName() const = 0;

    // Exact, case-sensitive match of a knob id; leaves index alone when none matches.
    [[nodiscard]] bool findParameter(const char* id, std::uint32_t& index) const;

    ParamBlock params;
};

}  // namespace ostrel::engine
