// fuzz-links: ostrel_devices
// Arbitrary knob values, note events, sample rates, block sizes, input signals and
// sampler sounds (also ones whose frame count lies) through each modular module: no
// read outside the buffers and the sound, and finite inputs give finite outputs.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "devices/DeviceCatalog.h"
#include "devices/modules/SamplerNode.h"

using namespace ostrel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<DeviceInfo> modules;
    for (const DeviceInfo& info : listDevices())
        if (info.category == "Modular") modules.push_back(info);
    if (modules.empty()) return 0;
    const DeviceInfo& pick = modules[in.ConsumeIntegralInRange<std::size_t>(0, modules.size() - 1)];
    std::unique_ptr<DeviceNode> device = createDevice(pick.typeId);

    const double rates[] = {8000.0, 22050.0, 44100.0, 48000.0, 96000.0, 192000.0};
    const double rate = rates[in.ConsumeIntegralInRange<int>(0, 5)];
    device->prepare(rate);

    if (auto* sampler = dynamic_cast<SamplerNode*>(device.get())) {
        auto sound = std::make_shared<AudioData>();
        sound->channels = in.ConsumeIntegralInRange<int>(-1, 3);
        sound->sampleRate = in.ConsumeFloatingPoint<double>();
        sound->frames = in.ConsumeIntegralInRange<std::int64_t>(-5, 5000);
        sound->samples.resize(in.ConsumeIntegralInRange<std::size_t>(0, 4000));
        for (float& s : sound->samples) s = in.ConsumeFloatingPointInRange<float>(-1.0f, 1.0f);
        sampler->sample = sound;
    }

    const std::size_t knobs = device->params.count();
    for (int k = in.ConsumeIntegralInRange<int>(0, 12); k > 0; --k)
        device->params.setValue(in.ConsumeIntegralInRange<std::uint32_t>(0, static_cast<std::uint32_t>(knobs)),
                                in.ConsumeFloatingPoint<float>());

    const int maxBlock = 512;
    const int channels = in.ConsumeIntegralInRange<int>(0, 3);
    AudioBuffer inputs[4] = {AudioBuffer(1, maxBlock), AudioBuffer(1, maxBlock), AudioBuffer(1, maxBlock),
                             AudioBuffer(1, maxBlock)};
    const AudioBuffer* slots[4] = {};
    const std::size_t slotCount = in.ConsumeIntegralInRange<std::size_t>(0, 4);
    for (std::size_t k = 0; k < slotCount; ++k) slots[k] = in.ConsumeBool() ? &inputs[k] : nullptr;
    AudioBuffer out(channels, maxBlock);

    for (int block = in.ConsumeIntegralInRange<int>(1, 8); block > 0 && in.remaining_bytes() > 0; --block) {
        const int frames = in.ConsumeIntegralInRange<int>(0, maxBlock);
        for (AudioBuffer& b : inputs)
            for (int i = 0; i < maxBlock; ++i) b.channel(0)[i] = in.ConsumeFloatingPointInRange<float>(-8.0f, 8.0f);
        std::vector<Event> events(in.ConsumeIntegralInRange<std::size_t>(0, 6));
        std::uint32_t offset = 0;
        for (Event& e : events) {
            offset += in.ConsumeIntegralInRange<std::uint32_t>(0, 600);  // may pass the block's end
            e.frameOffset = offset;
            e.type = static_cast<EventType>(in.ConsumeIntegralInRange<int>(0, 4));
            e.channel = in.ConsumeIntegralInRange<std::uint8_t>(0, 16);
            e.note = in.ConsumeIntegralInRange<std::uint8_t>(0, 127);
            e.velocity = in.ConsumeIntegralInRange<std::uint8_t>(0, 127);
            e.param = in.ConsumeIntegralInRange<std::uint32_t>(0, 40);
            e.value = in.ConsumeFloatingPoint<float>();
            e.rampFrames = in.ConsumeIntegralInRange<std::int32_t>(-2, 5000);
        }
        ProcessContext ctx;
        ctx.frames = frames;
        ctx.sampleRate = rate;
        ctx.events = events;
        device->process(ctx, std::span<const AudioBuffer* const>(slots, slotCount), out);
        const int n = std::min(frames, out.frames);
        for (int c = 0; c < out.channels; ++c)
            for (int i = 0; i < n; ++i)
                if (!std::isfinite(out.channel(c)[i])) std::abort();
    }
    return 0;
}
