#include "playback/TempoMap.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace ostrel::engine { inline namespace playback {

namespace {

template <typename Point>
void normalise(std::vector<Point>& points, const Point& fallback) {
    const bool hasZero = std::any_of(points.begin(), points.end(), [](const Point& p) { return p.tick == 0; });
    if (!hasZero) {
        points.push_back(fallback);
    }
    std::stable_sort(points.begin(), points.end(), [](const Point& a, const Point& b) { return a.tick < b.tick; });
    std::vector<Point> kept;
    kept.reserve(points.size());
    for (const Point& p : points) {
        if (!kept.empty() && kept.back().tick == p.tick) {
            kept.back() = p;
        } else {
            kept.push_back(p);
        }
    }
    points = std::move(kept);
}

}  // namespace

TempoMap::TempoMap(std::vector<TempoPoint> tempos, std::vector<TimeSignaturePoint> signatures)
    : tempos_(std::move(tempos)), signatures_(std::move(signatures)) {
    // A tempo of 0, below 0 or not a number would put every later tick at an infinite
    // or undefined frame.
    std::erase_if(tempos_, [](const TempoPoint& p) { return !(p.bpm > 0.0) || !std::isfinite(p.bpm); });
    normalise(tempos_, TempoPoint{0, 120.0});
    normalise(signatures_, TimeSignaturePoint{0, 4, 4});

    segments_.reserve(tempos_.size());
    double seconds = 0.0;
    for (std::size_t k = 0; k < tempos_.size(); ++k) {
        segments_.push_back({tempos_[k].tick, tempos_[k].bpm, seconds});
        if (k + 1 < tempos_.size()) {
            seconds += static_cast<double>(tempos_[k + 1].tick - tempos_[k].tick) / static_cast<double>(kTicksPerBeat) *
                       (60.0 / tempos_[k].bpm);
        }
    }
}

const TempoSegment& TempoMap::segmentAt(std::int64_t tick) const {
    auto after = std::upper_bound(segments_.begin(), segments_.end(), tick,
                                  [](std::int64_t t, const TempoSegment& s) { return t < s.tick; });
    return after == segments_.begin() ? segments_.front() : *(after - 1);
}

std::int64_t TempoMap::tickToFrame(std::int64_t tick, double sampleRate) const {
    const TempoSegment& s = segmentAt(tick);
    const double frame = std::ceil(sampleRate * 60.0 / s.bpm *
                                       (static_cast<double>(tick - s.tick) / static_cast<double>(kTicksPerBeat)) +
                                   sampleRate * s.startSeconds);
    // Saturate instead of converting an out-of-range double, which is undefined.
    constexpr double kLimit = 9.2e18;
    if (std::isnan(frame)) {
        return 0;
    }
    if (frame >= kLimit) {
        return static_cast<std::int64_t>(kLimit);
    }
    if (frame <= -kLimit) {
        return -static_cast<std::int64_t>(kLimit);
    }
    return static_cast<std::int64_t>(frame);
}

} }  // namespace ostrel::engine::playback
