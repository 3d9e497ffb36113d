#include "devices/modules/MixModule.h"

#include <algorithm>

#include "devices/DeviceRules.h"

namespace ostrel::engine { inline namespace devices {

const ParamDescriptor MixModule::kParams[4] = {
    {0, "level_1", "Level 1", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous, "How loud the signal in input 1 is."},
    {1, "level_2", "Level 2", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous, "How loud the signal in input 2 is."},
    {2, "level_3", "Level 3", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous, "How loud the signal in input 3 is."},
    {3, "level_4", "Level 4", "%", 0.0f, 1.0f, 0.5f, ParamKind::Continuous, "How loud the signal in input 4 is."},
};

MixModule::MixModule() : DeviceNode(kParams) {}

Rest MixModule::rest(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                     std::uint32_t silentInputs) const {
    if (!params.atRest(context.events)) return Rest::Busy;
    for (std::size_t k = 0; k < 4; ++k) {
        // It keeps no state: when nothing needs its output it need not run.
        if (!rules::quietInput(inputs, silentInputs, k, context.frames)) return Rest::Forgetful;
    }
    return Rest::Silent;
}

void MixModule::process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                        AudioBuffer& output) {
    const int n = rules::beginModuleBlock(params, context, output);
    if (n < 1) return;
    float* out = output.channel(0);
    std::fill_n(out, n, 0.0f);
    for (std::uint32_t k = 0; k < 4; ++k) {
        const float* in = rules::inputSignal(inputs, k, n);
        if (in == nullptr) continue;
        const float level = rules::knob(params, k);
        for (int i = 0; i < n; ++i) out[i] += level * in[i];
    }
    rules::copyChannel0(output, n);
}

} }  // namespace ostrel::engine::devices
