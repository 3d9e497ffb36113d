#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ostrel::engine { inline namespace playback {

// The tempi a song plays at, live and offline, in beats per minute.
inline constexpr double kMinTempoBpm = 20.0;
inline constexpr double kMaxTempoBpm = 300.0;

// bpm brought within the limits; NaN is left for the caller to refuse or replace.
inline double clampTempo(double bpm) { return std::clamp(bpm, kMinTempoBpm, kMaxTempoBpm); }

struct TempoPoint {
    std::int64_t tick = 0;
    double bpm = 120.0;  // above 0
};

struct TimeSignaturePoint {
    std::int64_t tick = 0;
    std::int32_t numerator = 4;
    std::int32_t denominator = 4;
};

// A stretch of constant tempo and the time, in seconds, at which it begins.
struct TempoSegment {
    std::int64_t tick = 0;
    double bpm = 120.0;
    double startSeconds = 0.0;
};

// Musical time (ticks, 960 per beat) to sample frames, for offline rendering.
// Both point lists are kept sorted, without two points at one tick and with a point
// at tick 0; there is one segment per tempo point.
class TempoMap {
public:
    static constexpr std::int64_t kTicksPerBeat = 960;

    // An empty tempo list plays 120 BPM, an empty signature list 4/4. Of several points
    // at one tick the last given wins; tempo points that are not above 0 are ignored.
    TempoMap(std::vector<TempoPoint> tempos, std::vector<TimeSignaturePoint> signatures);

    // The last segment at or before the tick; the first one for ticks before it.
    const TempoSegment& segmentAt(std::int64_t tick) const;
    // The frame at which the tick sounds (the ceiling of the exact time).
    std::int64_t tickToFrame(std::int64_t tick, double sampleRate) const;

    const std::vector<TempoPoint>& tempos() const { return tempos_; }
    const std::vector<TimeSignaturePoint>& signatures() const { return signatures_; }
    const std::vector<TempoSegment>& segments() const { return segments_; }

private:
    std::vector<TempoPoint> tempos_;
    std::vector<TimeSignaturePoint> signatures_;
    std::vector<TempoSegment> segments_;
};

} }  // namespace ostrel::engine::playback
