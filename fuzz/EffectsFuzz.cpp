// fuzz-links: ostrel_devices
// Arbitrary knob values, knob ramps, sample rates, block sizes and input samples
// through each effect: no read or write outside the delay lines, and a finite input
// never gives a non-finite output.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "devices/DeviceCatalog.h"
#include "devices/effects/EffectPresets.h"

using namespace ostrel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<std::string>& ids = effectTypeIds();
    std::unique_ptr<DeviceNode> fx = createDevice(ids[in.ConsumeIntegralInRange<std::size_t>(0, ids.size() - 1)]);
    const std::uint32_t knobs = static_cast<std::uint32_t>(fx->params.count());

    // Knobs set before prepare may hold any value; the block clamps them.
    for (std::uint32_t k = 0; k < knobs; ++k)
        if (in.ConsumeBool()) fx->params.setValue(k, in.ConsumeFloatingPoint<float>());

    const double rate = in.ConsumeFloatingPointInRange<double>(8000.0, 192000.0);
    fx->prepare(rate);

    const int channelsIn = in.ConsumeIntegralInRange<int>(1, 2);
    const int channelsOut = in.ConsumeIntegralInRange<int>(0, 3);
    AudioBuffer input(channelsIn, 1024);
    AudioBuffer output(channelsOut, 1024);
    std::vector<Event> events;

    for (int block = 0; block < 64 && in.remaining_bytes() > 0; ++block) {
        const int frames = in.ConsumeIntegralInRange<int>(0, 1024);
        events.clear();
        const int eventCount = in.ConsumeIntegralInRange<int>(0, 3);
        for (int e = 0; e < eventCount; ++e) {
            Event ev;
            ev.type = EventType::ParamChange;
            ev.param = in.ConsumeIntegralInRange<std::uint32_t>(0, knobs);
            ev.value = in.ConsumeFloatingPoint<float>();
            ev.rampFrames = in.ConsumeIntegralInRange<std::int32_t>(-1, 4096);
            events.push_back(ev);
        }
        for (float& x : input.data) x = in.ConsumeFloatingPointInRange<float>(-4.0f, 4.0f);
        if (in.ConsumeBool()) fx->reset();

        ProcessContext ctx;
        ctx.frames = frames;
        ctx.sampleRate = rate;
        ctx.events = events;
        const AudioBuffer* inputs[] = {&input};
        const bool plugged = in.ConsumeBool();
        fx->process(ctx, plugged ? std::span<const AudioBuffer* const>(inputs) : std::span<const AudioBuffer* const>(),
                    output);
        for (float v : output.data)
            if (!std::isfinite(v)) std::abort();
    }
    return 0;
}
