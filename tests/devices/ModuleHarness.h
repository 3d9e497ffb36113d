#pragma once

// Runs a module or an effect over whole signals in blocks, the way a graph would:
// absolute-time events are cut into each block with their frame offsets and input
// signals are handed over block by block. Header-only: shared by the device tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <stdexcept>
#include <utility>
#include <vector>

#include "engine/AudioBuffer.h"
#include "engine/DeviceNode.h"
#include "engine/Event.h"
#include "engine/Node.h"

namespace ostrel::test::mod {

using engine::AudioBuffer;
using engine::DeviceNode;
using engine::Event;
using engine::EventType;
using engine::ProcessContext;
using Signal = std::vector<float>;

struct Timed {
    std::int64_t frame;
    Event event;
};

inline Timed timed(std::int64_t frame, EventType type, int note, int velocity, int channel, float value = 0.0f) {
    return {frame, Event{.type = type, .channel = static_cast<std::uint8_t>(channel), .note = static_cast<std::uint8_t>(note),
                         .velocity = static_cast<std::uint8_t>(velocity), .value = value}};
}
inline Timed noteOn(std::int64_t frame, int note, int velocity = 100, int channel = 0) {
    return timed(frame, EventType::NoteOn, note, velocity, channel);
}
inline Timed noteOff(std::int64_t frame, int note, int channel = 0) {
    return timed(frame, EventType::NoteOff, note, 0, channel);
}
inline Timed pitchBend(std::int64_t frame, float amount, int channel = 0) {
    return timed(frame, EventType::PitchBend, 0, 0, channel, amount);
}

struct Render {
    double rate = 48000.0;
    std::vector<int> blocks{512};  // cycled
    int channels = 1;
    // Channel 0 of each input slot, as long as the render; null leaves the slot unplugged.
    std::vector<const Signal*> inputs = {};
    const Signal* right = nullptr;  // a second channel for input 0 (an effect's stereo input)
    std::vector<Timed> events = {};  // in time order
};

// Processes `frames` frames and returns every output channel, planar.
inline std::vector<Signal> renderChannels(DeviceNode& node, int frames, const Render& r) {
    const int maxBlock = *std::max_element(r.blocks.begin(), r.blocks.end());
    std::vector<AudioBuffer> inBufs(r.inputs.size(), AudioBuffer(1, maxBlock));
    std::vector<const AudioBuffer*> slots(r.inputs.size(), nullptr);
    AudioBuffer out(r.channels, maxBlock);
    std::vector<Signal> result(static_cast<std::size_t>(r.channels), Signal(static_cast<std::size_t>(frames)));
    std::vector<Event> blockEvents;
    std::size_t nextEvent = 0, sizeIndex = 0;
    for (int start = 0; start < frames;) {
        const int n = std::min(r.blocks[sizeIndex++ % r.blocks.size()], frames - start);
        for (std::size_t k = 0; k < r.inputs.size(); ++k) {
            if (r.inputs[k] == nullptr) continue;
            const bool stereo = k == 0 && r.right != nullptr;
            inBufs[k].resize(stereo ? 2 : 1, n);
            std::copy_n(r.inputs[k]->begin() + start, n, inBufs[k].channel(0));
            if (stereo) std::copy_n(r.right->begin() + start, n, inBufs[k].channel(1));
            slots[k] = &inBufs[k];
        }
        out.resize(r.channels, n);
        blockEvents.clear();
        for (; nextEvent < r.events.size() && r.events[nextEvent].frame < start + n; ++nextEvent) {
            blockEvents.push_back(r.events[nextEvent].event);
            blockEvents.back().frameOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(0, r.events[nextEvent].frame - start));
        }
        ProcessContext ctx;
        ctx.frames = n;
        ctx.sampleRate = r.rate;
        ctx.position = start;
        ctx.events = blockEvents;
        node.process(ctx, slots, out);
        for (int c = 0; c < r.channels; ++c)
            std::copy_n(out.channel(c), n, result[static_cast<std::size_t>(c)].begin() + start);
        start += n;
    }
    return result;
}

// Channel 0 of a render.
inline Signal render(DeviceNode& node, int frames, const Render& r = {}) { return renderChannels(node, frames, r)[0]; }

struct Stereo {
    Signal left;
    Signal right;  // empty: a mono input
};

// An effect over `in` into a two-channel output, in blocks of the sizes given (cycled).
inline Stereo runEffect(DeviceNode& fx, const Stereo& in, double rate, std::vector<int> blocks = {512}) {
    Render r{.rate = rate, .blocks = std::move(blocks), .channels = 2, .inputs = {&in.left}};
    if (!in.right.empty()) r.right = &in.right;
    std::vector<Signal> out = renderChannels(fx, static_cast<int>(in.left.size()), r);
    return {std::move(out[0]), std::move(out[1])};
}

// Sets knobs by id; an id the device lacks throws, failing the test.
using Knobs = std::vector<std::pair<const char*, float>>;
inline void setKnobs(DeviceNode& node, const Knobs& knobs) {
    for (const auto& [id, value] : knobs) {
        std::uint32_t index = 0;
        if (!node.findParameter(id, index)) throw std::invalid_argument(id);
        node.params.setValue(index, value);
    }
}
inline void setKnob(DeviceNode& node, const char* id, float value) { setKnobs(node, {{id, value}}); }

inline Signal constant(int frames, float value) { return Signal(static_cast<std::size_t>(frames), value); }

inline Signal impulse(int frames) {
    Signal v = constant(frames, 0.0f);
    v[0] = 1.0f;
    return v;
}

inline Signal sine(double hz, double rate, int frames, float amplitude = 1.0f) {
    Signal v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        v[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return v;
}

inline double peak(const Signal& v, int from, int to) {
    double m = 0.0;
    for (int i = from; i < to; ++i) m = std::max(m, std::fabs(static_cast<double>(v[static_cast<std::size_t>(i)])));
    return m;
}

inline double energy(const Signal& v, int from, int to) {
    double sum = 0.0;
    for (int i = from; i < to; ++i) sum += static_cast<double>(v[static_cast<std::size_t>(i)]) * v[static_cast<std::size_t>(i)];
    return sum;
}

inline double rms(const Signal& v, int from, int to) { return std::sqrt(energy(v, from, to) / (to - from)); }

// Index of the first sample whose magnitude exceeds 1e-12, or -1.
inline int firstAbove(const Signal& v) {
    const auto it = std::find_if(v.begin(), v.end(), [](float x) { return std::fabs(x) > 1e-12f; });
    return it == v.end() ? -1 : static_cast<int>(it - v.begin());
}

// Frequency from the interpolated upward zero crossings in [from, to), in Hz.
inline double measureFrequency(const Signal& v, int from, int to, double rate) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (int i = std::max(from, 1); i < to; ++i) {
        const double a = v[static_cast<std::size_t>(i - 1)], b = v[static_cast<std::size_t>(i)];
        if (a < 0.0 && b >= 0.0) {
            last = (i - 1) + a / (a - b);
            if (first < 0.0) first = last;
            ++crossings;
        }
    }
    return crossings < 2 ? 0.0 : (crossings - 1) * rate / (last - first);
}

inline double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

inline constexpr double kMiddleC = 261.6255653005986;
inline constexpr double kRates[] = {44100.0, 48000.0, 96000.0};

}  // namespace ostrel::test::mod
