#pragma once

#include <cstdint>
#include <memory>

#include "engine/AudioData.h"
#include "engine/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

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
