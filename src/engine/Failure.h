#pragma once

#include "core/Failure.h"

namespace ostrel::engine {

// The engine reports failures the way the core services do.
using core::fail;

}  // namespace ostrel::engine
