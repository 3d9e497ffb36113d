#include "engine/GraphRunner.h"

#include <algorithm>
#include <cstddef>

namespace ostrel::engine {

std::vector<float> renderGraphOffline(Graph& graph, const OfflineRenderContext& context) {
    std::vector<float> result;
    if (context.frames < 1 || graph.channels < 1) {
        return result;
    }
    result.assign(static_cast<std::size_t>(context.frames) * static_cast<std::size_t>(graph.channels), 0.0f);
    mixGraphOffline(graph, context, 1.0f, result);
    return result;
}

void mixGraphOffline(Graph& graph, const OfflineRenderContext& context, float gain, std::span<float> out) {
    const int channels = graph.channels;
    if (context.frames < 1 || channels < 1 || graph.maxBlock < 1) {
        return;
    }
    const std::int64_t block =
        std::max<std::int64_t>(1, std::min<std::int64_t>(context.blockSize, static_cast<std::int64_t>(graph.maxBlock)));
    AudioBuffer buffer(channels, graph.maxBlock);

    std::vector<TimedEvent> events = context.events;
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.time < b.time; });
    std::vector<Event> blockEvents;
    blockEvents.reserve(events.size());
    std::size_t next = 0;

    const std::size_t ch = static_cast<std::size_t>(channels);
    for (std::int64_t pos = 0; pos < context.frames; pos += block) {
        const std::int64_t n = std::min(block, context.frames - pos);
        const std::int64_t blockStart = context.startPosition + pos;
        blockEvents.clear();
        while (next < events.size() && events[next].time < blockStart + n) {
            Event e = events[next].event;
            e.frameOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(0, events[next].time - blockStart));
            blockEvents.push_back(e);
            ++next;
        }
        ProcessContext pc;
        pc.frames = static_cast<std::int32_t>(n);
        pc.sampleRate = context.sampleRate;
        pc.position = blockStart;
        pc.playing = context.playing;
        pc.bpm = context.bpm;
        pc.beatsPerBar = context.beatsPerBar;
        pc.events = blockEvents;
        graph.process(pc, buffer);

        const std::size_t base = static_cast<std::size_t>(pos) * ch;
        const std::size_t frames = static_cast<std::size_t>(n);
        if (base >= out.size()) {
            break;
        }
        const std::size_t usable = std::min(frames, (out.size() - base) / ch);
        for (std::size_t c = 0; c < ch; ++c) {
            const float* in = buffer.channel(static_cast<int>(c));
            float* dst = out.data() + base + c;
            for (std::size_t f = 0; f < usable; ++f) {
                dst[f * ch] += in[f] * gain;
            }
        }
    }
}

}  // namespace ostrel::engine
