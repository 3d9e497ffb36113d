#pragma once

// Plays a built patch graph block by block, the way the engine would, recording the
// graph's output and, on request, the outputs of single modules. Header-only: shared
// by the instrument tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include "devices/PatchGraph.h"
#include "engine/Event.h"

namespace ostrel::test::instrument {

using engine::AudioBuffer;
using engine::Event;
using engine::EventType;
using engine::PatchGraph;
using engine::ProcessContext;

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;
constexpr int kChannels = 2;

struct NoteEvent {
    std::int64_t frame;
    Event event;
};

inline NoteEvent noteOn(std::int64_t frame, int note, int velocity = 127, int channel = 0) {
    Event e;
    e.type = EventType::NoteOn;
    e.note = static_cast<std::uint8_t>(note);
    e.velocity = static_cast<std::uint8_t>(velocity);
    e.channel = static_cast<std::uint8_t>(channel);
    return {frame, e};
}

inline NoteEvent noteOff(std::int64_t frame, int note, int channel = 0) {
    Event e;
    e.type = EventType::NoteOff;
    e.note = static_cast<std::uint8_t>(note);
    e.channel = static_cast<std::uint8_t>(channel);
    return {frame, e};
}

class GraphRun {
public:
    // `watch`: patch node ids whose own outputs (channel 0) are recorded too.
    GraphRun(PatchGraph& built, std::vector<NoteEvent> events, std::vector<int> watch = {})
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
    std::vector<NoteEvent> events_;
    std::size_t next_ = 0;
    std::int64_t position_ = 0;
    AudioBuffer out_;
    std::map<int, const AudioBuffer*> watched_;
};

inline double peakOf(const std::vector<float>& v, std::int64_t from, std::int64_t to) {
    double m = 0.0;
    to = std::min<std::int64_t>(to, static_cast<std::int64_t>(v.size()));
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i < to; ++i)
        m = std::max(m, static_cast<double>(std::fabs(v[static_cast<std::size_t>(i)])));
    return m;
}

}  // namespace ostrel::test::instrument
