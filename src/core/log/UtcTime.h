#pragma once

#include <cstdint>

namespace ostrel::core {

// Log and crash times count 100-nanosecond ticks since 1970-01-01 00:00:00 UTC.
constexpr std::int64_t kTicksPerSecond = 10'000'000;

// A moment broken down into the UTC calendar (proleptic Gregorian), month 1 to 12.
struct UtcTime {
    std::int64_t year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// Division that rounds toward minus infinity, so times before 1970 break down correctly.
constexpr std::int64_t floorDiv(std::int64_t value, std::int64_t divisor) noexcept {
    const std::int64_t quotient = value / divisor;
    return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

// Seconds since 1970-01-01 00:00:00 UTC to calendar fields. Pure arithmetic with no
// lock and no time-zone lookup (unlike gmtime_r), so a signal handler may call it.
constexpr UtcTime utcTimeFromSeconds(std::int64_t seconds) noexcept {
    const std::int64_t days = floorDiv(seconds, 86400);
    const std::int64_t secondOfDay = seconds - days * 86400;
    // Days to civil date, counting in 400-year eras that start on 0000-03-01.
    const std::int64_t shifted = days + 719468;
    const std::int64_t era = floorDiv(shifted, 146097);
    const std::int64_t dayOfEra = shifted - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;  // 0 is March
    UtcTime t{};
    t.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    t.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
    t.hour = static_cast<int>(secondOfDay / 3600);
    t.minute = static_cast<int>(secondOfDay / 60 % 60);
    t.second = static_cast<int>(secondOfDay % 60);
    return t;
}

// A time in ticks to calendar fields, the fraction of a second dropped.
constexpr UtcTime utcTimeFromTicks(std::int64_t ticks) noexcept {
    return utcTimeFromSeconds(floorDiv(ticks, kTicksPerSecond));
}

}  // namespace ostrel::core
