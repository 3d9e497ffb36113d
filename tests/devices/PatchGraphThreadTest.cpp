#include "devices/PatchGraph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "devices/BuiltinInstruments.h"

namespace ostrel::engine {
namespace {

// The live instrument builds on the GUI thread while the render worker builds its own
// graphs: two builds at once share nothing but the one-time knob and kit tables.
// Each thread builds every built-in, then plays a note through each, and both threads
// must hear the same thing.
std::vector<float> buildAndPlayAll(std::atomic<int>& ready) {
    ready.fetch_add(1, std::memory_order_acq_rel);
    while (ready.load(std::memory_order_acquire) < 2) {
    }
    std::vector<float> heard;
    for (const Patch& patch : builtinPatches()) {
        PatchGraph built = buildPatchGraph(patch, 48000.0, 256, 2, nullptr);
        if (!built.graph) return {};
        Event on;
        on.type = EventType::NoteOn;
        on.note = 36;
        on.velocity = 100;
        ProcessContext ctx;
        ctx.frames = 256;
        ctx.events = std::span<const Event>(&on, 1);
        AudioBuffer out(2, 256);
        built.graph->process(ctx, out);
        heard.push_back(out.channel(0)[255]);
    }
    return heard;
}

TEST(PatchGraphThreads, TwoThreadsBuildAndPlayEveryBuiltinAtOnce) {
    std::atomic<int> ready{0};
    std::vector<float> other;
    std::thread worker([&] { other = buildAndPlayAll(ready); });
    const std::vector<float> mine = buildAndPlayAll(ready);
    worker.join();
    ASSERT_EQ(mine.size(), 19u);
    EXPECT_EQ(mine, other);
}

}  // namespace
}  // namespace ostrel::engine
