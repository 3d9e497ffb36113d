#pragma once

// Small DSP pieces shared by every device. All are inline, allocation-free and
// safe on the audio thread; each notes what it costs per call.

#include <cmath>
#include <cstdint>

namespace ostrel::engine { inline namespace devices { namespace dsp {

// Feedback state below this magnitude is flushed to exactly 0, so a decaying
// filter or echo never crawls through denormals (which cost ~100x per operation).
inline constexpr double kTinyState = 1e-20;

// Cost: one compare.
inline void flushTiny(float& state) {
    if (std::fabs(state) < static_cast<float>(kTinyState)) state = 0.0f;
}
inline void flushTiny(double& state) {
    if (std::fabs(state) < kTinyState) state = 0.0;
}

// One-pole smoothing: state moves the fraction `factor` (0..1) of the way to target.
// Cost: one multiply-add.
inline void onePole(float& state, float target, float factor) {
    state += (target - state) * factor;
}
inline void onePole(double& state, double target, double factor) {
    state += (target - state) * factor;
}

// One-pole smoothing that lands exactly on its target once float rounding stops it
// moving: with a small factor a plain float one-pole stalls short of the target (a
// 2 s glide would stop cents away from the note). Cost: one multiply-add, one compare.
inline void onePoleSettling(float& state, float target, float factor) {
    const float next = state + (target - state) * factor;
    state = next == state ? target : next;
}

// The one-pole factor that covers 1 - 1/e of the distance in `frames` frames
// (a time constant). Frames at or below 0 give 1: jump at once.
// Cost: one exp; compute it once per block, not per frame.
inline float onePoleFactor(float frames) {
    return frames > 0.0f ? 1.0f - std::exp(-1.0f / frames) : 1.0f;
}

// Linear interpolation a + (b - a) * t. Cost: one multiply, two adds.
inline float lerp(float a, float b, float t) { return a + (b - a) * t; }

// Linear read at a fractional position of a circular line of `size` samples,
// 0 <= position < size, as delay lines weigh their taps: (1 - frac) * a + frac * b,
// with the sample after the last one being the first. Cost: two loads, two multiplies.
inline float readCircular(const float* line, int size, double position) {
    const int i0 = static_cast<int>(position);
    const float frac = static_cast<float>(position - i0);
    const int i1 = i0 + 1 < size ? i0 + 1 : 0;
    return (1.0f - frac) * line[i0] + frac * line[i1];
}

// Two-sample polynomial band-limited step (PolyBLEP) for a phase t in 0..1 that
// advances dt per frame; subtract it at a falling jump of 2, add it at a rising one.
// Cost: a compare or two and a few multiplies.
inline double polyBlep(double t, double dt) {
    if (t < dt) {
        const double x = t / dt;
        return 2.0 * x - x * x - 1.0;
    }
    if (t > 1.0 - dt) {
        const double x = (t - 1.0) / dt;
        return x * x + 2.0 * x + 1.0;
    }
    return 0.0;
}

// xorshift32: the noise and random-step generator. The exact sequence is part of
// how a patch sounds (two modules reset together play the same noise), so its
// steps and scaling must not change. Cost: three shifts and xors, one convert.
struct XorShift32 {
    std::uint32_t state;

    std::uint32_t step() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // The state after one step as a float in -1..1.
    float next() { return toFloat(step()); }
    // 2^-31 scales the full 32-bit range onto 0..2.
    static float toFloat(std::uint32_t s) {
        return static_cast<float>(s) * 4.656612873077393e-10f - 1.0f;
    }
};

} } }  // namespace ostrel::engine::devices::dsp
