#pragma once

#include <cstdint>
#include <memory>

#include "engine/AudioData.h"
#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

namespace rules {
enum class NoteAction : std::uint8_t;  // devices/DeviceRules.h
}

// Monophonic player of one shared recording: pitched by the key (or fixed for drum
// pads), linear interpolation, linear fade in and out, optional loop and one-shot.
class SamplerNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Gain, RootNote, TuneCents, AttackMs, ReleaseMs, Loop, OneShot, FollowPitch, Voice, Note };
    static const ParamDescriptor kParams[10];

    SamplerNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    const char* typeId() const override { return "ostrel.mod.sampler"; }
    const char* displayName() const override { return "Sampler"; }

    // Set on the GUI or render thread before the graph is published; the audio thread
    // only reads it. Released with the module, never on the audio thread.
    std::shared_ptr<const AudioData> sample;

private:
    enum class Stage : std::int32_t { Silent, Attack, Full, Release };

    // The knobs and the sound as one block reads them.
    struct Block {
        float gain;
        int root;
        float tune;
        float attackMs;
        float releaseMs;
        bool loop;
        bool oneShot;
        bool follow;
        std::int64_t frames;  // of the sound, never more than it holds
        double q;             // the sound's rate over ours
        int channels;
        const float* samples;
    };

    // Audio thread, within process: a note event, then the frames from..to until the next.
    void takeNote(rules::NoteAction action, const Event& e, const Block& block);
    void play(int from, int to, const Block& block, AudioBuffer& output);

    double sampleRate_ = 48000.0;
    Stage stage_ = Stage::Silent;
    double position_ = 0.0;  // frames of the sound
    double step_ = 1.0;      // frames of the sound per output frame
    std::int32_t note_ = -1;
    float velocity_ = 1.0f;
    float envelope_ = 0.0f;
    float attackStep_ = 1.0f;   // per output frame
    float releaseStep_ = 1.0f;  // per output frame
};

} }  // namespace ostrel::engine::devices
