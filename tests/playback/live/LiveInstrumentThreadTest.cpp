#include "playback/live/LiveInstrument.h"

#include <atomic>
#include <thread>

#include "playback/SongHarness.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using harness::TestBackend;

// The GUI thread plays keys, turns the level and sound knobs of the running graph and
// swaps instruments while the audio thread renders: no torn knob, no heap use on the
// audio thread, and the sound stays finite throughout.
TEST(LiveInstrumentThreads, KnobsNotesAndRebuildsWhileTheAudioThreadPlays) {
    AudioEngine engine(std::make_unique<TestBackend>());
    ASSERT_TRUE(engine.start(AudioConfig{}, nullptr));
    LiveInstrument live(&engine);
    const std::vector<Patch> patches = builtinPatches();
    std::string error;
    ASSERT_TRUE(live.rebuild(&error)) << error;
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    std::size_t allocations = 0;
    bool finite = true;
    float loudest = 0.0f;
    std::thread audio([&] {
        std::vector<float> out(512 * 2);
        const test::AllocationCounter counter;
        // Twenty blocks past the end, so the last keys held are heard whatever the pace.
        for (int after = 0; after < 20; after += done.load(std::memory_order_acquire) ? 1 : 0) {
            engine.renderBlock(out.data(), 512);
            blocks.fetch_add(1, std::memory_order_relaxed);
            finite = finite && std::all_of(out.begin(), out.end(), [](float s) { return std::isfinite(s); });
            loudest = std::max(loudest, static_cast<float>(harness::peak(out)));
        }
        allocations = counter.allocations() + counter.frees();
    });
    for (int i = 0; i < 120; ++i) {
        live.noteOn(48 + i % 24, 100);
        if (i >= 3) live.noteOff(48 + (i - 3) % 24);
        live.setSoundKnob(i % LiveInstrument::kSoundKnobs, static_cast<float>(i % 11) / 10.0f);
        live.setLevel(static_cast<float>(i % 7) / 6.0f);
        if (i % 20 == 19) {
            live.setEffects(!live.effects());
            live.setPatch(Patch(patches[static_cast<std::size_t>(i / 20) % patches.size()]));
            EXPECT_TRUE(live.rebuild(&error)) << error;
        }
        engine.collectGarbage();
        // Keep pace with the audio thread so both really run side by side.
        while (blocks.load(std::memory_order_relaxed) <= i) std::this_thread::yield();
    }
    live.setLevel(1.0f);
    live.noteOn(60, 100);
    done.store(true, std::memory_order_release);
    audio.join();
    engine.collectGarbage();
    EXPECT_TRUE(finite && loudest > 0.0f);
    EXPECT_EQ(allocations, 0u);
}

}  // namespace
}  // namespace ostrel::engine
