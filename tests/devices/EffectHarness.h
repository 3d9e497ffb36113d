#pragma once

// Runs an effect over whole signals in blocks, the way a graph would, and measures
// what comes out. Header-only: shared by the effect tests.

#include <algorithm>
#include <cmath>
#include <numbers>
#include <span>
#include <stdexcept>
#include <vector>

#include "engine/AudioBuffer.h"
#include "engine/DeviceNode.h"
#include "engine/Event.h"
#include "engine/Node.h"

namespace ostrel::test {

using engine::AudioBuffer;
using engine::DeviceNode;
using engine::Event;
using engine::ProcessContext;

struct Stereo {
    std::vector<float> left;
    std::vector<float> right;
};

enum class Input { Plugged, Unplugged };

// Processes `in` (mono when right is empty) through `fx` in blocks of `blockSize`
// frames (or the sizes in `blockSizes`, cycled) into a two-channel output.
inline Stereo runEffect(DeviceNode& fx, const Stereo& in, double rate, std::vector<int> blockSizes,
                        Input input = Input::Plugged) {
    const int total = static_cast<int>(in.left.size());
    const int inChannels = in.right.empty() ? 1 : 2;
    const int maxBlock = *std::max_element(blockSizes.begin(), blockSizes.end());
    AudioBuffer inBuf(inChannels, maxBlock);
    AudioBuffer outBuf(2, maxBlock);
    Stereo out{std::vector<float>(static_cast<std::size_t>(total)), std::vector<float>(static_cast<std::size_t>(total))};
    std::size_t sizeIndex = 0;
    for (int start = 0; start < total;) {
        const int n = std::min(blockSizes[sizeIndex++ % blockSizes.size()], total - start);
        inBuf.resize(inChannels, n);
        outBuf.resize(2, n);
        std::copy_n(in.left.begin() + start, n, inBuf.channel(0));
        if (inChannels == 2) std::copy_n(in.right.begin() + start, n, inBuf.channel(1));
        ProcessContext ctx;
        ctx.frames = n;
        ctx.sampleRate = rate;
        ctx.position = start;
        const AudioBuffer* plugged[] = {&inBuf};
        const std::span<const AudioBuffer* const> inputs =
            input == Input::Plugged ? std::span<const AudioBuffer* const>(plugged) : std::span<const AudioBuffer* const>();
        fx.process(ctx, inputs, outBuf);
        std::copy_n(outBuf.channel(0), n, out.left.begin() + start);
        std::copy_n(outBuf.channel(1), n, out.right.begin() + start);
        start += n;
    }
    return out;
}

inline Stereo runEffect(DeviceNode& fx, const Stereo& in, double rate, int blockSize = 512,
                        Input input = Input::Plugged) {
    return runEffect(fx, in, rate, std::vector<int>{blockSize}, input);
}

inline std::vector<float> impulse(int frames, int at = 0, float height = 1.0f) {
    std::vector<float> v(static_cast<std::size_t>(frames), 0.0f);
    v[static_cast<std::size_t>(at)] = height;
    return v;
}

inline std::vector<float> sine(double hz, double rate, int frames, float amplitude = 0.5f) {
    std::vector<float> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        v[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return v;
}

inline double rms(const std::vector<float>& v, int from, int to) {
    double sum = 0.0;
    for (int i = from; i < to; ++i) sum += static_cast<double>(v[static_cast<std::size_t>(i)]) * v[static_cast<std::size_t>(i)];
    return std::sqrt(sum / std::max(1, to - from));
}

inline double energy(const std::vector<float>& v, int from, int to) {
    double sum = 0.0;
    for (int i = std::max(0, from); i < std::min<int>(to, static_cast<int>(v.size())); ++i)
        sum += static_cast<double>(v[static_cast<std::size_t>(i)]) * v[static_cast<std::size_t>(i)];
    return sum;
}

// Index of the first sample whose magnitude exceeds `floor`, or -1.
inline int firstAbove(const std::vector<float>& v, float floor = 1e-12f) {
    for (std::size_t i = 0; i < v.size(); ++i)
        if (std::fabs(v[i]) > floor) return static_cast<int>(i);
    return -1;
}

// Sets a knob by id, failing the test when the device has no such knob.
inline void setKnob(DeviceNode& fx, const char* id, float value) {
    std::uint32_t index = 0;
    if (!fx.findParameter(id, index)) throw std::invalid_argument(id);
    fx.params.setValue(index, value);
}

inline constexpr double kRates[] = {44100.0, 48000.0, 96000.0};

}  // namespace ostrel::test
