#include "engine/BackingTrack.h"

#include <algorithm>

namespace ostrel::engine {

bool BackingTrack::View::ready(std::int64_t first, std::int64_t count) const {
    if (abandoned) {
        return true;
    }
    if (!begun) {
        return false;
    }
    const std::int64_t a = std::max<std::int64_t>(first, 0);
    const std::int64_t b = std::min(first + std::max<std::int64_t>(count, 0), frames);
    return a >= b || (a >= from && b <= end);
}

BackingTrack::BackingTrack(const std::vector<float>& samples, std::int32_t channels, Timing timing) {
    const std::int32_t ch = std::max(channels, 1);
    const auto frames = static_cast<std::int64_t>(samples.size() / static_cast<std::size_t>(ch));
    begin(frames, ch, 0, timing);
    std::copy_n(samples.begin(), static_cast<std::size_t>(frames) * static_cast<std::size_t>(ch), samples_.get());
    publish(frames);
}

void BackingTrack::begin(std::int64_t frames, std::int32_t channels, std::int64_t from, Timing timing) {
    channels_ = std::max(channels, 1);
    timing_ = timing;
    frames_ = std::max<std::int64_t>(frames, 0);
    from_ = std::clamp<std::int64_t>(from, 0, frames_);
    samples_ = std::make_unique_for_overwrite<float[]>(static_cast<std::size_t>(frames_) *
                                                       static_cast<std::size_t>(channels_));
    // The shape goes with the first publication.
    end_.store(from_, std::memory_order_release);
}

std::span<float> BackingTrack::unpublished(std::int64_t first, std::int64_t count) {
    const std::int64_t a = std::clamp<std::int64_t>(first, 0, frames_);
    const std::int64_t b = std::clamp<std::int64_t>(first + std::max<std::int64_t>(count, 0), a, frames_);
    const auto ch = static_cast<std::size_t>(channels_);
    return {samples_.get() + static_cast<std::size_t>(a) * ch, static_cast<std::size_t>(b - a) * ch};
}

void BackingTrack::publish(std::int64_t end) {
    const std::int64_t now = end_.load(std::memory_order_relaxed);  // only the writer stores it
    const std::int64_t next = std::min(end, frames_);
    if (next > now) {
        // Release: the frames before `next` were written before this store.
        end_.store(next, std::memory_order_release);
    }
}

void BackingTrack::abandon() { abandoned_.store(true, std::memory_order_release); }

BackingTrack::View BackingTrack::view() const {
    View view;
    view.abandoned = abandoned_.load(std::memory_order_acquire);
    // Acquire: the shape and every frame before `end` were written before it was stored.
    const std::int64_t end = end_.load(std::memory_order_acquire);
    if (end < 0) {
        return view;
    }
    view.samples = samples_.get();
    view.channels = channels_;
    view.frames = frames_;
    view.from = from_;
    view.end = end;
    view.timing = timing_;
    view.begun = true;
    return view;
}

}  // namespace ostrel::engine
