#include "devices/NoiseNode.h"

#include "devices/DeviceRules.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor NoiseNode::kParams[1] = {
    {0, "level", "Level", "%", 0.0f, 1.0f, 0.3f, ParamKind::Continuous, "How loud the hiss is."},
};

NoiseNode::NoiseNode() : DeviceNode(kParams) {}

void NoiseNode::reset() { random_.state = kSeed; }

void NoiseNode::process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    const float level = rules::knob(params, Level);
    float* out = output.channel(0);
    for (int i = 0; i < n; ++i) out[i] = random_.next() * level;
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
