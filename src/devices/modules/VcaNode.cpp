#include "devices/modules/VcaNode.h"

#include "devices/DeviceRules.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor VcaNode::kParams[1] = {
    {0, "level", "Level", "%", 0.0f, 2.0f, 1.0f, ParamKind::Continuous,
     "How loud the sound is. If an envelope is plugged into the control input it opens and closes this."},
};

VcaNode::VcaNode() : DeviceNode(kParams) {}

Rest VcaNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                   std::uint32_t silentInputs) const {
    if (!params.atRest(context.events)) return Rest::Busy;
    const int n = context.frames;
    // No audio, or a control of exact zeros: the product is zero whatever the other side.
    const bool noAudio = rules::quietInput(inputs, silentInputs, 0, n);
    const bool closed = rules::inputSignal(inputs, 1, n) != nullptr && rules::quietInput(inputs, silentInputs, 1, n);
    // Otherwise it keeps no state: when nothing needs its output it need not run.
    return noAudio || closed ? Rest::Silent : Rest::Forgetful;
}

void VcaNode::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                      AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    const float* in = rules::inputOrSilence(inputs, 0, output, n);
    if (in == nullptr) return;
    const float level = rules::knob(params, Level);
    const float* control = rules::inputSignal(inputs, 1, n);
    float* out = output.channel(0);
    if (control != nullptr) {
        // Not clamped: a negative control inverts the audio.
        for (int i = 0; i < n; ++i) out[i] = control[i] * (level * in[i]);
    } else {
        for (int i = 0; i < n; ++i) out[i] = level * in[i];
    }
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
