#include "devices/modules/AttenuverterNode.h"

#include <algorithm>

#include "devices/DeviceRules.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor AttenuverterNode::kParams[2] = {
    {0, "amount", "Amount", "", -2.0f, 2.0f, 1.0f, ParamKind::Continuous,
     "Scales the incoming signal. Negative flips it upside down; 0.2 makes a gentle version of it."},
    {1, "offset", "Offset", "", -1.0f, 1.0f, 0.0f, ParamKind::Continuous,
     "Adds a steady value. With nothing plugged in, this is a constant control signal."},
};

AttenuverterNode::AttenuverterNode() : DeviceNode(kParams) {}

Rest AttenuverterNode::rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                            std::uint32_t silentInputs) const {
    if (!params.atRest(context.events)) return Rest::Busy;
    const bool silent = rules::knob(params, Offset) == 0.0f && rules::quietInput(inputs, silentInputs, 0, context.frames);
    // It keeps no state: when nothing needs its output it need not run.
    return silent ? Rest::Silent : Rest::Forgetful;
}

void AttenuverterNode::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                               AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    const float amount = rules::knob(params, Amount);
    const float offset = rules::knob(params, Offset);
    const float* in = rules::inputSignal(inputs, 0, n);
    float* out = output.channel(0);
    if (in != nullptr) {
        for (int i = 0; i < n; ++i) out[i] = amount * in[i] + offset;
    } else {
        std::fill_n(out, n, offset);
    }
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
