#pragma once

// Shared parts of the instrument, live instrument and render tests: a block-by-block
// player of built patch graphs, patch lookups, a sound card the test drives itself, and
// small songs. Header-only.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "devices/BuiltinInstruments.h"
#include "devices/PatchGraph.h"
#include "engine/AudioBackend.h"
#include "engine/Event.h"
#include "engine/WavWriter.h"
#include "model/Project.h"

namespace ostrel::test::instrument {

using engine::AudioBuffer;
using engine::Event;
using engine::EventType;
using engine::Patch;
using engine::PatchGraph;
using engine::PatchNode;
using engine::ProcessContext;
using Knobs = std::map<std::string, double>;

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
constexpr int kChannels = 2;

struct KeyEvent {
    std::int64_t frame;
    Event event;
};

inline KeyEvent noteOn(std::int64_t frame, int note, int velocity = 127) {
    Event e;
    e.type = EventType::NoteOn;
    e.note = static_cast<std::uint8_t>(note);
    e.velocity = static_cast<std::uint8_t>(velocity);
    return {frame, e};
}

inline KeyEvent noteOff(std::int64_t frame, int note) {
    Event e;
    e.type = EventType::NoteOff;
    e.note = static_cast<std::uint8_t>(note);
    return {frame, e};
}

inline PatchGraph buildGraph(const Patch& patch, std::string* error = nullptr) {
    return engine::buildPatchGraph(patch, kRate, kBlock, kChannels, error);
}

// Plays a built graph the way the engine would, recording its left channel and, on
// request, channel 0 of single modules.
class GraphRun {
public:
    // `watch`: patch node ids whose own outputs are recorded too.
    GraphRun(PatchGraph& built, std::vector<KeyEvent> events, std::vector<int> watch = {})
        : built_(built), events_(std::move(events)), out_(kChannels, kBlock) {
        for (int id : watch) {
            const engine::Node* device = built.nodesById.at(id);
            for (const engine::GraphSlot& slot : built.graph->slots)
                if (slot.node.get() == device) watched_[id] = &slot.output;
            modules[id];
        }
    }

    // Runs one block; returns true when every output channel of it was exactly zero.
    bool block() {
        std::vector<Event> blockEvents;
        while (next_ < events_.size() && events_[next_].frame < position_ + kBlock) {
            Event e = events_[next_].event;
            e.frameOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(0, events_[next_].frame - position_));
            blockEvents.push_back(e);
            ++next_;
        }
        ProcessContext ctx;
        ctx.frames = kBlock;
        ctx.sampleRate = kRate;
        ctx.position = position_;
        ctx.events = blockEvents;
        built_.graph->process(ctx, out_);
        bool silent = true;
        for (int i = 0; i < kBlock; ++i) {
            left.push_back(out_.channel(0)[i]);
            for (int c = 0; c < kChannels; ++c) silent = silent && out_.channel(c)[i] == 0.0f;
        }
        for (auto& [id, buffer] : watched_) {
            std::vector<float>& rec = modules[id];
            rec.insert(rec.end(), buffer->channel(0), buffer->channel(0) + kBlock);
        }
        position_ += kBlock;
        return silent;
    }

    void run(std::int64_t frames) {
        while (position_ < frames) block();
    }

    std::int64_t position() const { return position_; }

    std::vector<float> left;
    std::map<int, std::vector<float>> modules;

private:
    PatchGraph& built_;
    std::vector<KeyEvent> events_;
    std::size_t next_ = 0;
    std::int64_t position_ = 0;
    AudioBuffer out_;
    std::map<int, const AudioBuffer*> watched_;
};

inline double peakOf(const std::vector<float>& v, std::int64_t from = 0, std::int64_t to = INT64_MAX) {
    double m = 0.0;
    to = std::min<std::int64_t>(to, static_cast<std::int64_t>(v.size()));
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i < to; ++i)
        m = std::max(m, static_cast<double>(std::fabs(v[static_cast<std::size_t>(i)])));
    return m;
}

inline Patch builtin(const std::string& name) {
    for (Patch& patch : engine::builtinPatches())
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
    for (const engine::PatchCable& cable : patch.connections) {
        if (cable.from != source) continue;
        const PatchNode& next = nodeWithId(patch, cable.to);
        if (next.device != "ostrel.mod.mixer") continue;
        total += next.parameters.at("level_" + std::to_string(cable.slot + 1)) * mixGain(patch, cable.to, sink);
    }
    return total;
}

// A sound card that never calls back by itself: the test renders through the engine on
// its own thread, which so plays the audio thread.
class TestBackend final : public engine::IAudioBackend {
public:
    std::string backendName() override { return "Test"; }
    std::vector<engine::AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const engine::AudioConfig&, engine::RenderCallback, void*, std::string*) override {
        running_ = true;
        return true;
    }
    void close() override { running_ = false; }
    engine::BackendState state() const override {
        return running_ ? engine::BackendState::Running : engine::BackendState::Closed;
    }
    engine::LoadStats loadStats() const override { return {}; }

private:
    bool running_ = false;
};

// --- Small songs -------------------------------------------------------------------

inline model::Note songNote(int pitch, double start, double length, int velocity = 100) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

inline model::Clip midiClip(double start, double length, std::vector<model::Note> notes) {
    model::Clip c;
    c.id = model::Uuid::generate();
    c.startBeats = start;
    c.lengthBeats = length;
    c.notes = std::move(notes);
    return c;
}

inline model::Clip audioClip(const std::string& file, double start, double length, double offsetSeconds = 0.0) {
    model::Clip c;
    c.id = model::Uuid::generate();
    c.startBeats = start;
    c.lengthBeats = length;
    c.audioSource = file;
    c.audioOffsetSeconds = offsetSeconds;
    return c;
}

inline model::Track instrumentTrack(const std::string& name, std::vector<model::Clip> clips,
                                    const std::string& instrument = "Modular Lead") {
    model::Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.instrumentPatch = instrument;
    t.clips = std::move(clips);
    return t;
}

inline model::Track audioTrack(const std::string& name, std::vector<model::Clip> clips) {
    model::Track t = instrumentTrack(name, std::move(clips), "");
    t.kind = "audio";
    return t;
}

inline model::Project song(std::vector<model::Track> tracks, double bpm = 120.0) {
    return model::makeProject(model::Uuid::generate(), "Song", bpm, std::move(tracks), model::JsonValue{});
}

// A float WAV file of constant frames, so a clip of it renders to exactly that value.
inline bool writeConstantWav(const std::filesystem::path& path, float value, int channels, std::int64_t frames,
                             std::uint32_t rate = 48000) {
    const std::vector<float> samples(static_cast<std::size_t>(frames * channels), value);
    return engine::writeWavFile(path, samples, channels, rate, engine::WavFormat::Float32, nullptr);
}

}  // namespace ostrel::test::instrument
