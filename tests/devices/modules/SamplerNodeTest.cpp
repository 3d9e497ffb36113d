#include "devices/modules/SamplerNode.h"

#include "DeviceHarness.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// A sound whose sample i is i / 1000 on the left and -i / 1000 on the right, so the
// output tells the position it was read at.
std::shared_ptr<AudioData> ramp(std::int64_t frames, double rate = 48000.0, int channels = 1) {
    auto data = std::make_shared<AudioData>(AudioData{.samples = {}, .channels = channels, .sampleRate = rate, .frames = frames});
    for (std::int64_t i = 0; i < frames * channels; ++i)
        data->samples.push_back(static_cast<float>(i / channels) / (i % channels == 0 ? 1000.0f : -1000.0f));
    return data;
}

std::vector<Signal> play(std::shared_ptr<const AudioData> sound, Knobs knobs, std::vector<Timed> events, int frames,
                         int channels = 1) {
    SamplerNode s;
    s.prepare(48000.0);
    s.sample = std::move(sound);
    setKnob(s, "attack_ms", 0);  // the 2 ms minimum: full after 96 frames
    setKnobs(s, knobs);
    return renderChannels(s, frames, Render{.channels = channels, .events = std::move(events)});
}

// Frames of the sound advanced per output frame, read once the envelope is full.
double step(std::shared_ptr<const AudioData> sound, int note, Knobs knobs = {}) {
    const Signal out = play(std::move(sound), std::move(knobs), {noteOn(0, note, 127)}, 400)[0];
    return (out[107] - out[106]) * 1000.0;
}

TEST(SamplerNode, StepFollowsTheKeyTheRootTuneAndTheRateRatio) {
    EXPECT_NEAR(step(ramp(48000), 72), 2.0, 1e-3);
    EXPECT_NEAR(step(ramp(48000, 44100.0), 60), 0.91875, 1e-3);  // 44.1 kHz played at 48 kHz
    EXPECT_NEAR(step(ramp(48000, 96000.0), 100, {{"follow_pitch", 0}}), 2.0, 1e-3);
    EXPECT_NEAR(step(ramp(48000), 60, {{"tune_cents", 100}, {"root_note", 48}}), std::exp2(13.0 / 12.0), 1e-3);
}

TEST(SamplerNode, ReleaseFadesOutInItsTimeOnlyForItsOwnNoteAndOneShotIgnoresIt) {
    const Signal out =
        play(ramp(48000), {{"release_ms", 10}}, {noteOn(0, 60, 127), noteOff(500, 61), noteOff(1000, 60)}, 2000)[0];
    EXPECT_TRUE(std::abs(out[999] - 0.999f) < 1e-4f && out[1000 + 470] > 0.0f);
    EXPECT_EQ(peak(out, 1000 + 481, 2000), 0.0);
    const Signal shot = play(ramp(1000), {{"one_shot", 1}}, {noteOn(0, 60, 127), noteOff(100, 60)}, 2000)[0];
    EXPECT_TRUE(std::abs(shot[999] - 0.999f) < 1e-4f && peak(shot, 1000, 2000) == 0.0) << "plays to its end, then stops";
}

TEST(SamplerNode, LoopWrapsWhileHeldAndReleaseStopsAtTheNextEnd) {
    const Signal out =
        play(ramp(1000), {{"loop", 1}, {"release_ms", 5000}}, {noteOn(0, 60, 127), noteOff(2500, 60)}, 5000)[0];
    EXPECT_EQ((Signal{out[2000], out[2100]}), (Signal{0.0f, 0.1f}));  // the loop point is sample 0
    EXPECT_GT(out[2999], 0.0f);  // still fading, a long release
    EXPECT_EQ(peak(out, 3000, 5000), 0.0);
    // Fractional positions between the last and the first frame read across the seam.
    const Signal detuned = play(ramp(1000), {{"loop", 1}, {"tune_cents", -50}}, {noteOn(0, 60, 127)}, 4000)[0];
    for (float v : detuned) ASSERT_TRUE(v >= 0.0f && v <= 0.999f) << v;
}

TEST(SamplerNode, NoSoundAnEmptySoundOrOneWithoutAUsableRateIsSilence) {
    auto rateless = ramp(100), endless = ramp(100);
    rateless->sampleRate = 0.0;
    // Regression: an infinite rate made the position infinite and its frame index undefined.
    endless->sampleRate = INFINITY;
    for (const auto& sound : std::vector<std::shared_ptr<const AudioData>>{nullptr, std::make_shared<AudioData>(),
                                                                          rateless, endless})
        for (const Signal& channel : play(sound, {{"loop", 1}}, {noteOn(0, 60, 127)}, 256, 2))
            EXPECT_EQ(channel, constant(256, 0.0f));
}

// Regression: a sound that claims more frames than it holds must not be read past its
// samples (AddressSanitizer would stop here).
TEST(SamplerNode, FrameCountBeyondTheSamplesIsNeverReadPastTheEnd) {
    auto sound = ramp(100);
    sound->frames = 1000000;
    const Signal out = play(sound, {}, {noteOn(0, 60, 127)}, 400)[0];
    EXPECT_GT(out[99], 0.0f);
    EXPECT_EQ(peak(out, 101, 400), 0.0);
}

}  // namespace
}  // namespace ostrel::engine
