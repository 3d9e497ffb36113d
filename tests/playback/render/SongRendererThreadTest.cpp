#include "playback/render/SongRenderer.h"

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

}  // namespace
}  // namespace ostrel::engine
