// fuzz-links: ostrel_devices
// Arbitrary patches (modules by type id, knob ids and values, cables with any slot,
// any output, duplicate ids) built and played: a build either fails with a reason and
// no graph, or gives a graph whose device map holds only ids of the patch; playing it
// never reads or writes outside its buffers.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "devices/DeviceCatalog.h"
#include "devices/patches/PatchGraph.h"

using namespace ostrel::engine;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    static const std::vector<DeviceInfo> devices = listDevices();
    static const char* const kKnobs[] = {"level", "output", "note", "voice", "cutoff_hz", "resonance", "waveform",
                                         "algorithm", "feedback", "gain", "coarse", "rate_hz", "amount", "nope"};

    Patch patch;
    std::set<int> ids;
    const int count = in.ConsumeIntegralInRange<int>(0, 12);
    for (int k = 0; k < count; ++k) {
        const int id = in.ConsumeIntegralInRange<int>(-3, 14);
        const std::string type = in.ConsumeBool()
                                     ? devices[in.ConsumeIntegralInRange<std::size_t>(0, devices.size() - 1)].typeId
                                     : in.ConsumeRandomLengthString(12);
        std::map<std::string, double> knobs;
        const int knobCount = in.ConsumeIntegralInRange<int>(0, 4);
        for (int j = 0; j < knobCount; ++j) {
            const char* key = kKnobs[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kKnobs) - 1)];
            double value = in.ConsumeFloatingPoint<double>();
            if (in.ConsumeBool()) value = std::numeric_limits<double>::quiet_NaN();
            knobs[key] = value;
        }
        patch.nodes.emplace_back(id, type.c_str(), "m", std::move(knobs));
        ids.insert(id);
    }
    const int cables = in.ConsumeIntegralInRange<int>(0, 16);
    for (int k = 0; k < cables; ++k) {
        patch.connections.push_back({in.ConsumeIntegralInRange<int>(-3, 14), in.ConsumeIntegralInRange<int>(-3, 14),
                                     in.ConsumeIntegralInRange<int>(-1, 17)});
    }
    patch.output = in.ConsumeIntegralInRange<int>(-3, 14);
    const std::uint32_t block = in.ConsumeIntegralInRange<std::uint32_t>(0, 1024);
    const std::uint32_t channels = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);

    std::string error;
    PatchGraph built = buildPatchGraph(patch, 48000.0, block, channels, &error);
    if (!built.graph) {
        if (error.empty() || !built.nodesById.empty()) std::abort();
        return 0;
    }
    if (!error.empty()) std::abort();
    for (const auto& entry : built.nodesById)
        if (!ids.contains(entry.first) || entry.second == nullptr) std::abort();

    AudioBuffer out(static_cast<int>(channels), static_cast<int>(block));
    std::vector<Event> events;
    for (int b = 0; b < 4 && in.remaining_bytes() > 0; ++b) {
        events.clear();
        const int n = in.ConsumeIntegralInRange<int>(0, 3);
        for (int k = 0; k < n; ++k) {
            Event e;
            e.type = static_cast<EventType>(in.ConsumeIntegralInRange<int>(0, 4));
            e.note = in.ConsumeIntegral<std::uint8_t>();
            e.velocity = in.ConsumeIntegral<std::uint8_t>();
            e.channel = in.ConsumeIntegralInRange<std::uint8_t>(0, 3);
            e.param = in.ConsumeIntegralInRange<std::uint32_t>(0, 40);
            e.value = in.ConsumeFloatingPoint<float>();
            e.frameOffset = in.ConsumeIntegralInRange<std::uint32_t>(0, block);
            events.push_back(e);
        }
        // A block's events come in time order.
        std::stable_sort(events.begin(), events.end(),
                         [](const Event& a, const Event& b) { return a.frameOffset < b.frameOffset; });
        ProcessContext ctx;
        ctx.frames = in.ConsumeIntegralInRange<int>(0, 2048);
        ctx.events = events;
        built.graph->process(ctx, out);
    }
    return 0;
}
