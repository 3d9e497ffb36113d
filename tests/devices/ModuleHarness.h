#pragma once

// Runs a module over a whole signal in blocks, the way a graph would: absolute-time
// note events are cut into each block with their frame offsets, and input signals are
// handed over block by block. Header-only: shared by the module tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <span>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

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

struct Timed {
    std::int64_t frame;
    Event event;
};

inline Timed noteOn(std::int64_t frame, int note, int velocity = 100, int channel = 0) {
    Event e;
    e.type = EventType::NoteOn;
    e.note = static_cast<std::uint8_t>(note);
    e.velocity = static_cast<std::uint8_t>(velocity);
    e.channel = static_cast<std::uint8_t>(channel);
    return {frame, e};
}

inline Timed noteOff(std::int64_t frame, int note, int channel = 0) {
    Event e;
    e.type = EventType::NoteOff;
    e.note = static_cast<std::uint8_t>(note);
    e.channel = static_cast<std::uint8_t>(channel);
    return {frame, e};
}

inline Timed pitchBend(std::int64_t frame, float amount, int channel = 0) {
    Event e;
    e.type = EventType::PitchBend;
    e.value = amount;
    e.channel = static_cast<std::uint8_t>(channel);
    return {frame, e};
}

struct Render {
    double rate = 48000.0;
    std::vector<int> blocks{512};  // cycled
    int channels = 1;
    // One signal per input slot, as long as the render; null leaves the slot unplugged.
    std::vector<const std::vector<float>*> inputs;
    std::vector<Timed> events;  // in time order
};

// Processes `frames` frames and returns every output channel, planar.
inline std::vector<std::vector<float>> renderChannels(DeviceNode& node, int frames, const Render& r) {
    const int maxBlock = *std::max_element(r.blocks.begin(), r.blocks.end());
    std::vector<AudioBuffer> inBufs(r.inputs.size(), AudioBuffer(1, maxBlock));
    AudioBuffer out(r.channels, maxBlock);
    std::vector<std::vector<float>> result(static_cast<std::size_t>(r.channels),
                                           std::vector<float>(static_cast<std::size_t>(frames)));
    std::vector<const AudioBuffer*> slots(r.inputs.size(), nullptr);
    std::vector<Event> blockEvents;
    std::size_t nextEvent = 0;
    std::size_t sizeIndex = 0;
    for (int start = 0; start < frames;) {
        const int n = std::min(r.blocks[sizeIndex++ % r.blocks.size()], frames - start);
        for (std::size_t k = 0; k < r.inputs.size(); ++k) {
            if (r.inputs[k] == nullptr) continue;
            inBufs[k].resize(1, n);
            std::copy_n(r.inputs[k]->begin() + start, n, inBufs[k].channel(0));
            slots[k] = &inBufs[k];
        }
        out.resize(r.channels, n);
        blockEvents.clear();
        while (nextEvent < r.events.size() && r.events[nextEvent].frame < start + n) {
            Event e = r.events[nextEvent++].event;
            e.frameOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(0, r.events[nextEvent - 1].frame - start));
            blockEvents.push_back(e);
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
inline std::vector<float> render(DeviceNode& node, int frames, const Render& r = {}) {
    return renderChannels(node, frames, r)[0];
}

inline void setKnob(DeviceNode& node, const char* id, float value) {
    std::uint32_t index = 0;
    if (!node.findParameter(id, index)) throw std::invalid_argument(id);
    node.params.setValue(index, value);
}

inline float knob(const DeviceNode& node, const char* id) {
    std::uint32_t index = 0;
    if (!node.findParameter(id, index)) throw std::invalid_argument(id);
    return node.params.value(index);
}

inline std::vector<float> constant(int frames, float value) {
    return std::vector<float>(static_cast<std::size_t>(frames), value);
}

inline std::vector<float> sine(double hz, double rate, int frames, float amplitude = 1.0f) {
    std::vector<float> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        v[static_cast<std::size_t>(i)] =
            amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * hz * i / rate));
    return v;
}

inline double peak(const std::vector<float>& v, int from, int to) {
    double m = 0.0;
    for (int i = from; i < to; ++i) m = std::max(m, std::fabs(static_cast<double>(v[static_cast<std::size_t>(i)])));
    return m;
}

// Frequency from the interpolated upward zero crossings in [from, to), in Hz.
inline double measureFrequency(const std::vector<float>& v, int from, int to, double rate) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (int i = std::max(from, 1); i < to; ++i) {
        const double a = v[static_cast<std::size_t>(i - 1)], b = v[static_cast<std::size_t>(i)];
        if (a < 0.0 && b >= 0.0) {
            const double t = (i - 1) + a / (a - b);
            if (first < 0.0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * rate / (last - first);
}

inline double cents(double measured, double expected) { return 1200.0 * std::log2(measured / expected); }

inline constexpr double kRates[] = {44100.0, 48000.0, 96000.0};

}  // namespace ostrel::test::mod

namespace ostrel::test::mod {

struct KnobRow {
    const char* id;
    const char* name;
    const char* unit;
    float min;
    float max;
    float defaultValue;
    engine::ParamKind kind;
};

// Compares a device's knob table with the expected rows, in order.
inline void expectKnobTable(const DeviceNode& node, std::span<const KnobRow> rows) {
    const auto table = node.params.descriptors();
    ASSERT_EQ(table.size(), rows.size()) << node.typeId();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].id);
        EXPECT_EQ(table[i].index, i);
        EXPECT_STREQ(table[i].id, rows[i].id);
        EXPECT_STREQ(table[i].name, rows[i].name);
        EXPECT_STREQ(table[i].unit, rows[i].unit);
        EXPECT_EQ(table[i].min, rows[i].min);
        EXPECT_EQ(table[i].max, rows[i].max);
        EXPECT_EQ(table[i].defaultValue, rows[i].defaultValue);
        EXPECT_EQ(table[i].kind, rows[i].kind);
    }
}

}  // namespace ostrel::test::mod
