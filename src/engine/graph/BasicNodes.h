#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/graph/Node.h"

namespace ostrel::engine {

// The engine's test tone: a sine whose level follows gain with a ramp over one block.
class SineNode : public Node {
public:
    explicit SineNode(float frequency = 440.0f, float gain = 0.0f) : frequency(frequency), gain(gain) {}

    void prepare(double rate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs. Reads gain once per block.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;

    float frequency;  // Hz
    // The level asked for. The GUI thread stores it while the node runs (relaxed: one
    // whole value, nothing else hangs on it).
    std::atomic<float> gain;
    float appliedGain = 0.0f;  // level reached at the end of the last block
    double phase = 0.0;        // cycles, 0 <= phase < 1
    double sampleRate = 48000.0;
};

// The metronome's click on every beat of the transport, accented on the first beat of a bar.
class MetronomeNode : public Node {
public:
    void prepare(double rate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    // n frames of the click that sounds, and silence after it; no new one starts (what a
    // stop or a seek fades out). Audio thread.
    void ringOut(int n, AudioBuffer& output);

    double sampleRate = 48000.0;
    std::int32_t clickLength = 2880;  // 60 ms at sampleRate
    std::int32_t clickPos = -1;       // frame inside the sounding click; -1 when silent
    bool accent = false;

private:
    // The sounding click's next sample; moves it on.
    float clickSample();
};

// Plays interleaved frames at the context's position; silent outside them.
class BufferSourceNode : public Node {
public:
    BufferSourceNode() = default;
    BufferSourceNode(std::shared_ptr<const std::vector<float>> samples, int channels, std::int64_t frames)
        : samples(std::move(samples)), channels(channels), frames(frames) {}

    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;

    std::shared_ptr<const std::vector<float>> samples;
    std::int32_t channels = 0;
    std::int64_t frames = 0;
};

}  // namespace ostrel::engine
