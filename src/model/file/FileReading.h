#pragma once

#include <cstdint>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "core/Failure.h"

namespace ostrel::model {

// Pieces shared by the project file reader and its migrations.

enum class WholeNumber { Read, OutOfRange, NotANumber };

// A JSON number as a 32-bit whole number; a fraction is cut toward zero. Checked as a
// 64-bit or real value first, so 4294967297 or 1e300 is refused rather than wrapped.
// out is changed only on Read.
WholeNumber readInt32(const nlohmann::json& value, std::int32_t& out);

}  // namespace ostrel::model
