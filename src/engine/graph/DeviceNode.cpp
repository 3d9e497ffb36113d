#include "engine/graph/DeviceNode.h"

#include <cstring>

namespace ostrel::engine {

bool DeviceNode::findParameter(const char* id, std::uint32_t& index) const {
    if (id == nullptr) {
        return false;
    }
    for (const ParamDescriptor& row : params.descriptors()) {
        if (row.id != nullptr && std::strcmp(row.id, id) == 0) {
            index = row.index;
            return true;
        }
    }
    return false;
}

}  // namespace ostrel::engine
