#pragma once

// Shared parts of the device tests: runs a module, an effect or a built patch graph in
// blocks the way the engine would (absolute-time events cut into each block at their
// frame offsets), signal measures, patch lookups, a sound card the test drives itself,
// and small songs. Header-only.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <numbers>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "audiofile/WavWriter.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "devices/patches/PatchGraph.h"
#include "engine/AudioBackend.h"
#include "engine/AudioBuffer.h"
#include "engine/Event.h"
#include "engine/graph/DeviceNode.h"
#include "engine/graph/GraphRunner.h"

namespace ostrel::engine::harness {

using Signal = std::vector<float>;
using Knobs = std::map<std::string, double>;

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
constexpr int kChannels = 2;
inline constexpr double kRates[] = {44100.0, 48000.0, 96000.0};
inline constexpr double kMiddleC = 261.6255653005986;

using Timed = TimedEvent;  // at an absolute frame

inline Timed event(std::int64_t frame, EventType type, int note, int velocity, int channel, float value = 0.0f) {
    return {frame, Event{.type = type, .channel = static_cast<std::uint8_t>(channel), .note = static_cast<std::uint8_t>(note),
                         .velocity = static_cast<std::uint8_t>(velocity), .value = value}};
}
inline Timed noteOn(std::int64_t frame, int note, int velocity = 100, int channel = 0) {
    return event(frame, EventType::NoteOn, note, velocity, channel);
}
inline Timed noteOff(std::int64_t frame, int note, int channel = 0) { return event(frame, EventType::NoteOff, note, 0, channel); }
inline Timed pitchBend(std::int64_t frame, float amount, int channel = 0) {
    return event(frame, EventType::PitchBend, 0, 0, channel, amount);
}

struct Render {
    double rate = kRate;
    std::vector<int> blocks{kBlock};  // cycled
    int channels = 1;
    // Channel 0 of each input slot, as long as the render; null leaves the slot unplugged.
    std::vector<const Signal*> inputs = {};
    const Signal* right = nullptr;  // a second channel for input 0 (an effect's stereo input)
    std::vector<Timed> events = {};  // in time order
};

// Processes `frames` frames and returns every output channel, planar.
inline std::vector<Signal> renderChannels(DeviceNode& node, int frames, const Render& r) {
    const int maxBlock = std::ranges::max(r.blocks);
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
        for (; nextEvent < r.events.size() && r.events[nextEvent].time < start + n; ++nextEvent) {
            blockEvents.push_back(r.events[nextEvent].event);
            blockEvents.back().frameOffset = static_cast<std::uint32_t>(r.events[nextEvent].time - start);
        }
        ProcessContext ctx;
        ctx.frames = n;
        ctx.sampleRate = r.rate;
        ctx.position = start;
        ctx.events = blockEvents;
        node.process(ctx, slots, out);
        for (int c = 0; c < r.channels; ++c) std::copy_n(out.channel(c), n, result[static_cast<std::size_t>(c)].begin() + start);
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
inline Stereo runEffect(DeviceNode& fx, const Stereo& in, double rate, std::vector<int> blocks = {kBlock}) {
    Render r{.rate = rate, .blocks = std::move(blocks), .channels = 2, .inputs = {&in.left}};
    if (!in.right.empty()) r.right = &in.right;
    std::vector<Signal> out = renderChannels(fx, static_cast<int>(in.left.size()), r);
    return {std::move(out[0]), std::move(out[1])};
}

// Sets knobs by id; an id the device lacks throws, failing the test.
inline void setKnobs(DeviceNode& node, const Knobs& knobs) {
    for (const auto& [id, value] : knobs) {
        std::uint32_t index = 0;
        if (!node.findParameter(id.c_str(), index)) throw std::invalid_argument(id);
        node.params.setValue(index, static_cast<float>(value));
    }
}
inline void setKnob(DeviceNode& node, const std::string& id, double value) { setKnobs(node, {{id, value}}); }

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

inline double peak(const Signal& v, std::int64_t from = 0, std::int64_t to = INT64_MAX) {
    double m = 0.0;
    for (auto i = static_cast<std::size_t>(from); i < std::min<std::size_t>(static_cast<std::size_t>(to), v.size()); ++i)
        m = std::max(m, std::fabs(static_cast<double>(v[i])));
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

inline PatchGraph buildGraph(const Patch& patch, std::string* error = nullptr) {
    return buildPatchGraph(patch, kRate, kBlock, kChannels, error);
}

// Left channel of a built graph playing `events` for `frames` frames, in engine blocks.
inline Signal playGraph(PatchGraph& built, const std::vector<Timed>& events, std::int64_t frames) {
    OfflineRenderContext context;
    context.frames = frames;
    context.events = events;
    const std::vector<float> out = renderGraphOffline(*built.graph, context);
    Signal left;
    for (std::size_t i = 0; i < out.size(); i += kChannels) left.push_back(out[i]);
    return left;
}

inline Patch builtin(const std::string& name) {
    for (Patch& patch : builtinPatches())
        if (patch.name == name) return std::move(patch);
    throw std::out_of_range("no built-in " + name);
}

inline const PatchNode& nodeWithId(const Patch& patch, int id) {
    for (const PatchNode& node : patch.nodes)
        if (node.id == id) return node;
    throw std::out_of_range("no node " + std::to_string(id));
}

// Gain from `source` to `sink` through mixer knobs, summed over every path.
inline double mixGain(const Patch& patch, int source, int sink) {
    if (source == sink) return 1.0;
    double total = 0.0;
    for (const PatchCable& cable : patch.connections) {
        if (cable.from != source) continue;
        const PatchNode& next = nodeWithId(patch, cable.to);
        if (next.device != "ostrel.mod.mixer") continue;
        total += next.parameters.at("level_" + std::to_string(cable.slot + 1)) * mixGain(patch, cable.to, sink);
    }
    return total;
}


// A float WAV file of constant frames, so a clip of it renders to exactly that value.
inline bool writeConstantWav(const std::filesystem::path& path, float value, int channels, std::int64_t frames) {
    const std::vector<float> samples(static_cast<std::size_t>(frames * channels), value);
    return writeWavFile(path, samples, channels, 48000, WavFormat::Float32, nullptr);
}

}  // namespace ostrel::engine::harness
