#include "engine/graph/BasicNodes.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace ostrel::engine {

namespace {

// Frames to produce this block, or 0 when there is nothing to do.
int blockFrames(const ProcessContext& context, const AudioBuffer& output) {
    const int n = std::min(output.frames, context.frames);
    return output.channels < 1 || n < 1 ? 0 : n;
}

void copyFirstChannel(AudioBuffer& output, int n) {
    for (int c = 1; c < output.channels; ++c) {
        std::copy_n(output.channel(0), n, output.channel(c));
    }
}

}  // namespace

void SineNode::prepare(double rate) {
    sampleRate = rate;
    appliedGain = gain.load(std::memory_order_relaxed);
}

void SineNode::reset() { phase = 0.0; }

void SineNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) {
    const int n = blockFrames(context, output);
    if (n == 0) {
        return;
    }
    const float target = gain.load(std::memory_order_relaxed);
    double inc = frequency / sampleRate;
    if (!std::isfinite(inc)) {
        inc = 0.0;  // an unprepared or broken rate stays silent instead of producing NaN
    }
    float* out = output.channel(0);
    const float from = appliedGain;
    for (int i = 0; i < n; ++i) {
        const float g = static_cast<float>(i + 1) / static_cast<float>(n) * (target - from) + from;
        out[i] = static_cast<float>(std::sin(2.0 * std::numbers::pi * phase)) * g;
        phase += inc;
        if (phase >= 1.0) {
            phase -= std::floor(phase);
        }
    }
    appliedGain = target;
    copyFirstChannel(output, n);
}

void MetronomeNode::prepare(double rate) {
    sampleRate = rate;
    clickPos = -1;
    clickLength = static_cast<std::int32_t>(rate * 0.06);
}

void MetronomeNode::reset() { clickPos = -1; }

void MetronomeNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                            AudioBuffer& output) {
    const int n = blockFrames(context, output);
    if (n == 0) {
        return;
    }
    output.clear(n);
    const double spb = context.sampleRate * 60.0 / context.bpm;
    // A stopped transport, or a tempo or rate that gives no beat grid, stays silent.
    if (!context.playing || !(spb > 0.0) || !std::isfinite(spb)) {
        clickPos = -1;
        return;
    }
    const double position = static_cast<double>(context.position);
    auto k = static_cast<std::int64_t>(std::floor(position / spb));
    while (std::ceil(spb * static_cast<double>(k)) < position) {
        ++k;
    }
    auto next = static_cast<std::int64_t>(std::ceil(spb * static_cast<double>(k)));
    const std::int64_t bpb = std::max<std::int32_t>(context.beatsPerBar, 1);

    float* out = output.channel(0);
    for (int i = 0; i < n; ++i) {
        if (context.position + i == next) {
            clickPos = 0;
            accent = k % bpb == 0;
            ++k;
            next = static_cast<std::int64_t>(std::ceil(spb * static_cast<double>(k)));
        } else if (clickPos < 0) {
            continue;
        }
        out[i] = clickSample();
    }
    copyFirstChannel(output, n);
}

void MetronomeNode::ringOut(int n, AudioBuffer& output) {
    n = std::clamp(n, 0, output.frames);
    if (output.channels < 1 || n == 0) {
        return;
    }
    output.clear(n);
    float* out = output.channel(0);
    for (int i = 0; i < n && clickPos >= 0; ++i) {
        out[i] = clickSample();
    }
    copyFirstChannel(output, n);
}

float MetronomeNode::clickSample() {
    const double t = clickPos / sampleRate;
    const double f = accent ? 1500.0 : 1000.0;
    const double a = accent ? 0.8 : 0.5;
    if (++clickPos >= clickLength) {
        clickPos = -1;
    }
    return static_cast<float>(std::exp(-60.0 * t) * a * std::cos(2.0 * std::numbers::pi * f * t));
}

void BufferSourceNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>,
                               AudioBuffer& output) {
    const int n = blockFrames(context, output);
    if (n == 0) {
        return;
    }
    output.clear(n);
    if (samples) {
        addInterleaved(*samples, channels, frames, context.position, n, output);
    }
}

}  // namespace ostrel::engine
