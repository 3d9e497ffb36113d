#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/graph/DeviceNode.h"

namespace ostrel::engine { inline namespace devices {

// One row of the algorithm table: who modulates each operator (bit j = operator j+1)
// and who is heard. An operator is only ever modulated by higher-numbered ones, so
// computing 4 down to 1 has every modulator's output of the same frame ready.
struct FmAlgorithm {
    std::uint32_t modulators[4];
    std::uint32_t carriers;
};

extern const FmAlgorithm fmAlgorithmTable[8];

// A monophonic voice of four sine operators in phase modulation; operator 4 can feed
// back on itself. Reads no input; writes the same sample to every output channel.
class FmNode : public DeviceNode {
public:
    static constexpr std::uint32_t kOperators = 4;
    static constexpr std::uint32_t kKnobsPerOperator = 5;
    static constexpr std::uint32_t kParamCount = 27;
    // Frames whose envelopes are computed in one go before their samples.
    static constexpr int kStretch = 128;
    enum Knob : std::uint32_t { Algorithm, Feedback, Gain, ReleaseMs, TuneCents, Voice, Note, FirstOperator };
    // Offsets inside an operator's five knobs, from FirstOperator + 5 * k.
    enum OperatorKnob : std::uint32_t { Ratio, Level, AttackMs, DecayMs, Sustain };

    // Built once on first use, thread-safely; read only afterwards.
    static std::span<const ParamDescriptor> paramTable();

    FmNode();

    void prepare(double sampleRate) override;
    void reset() override;
    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;
    Rest rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
              std::uint32_t silentInputs) const override;
    const char* typeId() const override { return "ostrel.mod.fm"; }
    const char* displayName() const override { return "FM synth"; }

private:
    enum Stage : std::int32_t { Silent, Attack, DecaySustain, Release };

    struct Operator {
        double phase = 0.0;  // cycles, 0..1
        float envelope = 0.0f;
        std::int32_t stage = Silent;
        float output = 0.0f;
    };

    // Per-frame steps of the envelopes, from the block's knobs.
    struct EnvelopeShape {
        float sustain[kOperators];
        float decay[kOperators];
        float attackStep[kOperators];
        float release;
    };

    static std::array<ParamDescriptor, kParamCount> buildParamTable();

    // The next m frames of every operator's envelope; one that holds still writes only its
    // first frame and gets a mask of 0 (frame i is at i & mask).
    void advanceEnvelopes(const EnvelopeShape& shape, int m, float (*envelopes)[kStretch], int* masks);

    // Audio thread, within process: the block's envelope steps, and each operator's ratio and level.
    void readOperatorKnobs(EnvelopeShape& shape, float* ratio, float* level) const;

    void startNote(int note, float velocity);
    void releaseNote(int note);

    double sampleRate_ = 48000.0;
    std::array<Operator, kOperators> ops_{};
    bool active_ = false;
    bool gate_ = false;
    std::int32_t note_ = -1;
    float velocity_ = 1.0f;
    float feedbackSample_ = 0.0f;  // operator 4's last sine times its envelope
};

} }  // namespace ostrel::engine::devices
