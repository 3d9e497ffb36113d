#include "devices/modules/NoiseNode.h"

#include <algorithm>

#include "devices/DeviceRules.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor NoiseNode::kParams[1] = {
    {0, "level", "Level", "%", 0.0f, 1.0f, 0.3f, ParamKind::Continuous, "How loud the hiss is."},
};

NoiseNode::NoiseNode() : DeviceNode(kParams) {}

void NoiseNode::reset() { random_.state = kSeed; }

Rest NoiseNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const>, std::uint32_t) const {
    return params.atRest(context.events) ? Rest::FreeRunning : Rest::Busy;
}

void NoiseNode::advance(const ProcessContext& context, std::span<const AudioBuffer* const>) {
    const int n = std::max(0, context.frames);
    params.applyEvents(context.events, n);
    random_.skip(static_cast<std::uint64_t>(n));
}

void NoiseNode::beginWarmup(std::int64_t frames) {
    // The warm-up hears the very draws the voice skipped.
    warmupState_ = random_.state;
    for (std::int64_t i = 0; i < frames; ++i) random_.unstep();
}

void NoiseNode::endWarmup() { random_.state = warmupState_; }

void NoiseNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    const float level = rules::knob(params, Level);
    float* out = output.channel(0);
    for (int i = 0; i < n; ++i) out[i] = random_.next() * level;
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
