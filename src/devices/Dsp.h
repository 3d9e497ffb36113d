#pragma once

// Small DSP pieces shared by every device. All are inline, allocation-free and
// safe on the audio thread; each notes what it costs per call.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

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

// std::fmin(std::fmax(v, lo), hi) for bounds lo <= hi that are not NaN, to the bit, but
// inlined: a NaN v gives lo, as fmax does. Cost: two compares.
inline double bounded(double v, double lo, double hi) {
    const double atLeast = v > lo ? v : lo;
    return atLeast < hi ? atLeast : hi;
}

// Decibels to a gain factor and back (0 dB = 1). A gain of 0 gives -inf dB: floor it
// first where silence can reach it. Cost: one pow or one log10; hoist out of the frame loop
// where the value only changes per block.
inline float dbToGain(float db) { return std::pow(10.0f, db / 20.0f); }
inline float gainToDb(float gain) { return 20.0f * std::log10(gain); }

// The weighted blend (1 - t) * a + t * b, as a dry/wet mix: exactly a at t = 0 and
// exactly b at t = 1 (lerp may miss b by a rounding). Cost: two multiplies, two adds.
inline float blend(float a, float b, float t) { return (1.0f - t) * a + t * b; }

// One-pole smoothing: state moves the fraction `factor` (0..1) of the way to target.
// Cost: one multiply-add.
inline void onePole(float& state, float target, float factor) {
    state += (target - state) * factor;
}
inline void onePole(double& state, double target, double factor) {
    state += (target - state) * factor;
}

// The same one-pole written as a blend: state keeps the fraction `keep` of itself and
// takes the rest from target, as onePole with factor 1 - keep but rounded differently
// (the compressor's detector and the reverb's comb damping are tuned on this form).
// Cost: two multiplies, two adds.
inline void onePoleKeep(float& state, float target, float keep) { state = blend(target, state, keep); }

// A knob value a device glides toward frame by frame (onePole or onePoleSettling on
// `value`). The first target after construction, prepare or reset is taken at once: a
// fresh device does not glide in from 0. Cost: one compare per block.
struct Glide {
    float value = 0.0f;
    bool fresh = true;

    // Once per block, before its frames.
    void begin(float target) {
        if (!fresh) return;
        value = target;
        fresh = false;
    }
    void restart() { fresh = true; }
};

// One-pole smoothing that lands exactly on its target once float rounding stops it
// moving: with a small factor a plain float one-pole stalls short of the target (a
// 2 s glide would stop cents away from the note). Cost: one multiply-add, one compare.
inline void onePoleSettling(float& state, float target, float factor) {
    const float next = state + (target - state) * factor;
    state = next == state ? target : next;
}

// The one-pole factor that covers 1 - e^-n of the distance in `frames` frames, for
// n = `timeConstants` time constants (1: 63 %, 3: 95 %, 4.6: 99 %). Frames at or below
// 0 give 1: jump at once. Cost: one exp; compute it once per block, not per frame.
inline float onePoleFactor(float frames, float timeConstants = 1.0f) {
    return frames > 0.0f ? 1.0f - std::exp(-timeConstants / frames) : 1.0f;
}
inline double onePoleFactor(double frames, double timeConstants) {
    return frames > 0.0 ? 1.0 - std::exp(-timeConstants / frames) : 1.0;
}

// The fraction onePoleKeep keeps for a time constant of `frames` frames: exp(-1 / frames),
// 1 - onePoleFactor(frames) before rounding. Frames at or below 0 give 0: jump at once.
// Cost: one exp; once per block.
inline float onePoleKeepFactor(float frames) { return frames > 0.0f ? std::exp(-1.0f / frames) : 0.0f; }

// The one-pole factor of a low-pass whose corner is at `hz`: 1 - exp(-2 pi hz / rate).
// Cost: one exp; once per block.
inline float onePoleFactorAt(double hz, double rate) {
    return 1.0f - std::exp(static_cast<float>(-2.0 * std::numbers::pi * hz / rate));
}

// The phase after `frames` steps of `phase += step; if (phase >= 1) phase -= floor(phase)`,
// to the bit, without taking every step. Inside one binade [2^e, 2^(e+1)) every double
// is a multiple of g = 2^(e-52), so each sum that stays in the binade rounds to
// phase + step rounded to a multiple of g (unless step lies exactly half-way between
// two): those steps are one exact multiply-add, and only the step that leaves the
// binade is taken as it stands. Cost: about ten operations per binade the phase passes
// (log2(1 / step) of them per cycle); steps of 1/128 and more (a few hundred hertz at
// audio rates) are cheaper one by one, at one add each.
inline double advancePhase(double phase, double step, std::int64_t frames) {
    const auto one = [&] {
        phase += step;
        if (phase >= 1.0) phase -= std::floor(phase);
        --frames;
    };
    // Other steps (negative, NaN, a phase out of range) go one by one too.
    const bool jumps = step > 0.0 && step < 0x1p-7 && phase >= 0.0 && phase < 1.0;
    while (frames > 0) {
        if (!jumps || phase < 0x1p-30) {
            one();
            continue;
        }
        // phase in [2^e, 2^(e+1)), its spacing g = 2^(e-52): both read off its exponent.
        const std::uint64_t field = (std::bit_cast<std::uint64_t>(phase) >> 52) & 0x7FF;
        const double top = std::bit_cast<double>((field + 1) << 52);
        const double perG = std::bit_cast<double>((2 * 1023 + 52 - field) << 52);  // 1 / g
        const double units = step * perG;  // exact: a power of two
        double q = step;                    // a step of whole spacings as it is
        if (units < 0x1p52) {
            const double whole = static_cast<double>(static_cast<std::int64_t>(units));
            if (units - whole == 0.5) {
                one();  // a tie: the rounding depends on the phase's last bit
                continue;
            }
            q = (units - whole < 0.5 ? whole : whole + 1.0) / perG;
        }
        if (q == 0.0) {
            return phase;  // a step below half a spacing: every sum rounds back to the phase
        }
        // Steps whose exact sum stays below top, one short for the division's rounding.
        const double room = (top - phase - step) / q - 1.0;
        if (room >= 1.0) {
            const std::int64_t m = room >= static_cast<double>(frames) ? frames : static_cast<std::int64_t>(room);
            phase += static_cast<double>(m) * q;
            frames -= m;
        }
        if (frames > 0) one();
    }
    return phase;
}

// tan(x) as a ratio num / den for 0 <= x <= 0.45 pi (a cutoff up to 0.45 times the
// sample rate): the [7/6] Pade approximant x (135135 - 17325 x^2 + 378 x^4 - x^6) /
// (135135 - 62370 x^2 + 3150 x^4 - 28 x^6). Its relative error stays below 4e-9 over
// that range (1.9e-13 up to pi/4), a thousandth of a cent of cutoff. Kept as a ratio so
// a filter can fold its own division into one. Cost: six multiplies, six adds.
struct TanRatio {
    double num;
    double den;
};
inline TanRatio tanRatio(double x) {
    const double t = x * x;
    return {x * (135135.0 + t * (-17325.0 + t * (378.0 - t))), 135135.0 + t * (-62370.0 + t * (3150.0 - 28.0 * t))};
}

// The trapezoidal state-variable filter's coefficients for g = tan(pi fc / rate) and
// damping k: a1 = 1 / (1 + g (g + k)), a2 = g a1, a3 = g a2. From tanRatio with one
// division. Cost: about ten multiplies and one divide.
struct SvfCoefficients {
    double a1;
    double a2;
    double a3;
};
inline SvfCoefficients svfCoefficients(double fc, double rate, double k) {
    const TanRatio g = tanRatio(std::numbers::pi * fc / rate);
    const double norm = 1.0 / (g.den * g.den + g.num * (g.num + k * g.den));
    return {g.den * g.den * norm, g.num * g.den * norm, g.num * g.num * norm};
}

// sin(x) for |x| < 2^20, bit for bit as sin below, without its test of the range: for a
// caller whose argument is bounded by construction (a phase angle plus a bounded shift).
// Always inlined: a loop of several sines would otherwise pay a call for each.
[[gnu::always_inline]] inline double sinBelowMillion(double x) {
    constexpr double kTwoOverPi = 6.36619772367581382433e-01;
    constexpr double kHalfPiHead = 1.57079632673412561417e+00;  // the first 33 bits of pi/2
    constexpr double kHalfPiTail = 6.07710050650619224932e-11;  // pi/2 - kHalfPiHead
    // Adding and taking away 1.5 * 2^52 rounds to the nearest whole number.
    constexpr double kRound = 6755399441055744.0;
    const double k = (x * kTwoOverPi + kRound) - kRound;
    const double r = (x - k * kHalfPiHead) - k * kHalfPiTail;
    const double z = r * r;
    const auto quadrant = static_cast<std::int64_t>(k) & 3;
    // Estrin's scheme: the pairs and powers are independent, so a chain of sines (an FM
    // operator feeding back on itself) waits on half as many steps as with Horner's.
    const double z2 = z * z;
    const double z4 = z2 * z2;
    double v;
    if ((quadrant & 1) == 0) {
        const double p = (-1.66666666666666324348e-01 + 8.33333333332248946124e-03 * z) +
                         z2 * (-1.98412698298579493134e-04 + 2.75573137070700676789e-06 * z) +
                         z4 * (-2.50507602534068634195e-08 + 1.58969099521155010221e-10 * z);
        v = r + r * z * p;
    } else {
        const double q = (4.16666666666666019037e-02 + -1.38888888888741095749e-03 * z) +
                         z2 * (2.48015872894767294178e-05 + -2.75573143513906633035e-07 * z) +
                         z4 * (2.08757232129817482790e-09 + -1.13596475577881948265e-11 * z);
        v = 1.0 - 0.5 * z + z2 * q;
    }
    return quadrant >= 2 ? -v : v;
}

// sin(x) without the library call: the argument is brought into -pi/4..pi/4 around
// the nearest multiple of pi/2 (pi/2 kept to 86 bits, so no bits are lost below
// |x| = 2^20), then one of two minimax polynomials, each within 2^-58 of its function
// there. The result is within about one double rounding of std::sin, a million times
// finer than a float's step. Larger or non-finite arguments go to std::sin.
// Cost: about twenty multiplies and adds, inlined.
inline double sin(double x) {
    if (!(std::fabs(x) < 1048576.0)) return std::sin(x);
    return sinBelowMillion(x);
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
    return blend(line[i0], line[i1], frac);
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

    constexpr std::uint32_t step() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    // Takes one step back: each xorshift is undone by xorshifting the partial results.
    void unstep() {
        std::uint32_t s = state;
        s ^= s << 5;
        s ^= s << 10;
        s ^= s << 20;  // s ^= s << 5 undone
        s ^= s >> 17;  // s ^= s >> 17 undone
        s ^= s << 13;
        s ^= s << 26;  // s ^= s << 13 undone
        state = s;
    }
    // `steps` steps at once. Each step is linear over bits (xor of shifts), so 2^k steps
    // are a 32 x 32 bit matrix, and any count the product of those its bits name.
    // Cost: about a hundred operations per set bit of steps, not six per step.
    void skip(std::uint64_t steps);
    // The state after one step as a float in -1..1.
    float next() { return toFloat(step()); }
    // 2^-31 scales the full 32-bit range onto 0..2.
    static float toFloat(std::uint32_t s) {
        return static_cast<float>(s) * 4.656612873077393e-10f - 1.0f;
    }
};

namespace detail {

// Column j of the matrix of 2^k steps: where 2^k steps take the state with only bit j set.
struct XorShiftJumps {
    std::uint32_t column[64][32];
};

inline constexpr XorShiftJumps kXorShiftJumps = [] {
    XorShiftJumps jumps{};
    for (int j = 0; j < 32; ++j) {
        XorShift32 one{std::uint32_t{1} << j};
        jumps.column[0][j] = one.step();
    }
    for (int k = 1; k < 64; ++k) {
        for (int j = 0; j < 32; ++j) {
            // Twice the jump: the jump applied to its own column.
            const std::uint32_t v = jumps.column[k - 1][j];
            std::uint32_t r = 0;
            for (int b = 0; b < 32; ++b) r ^= (v >> b & 1u) != 0 ? jumps.column[k - 1][b] : 0u;
            jumps.column[k][j] = r;
        }
    }
    return jumps;
}();

}  // namespace detail

inline void XorShift32::skip(std::uint64_t steps) {
    for (int k = 0; steps != 0; ++k, steps >>= 1) {
        if ((steps & 1u) == 0) continue;
        const std::uint32_t* column = detail::kXorShiftJumps.column[k];
        std::uint32_t r = 0;
        for (int b = 0; b < 32; ++b) r ^= column[b] & (0u - (state >> b & 1u));
        state = r;
    }
}

} } }  // namespace ostrel::engine::devices::dsp
