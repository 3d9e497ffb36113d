#include "devices/modules/AdsrNode.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "devices/DeviceRules.h"
#include "devices/Dsp.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor AdsrNode::kParams[4] = {
    {0, "attack_ms", "Attack", "ms", 0.5f, 5000.0f, 5.0f, ParamKind::Continuous,
     "How long the sound takes to reach full level after a key is pressed."},
    {1, "decay_ms", "Decay", "ms", 1.0f, 5000.0f, 250.0f, ParamKind::Continuous,
     "How long it takes to fall from full level to the Sustain level."},
    {2, "sustain", "Sustain", "%", 0.0f, 1.0f, 0.6f, ParamKind::Continuous, "The level held while the key stays down."},
    {3, "release_ms", "Release", "ms", 1.0f, 10000.0f, 300.0f, ParamKind::Continuous,
     "How long the sound takes to fade away after the key is let go."},
};

namespace {
// Levels closer than this to their goal count as arrived (about -80 dB).
constexpr float kSettled = 0.0001f;
// ln(100): an exponential segment covers 99 % of its distance in its set time.
constexpr float kOnePercent = 4.6f;

// What the frames of a block follow from besides the gate and the state.
struct Shape {
    float attackStep;
    float decay;
    float release;
    float sustain;
};

struct State {
    AdsrNode::Stage stage;
    float level;
    bool previousGate;
};

// Frame by frame: the gate's edges start the attack or the release, then the stage moves
// the level on.
void runFrames(State& state, const Shape& shape, const float* gateIn, int n, float* out) {
    using Stage = AdsrNode::Stage;
    const float attackStep = shape.attackStep, decay = shape.decay, release = shape.release, sustain = shape.sustain;
    // Locals: the output could alias the level for all the compiler knows.
    Stage stage = state.stage;
    float level = state.level;
    bool previousGate = state.previousGate;
    // Whether frame j keeps the gate of the frame before it: no edge to take.
    const auto holds = [gateIn, &previousGate](int j) { return (gateIn != nullptr && gateIn[j] > 0.5f) == previousGate; };
    for (int i = 0; i < n;) {
        const bool gate = gateIn != nullptr && gateIn[i] > 0.5f;
        if (gate && !previousGate) stage = Stage::Attack;
        if (!gate && previousGate) stage = Stage::Release;
        previousGate = gate;
        // Frame i and on, up to the gate's next change or the stage's end, in a loop of
        // the stage's own.
        switch (stage) {
            case Stage::Idle:
            case Stage::Sustain: {
                level = stage == Stage::Idle ? 0.0f : sustain;
                int end = i + 1;
                while (end < n && holds(end)) ++end;
                std::fill(out + i, out + end, level);
                i = end;
                break;
            }
            case Stage::Attack:
                // Rises from wherever the level is: a retrigger during a release does not click.
                do {
                    level += attackStep;
                    const bool top = level >= 1.0f;
                    if (top) level = 1.0f;
                    out[i++] = level;
                    if (top) {
                        stage = Stage::Decay;
                        break;
                    }
                } while (i < n && holds(i));
                break;
            case Stage::Decay:
                do {
                    dsp::onePole(level, sustain, decay);
                    const bool settled = std::fabs(level - sustain) < kSettled;
                    if (settled) level = sustain;
                    out[i++] = level;
                    if (settled) {
                        stage = Stage::Sustain;
                        break;
                    }
                } while (i < n && holds(i));
                break;
            case Stage::Release:
                do {
                    dsp::onePole(level, 0.0f, release);
                    const bool settled = level < kSettled;
                    if (settled) level = 0.0f;
                    out[i++] = level;
                    if (settled) {
                        stage = Stage::Idle;
                        break;
                    }
                } while (i < n && holds(i));
                break;
        }
    }
    state = {stage, level, previousGate};
}

// Everything a block is a pure function of besides its gate samples, compared as bits.
struct BlockKey {
    Shape shape;
    float level;
    std::int32_t stage;
    std::int32_t previousGate;
    std::int32_t gatePlugged;
    std::int32_t frames;

    bool operator==(const BlockKey& other) const { return std::memcmp(this, &other, sizeof(BlockKey)) == 0; }
};
static_assert(sizeof(BlockKey) == 9 * 4, "compared as bytes: no padding");

inline constexpr int kMemoFrames = 2048;

// The last block computed on this thread. The notes of a chord start and end together,
// so their voices' envelopes ask for the block another voice just computed; a hit copies
// it and takes its end state.
struct BlockMemo {
    BlockKey key{};  // frames 0: none
    State end{};
    float gate[kMemoFrames]{};
    float out[kMemoFrames]{};

    bool holds(const BlockKey& k, const float* gateIn, int n) const {
        return key == k && (gateIn == nullptr || std::memcmp(gate, gateIn, sizeof(float) * static_cast<std::size_t>(n)) == 0);
    }
};

constinit thread_local BlockMemo blockMemo;

}  // namespace

AdsrNode::AdsrNode() : DeviceNode(kParams) {}

void AdsrNode::prepare(double sampleRate) {
    sampleRate_ = sampleRate;
    reset();
}

void AdsrNode::reset() {
    stage_ = Stage::Idle;
    level_ = 0.0f;
    previousGate_ = false;
}

Rest AdsrNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                    std::uint32_t silentInputs) const {
    // Idle with the gate closed and staying closed: the level stays exactly 0.
    const bool idle = stage_ == Stage::Idle && !previousGate_ && level_ == 0.0f;
    return idle && params.atRest(context.events) && rules::quietInput(inputs, silentInputs, 0, context.frames)
               ? Rest::Silent
               : Rest::Busy;
}

void AdsrNode::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                       AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;

    const float sr = static_cast<float>(sampleRate_);
    const float attackStep = 1.0f / std::max(1.0f, rules::knob(params, AttackMs) * 0.001f * sr);
    const float decayFrames = std::max(1.0f, rules::knob(params, DecayMs) * 0.001f * sr);
    const float releaseFrames = std::max(1.0f, rules::knob(params, ReleaseMs) * 0.001f * sr);
    const float decay = dsp::onePoleFactor(decayFrames, kOnePercent);
    const float release = dsp::onePoleFactor(releaseFrames, kOnePercent);
    const float sustain = rules::knob(params, Sustain);
    const float* gateIn = rules::inputSignal(inputs, 0, n);

    State state{stage_, level_, previousGate_};
    const Shape shape{attackStep, decay, release, sustain};
    float* out = output.channel(0);
    BlockMemo& memo = blockMemo;
    for (int start = 0; start < n; start += kMemoFrames) {
        const int count = std::min(kMemoFrames, n - start);
        const float* gate = gateIn != nullptr ? gateIn + start : nullptr;
        const BlockKey key{shape, state.level, static_cast<std::int32_t>(state.stage), state.previousGate ? 1 : 0,
                           gate != nullptr ? 1 : 0, count};
        if (memo.holds(key, gate, count)) {
            std::copy_n(memo.out, count, out + start);
            state = memo.end;
            continue;
        }
        runFrames(state, shape, gate, count, out + start);
        memo.key = key;
        memo.end = state;
        if (gate != nullptr) std::copy_n(gate, count, memo.gate);
        std::copy_n(out + start, count, memo.out);
    }
    stage_ = state.stage;
    level_ = state.level;
    previousGate_ = state.previousGate;
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
