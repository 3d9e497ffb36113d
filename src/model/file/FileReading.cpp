#include "model/file/FileReading.h"

#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

namespace ostrel::model {

WholeNumber readInt32(const nlohmann::json& value, std::int32_t& out) {
    constexpr auto kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr auto kHighest = std::numeric_limits<std::int32_t>::max();
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(kHighest)) return WholeNumber::OutOfRange;
        out = static_cast<std::int32_t>(number);
        return WholeNumber::Read;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < kLowest || number > kHighest) return WholeNumber::OutOfRange;
        out = static_cast<std::int32_t>(number);
        return WholeNumber::Read;
    }
    if (value.is_number_float()) {
        const double number = std::trunc(value.get<double>());
        if (!(number >= kLowest && number <= kHighest)) return WholeNumber::OutOfRange;
        out = static_cast<std::int32_t>(number);
        return WholeNumber::Read;
    }
    return WholeNumber::NotANumber;
}

}  // namespace ostrel::model
