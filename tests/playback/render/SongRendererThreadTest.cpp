#include "playback/render/SongRenderer.h"

#include <sched.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "playback/SongHarness.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace harness;

model::Device effect(const std::string& type) {
    model::Device d;
    d.id = model::Uuid::generate();
    d.typeId = type;
    return d;
}

// Every built-in kind of track at once on four threads: the devices, sounds and patches
// they build share nothing that one thread could change under another, and two renders
// at once (the GUI's and the worker's) share nothing either.
TEST(SongRendererThreads, TracksOnSeveralThreadsAndTwoRendersAtOnceGiveTheSingleThreadedSamples) {
    test::TempDir dir;
    ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 1, 24000));
    model::Track lead = instrumentTrack("Lead", {midiClip(0, 2, {songNote(60, 0, 1), songNote(64, 1, 1)})});
    lead.devices.push_back(effect("ostrel.delay"));
    model::Track drums = instrumentTrack("Drums", {midiClip(0, 2, {songNote(36, 0, 0.5), songNote(38, 1, 0.5)})},
                                         "Modular Drums");
    model::Track pad = instrumentTrack("Pad", {midiClip(0, 2, {songNote(57, 0, 2)})}, "Modular Pad");
    pad.devices.push_back(effect("ostrel.reverb"));
    model::Track loop = audioTrack("Loop", {audioClip("c.wav", 0, 1), audioClip("c.wav", 1, 1)});
    loop.devices.push_back(effect("ostrel.delay"));
    const model::Project project = song({lead, drums, pad, loop});

    RenderSettings settings;
    settings.sampleRate = kRate;
    settings.samplesFolder = dir.path();
    settings.threads = 1;
    RenderOutput one;
    ASSERT_TRUE(renderProject(project, settings, &one, nullptr));

    settings.threads = 4;
    RenderOutput a;
    RenderOutput b;
    std::thread other([&] { ASSERT_TRUE(renderProject(project, settings, &b, nullptr)); });
    ASSERT_TRUE(renderProject(project, settings, &a, nullptr));
    other.join();
    for (const RenderOutput* many : {&a, &b}) {
        ASSERT_EQ(many->audio.samples.size(), one.audio.samples.size());
        EXPECT_EQ(std::memcmp(many->audio.samples.data(), one.audio.samples.data(), one.audio.samples.size() * sizeof(float)), 0);
    }
}

// From the song's start, a render for playback gives the export's samples, for any thread
// count; and frames are final when published: another thread, playing what it sees
// published while the render goes on, only ever reads the export's samples. The render
// waits at its first publication until that thread has read it, so that thread reads a
// track still rendering however the two are scheduled.
TEST(SongRendererThreads, PlayFromTheStartGivesTheExportsSamplesAsTheyArePublished) {
    test::TempDir dir;
    ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 1, 24000));
    model::Track lead = instrumentTrack("Lead", {midiClip(0, 8, {songNote(60, 0, 1), songNote(64, 5, 2)})});
    lead.devices.push_back(effect("ostrel.delay"));
    model::Track pad = instrumentTrack("Pad", {midiClip(0, 8, {songNote(57, 0, 8)})}, "Modular Pad");
    pad.devices.push_back(effect("ostrel.reverb"));
    const model::Project project = song({lead, pad, audioTrack("Loop", {audioClip("c.wav", 1, 1)})});
    RenderSettings settings;
    settings.sampleRate = kRate;
    settings.samplesFolder = dir.path();
    settings.threads = 1;
    RenderOutput exported;
    ASSERT_TRUE(renderProject(project, settings, &exported, nullptr));

    for (int threads : {1, 4}) {
        SCOPED_TRACE(testing::Message() << threads << " threads");
        settings.threads = threads;
        BackingTrack track;
        std::atomic<bool> done{false};
        std::atomic<int> wrong{0};
        std::atomic<std::int64_t> read{0};  // frames the player has read
        std::thread player([&] {
            std::int64_t checked = 0;
            for (bool last = false; !last;) {
                last = done.load(std::memory_order_acquire);
                const BackingTrack::View view = track.view();
                for (; view.begun && checked < view.end; ++checked) {
                    for (std::int32_t c = 0; c < view.channels; ++c) {
                        const float expected = exported.audio.samples[static_cast<std::size_t>(checked * view.channels + c)];
                        wrong.fetch_add(std::memcmp(&expected, view.samples + checked * view.channels + c, sizeof(float)) == 0 ? 0 : 1);
                    }
                }
                read.store(checked, std::memory_order_release);
                std::this_thread::yield();
            }
        });
        PlaybackRender render;
        int started = 0;
        render.started = [&](const std::vector<std::string>&) {
            ++started;
            EXPECT_EQ(track.view().end, 0) << "nothing published before the start";
        };
        bool waited = false;  // on a render thread, under the mix's lock
        render.progress = [&](std::int64_t end) {
            while (!waited && read.load(std::memory_order_acquire) < end) {
                std::this_thread::yield();
            }
            waited = true;
        };
        std::string error;
        const bool rendered = renderForPlayback(project, settings, render, track, nullptr, &error);
        done.store(true, std::memory_order_release);
        player.join();
        ASSERT_TRUE(rendered) << error;
        EXPECT_EQ(started, 1);
        EXPECT_TRUE(track.view().complete());
        EXPECT_EQ(track.view().frames, exported.audio.frames);
        EXPECT_EQ(wrong.load(), 0);
        EXPECT_EQ(read.load(), exported.audio.frames) << "every frame read";
    }
}

// A program started on fewer processors than the machine has renders on that many threads.
TEST(SongRendererThreads, TheRenderThreadCountFollowsTheAffinityMask) {
    cpu_set_t mine;
    CPU_ZERO(&mine);
    ASSERT_EQ(sched_getaffinity(0, sizeof mine, &mine), 0);
    const int all = CPU_COUNT(&mine);
    EXPECT_EQ(renderThreadCount(0), all);
    EXPECT_EQ(renderThreadCount(5), 5) << "a count asked for is kept";
    if (all < 2) {
        GTEST_SKIP() << "one processor";
    }
    std::thread restricted([&] {
        cpu_set_t two;
        CPU_ZERO(&two);
        for (int cpu = 0, taken = 0; taken < 2; ++cpu) {
            if (CPU_ISSET(cpu, &mine)) {
                CPU_SET(cpu, &two);
                ++taken;
            }
        }
        ASSERT_EQ(sched_setaffinity(0, sizeof two, &two), 0);
        EXPECT_EQ(renderThreadCount(0), 2);
    });
    restricted.join();
}

}  // namespace
}  // namespace ostrel::engine
