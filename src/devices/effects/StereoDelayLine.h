#pragma once

// Two circular lines, left and right, sharing one write position: the delay and the
// chorus are both built on it. Reads are linear between two taps.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices { namespace dsp {

class StereoDelayLine {
public:
    // GUI or render thread: sizes both lines (allocates) and clears them.
    void allocate(std::int32_t length) {
        left_.assign(static_cast<std::size_t>(length), 0.0f);
        right_.assign(static_cast<std::size_t>(length), 0.0f);
        length_ = length;
        write_ = 0;
    }

    // Audio thread: silence without allocating.
    void clear() {
        std::fill(left_.begin(), left_.end(), 0.0f);
        std::fill(right_.begin(), right_.end(), 0.0f);
        write_ = 0;
    }

    // Samples per line; 0 until allocated.
    std::int32_t length() const { return length_; }

    // Where a tap `delay` samples behind the write position reads, wrapped into the
    // line. In double: in float, a tiny negative position plus the length rounds to
    // exactly the length and both taps would read past the end. A delay beyond the
    // line wraps round it too. Cost: a subtract and a compare or two.
    double tapPosition(double delay) const {
        double r = static_cast<double>(write_) - delay;
        const double length = static_cast<double>(length_);
        while (r < 0.0) r += length;
        while (r >= length) r -= length;
        return r;
    }
    float readLeft(double position) const { return readCircular(left_.data(), length_, position); }
    float readRight(double position) const { return readCircular(right_.data(), length_, position); }

    // Stores this frame's samples and moves on by one.
    void write(float left, float right) {
        left_[static_cast<std::size_t>(write_)] = left;
        right_[static_cast<std::size_t>(write_)] = right;
        if (++write_ == length_) write_ = 0;
    }

private:
    std::vector<float> left_;
    std::vector<float> right_;
    std::int32_t length_ = 0;
    std::int32_t write_ = 0;
};

} } }  // namespace ostrel::engine::devices::dsp
