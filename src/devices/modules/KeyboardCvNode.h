#pragma once

#include <array>
#include <cstdint>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// Turns note events into one control signal: pitch (octaves from middle C),
// gate or velocity. Last-note priority over a stack of the 16 keys held.
class KeyboardCvNode : public DeviceNode {
public:
    enum Knob : std::uint32_t { Output, GlideMs, Voice, BendRange, Note };
    static const ParamDescriptor kParams[5];
    static constexpr int kMaxHeld = 16;

    KeyboardCvNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    const char* typeId() const override { return "ostrel.mod.keyboard"; }
    const char* displayName() const override { return "Keyboard"; }

private:
    void noteOn(int note, float velocity);
    void noteOff(int note);
    void removeHeld(int note);

    double sampleRate_ = 48000.0;
    std::array<std::int32_t, kMaxHeld> heldNotes_{};
    std::array<float, kMaxHeld> heldVelocities_{};
    std::int32_t heldCount_ = 0;
    float pitch_ = 0.0f;
    float targetPitch_ = 0.0f;
    float velocity_ = 0.0f;
    float bendTarget_ = 0.0f;
    float bend_ = 0.0f;
    bool gate_ = false;
};

} }  // namespace ostrel::engine::devices
