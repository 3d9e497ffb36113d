#include "devices/SamplerNode.h"

#include <gtest/gtest.h>

#include <memory>

#include "ModuleHarness.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;

constexpr KnobRow kTable[] = {
    {"gain", "Gain", "%", 0, 2, 1, ParamKind::Continuous},
    {"root_note", "Root note", "", 0, 127, 60, ParamKind::Stepped},
    {"tune_cents", "Tune", "ct", -100, 100, 0, ParamKind::Continuous},
    {"attack_ms", "Attack", "ms", 0, 2000, 2, ParamKind::Continuous},
    {"release_ms", "Release", "ms", 1, 5000, 80, ParamKind::Continuous},
    {"loop", "Loop", "", 0, 1, 0, ParamKind::OnOff},
    {"one_shot", "One shot", "", 0, 1, 0, ParamKind::OnOff},
    {"follow_pitch", "Follow pitch", "", 0, 1, 1, ParamKind::OnOff},
    {"voice", "Voice", "", -1, 15, -1, ParamKind::Stepped},
    {"note", "Only note", "", -1, 127, -1, ParamKind::Stepped},
};

// A sound whose sample i is i / scale on the left and -i / scale on the right, so the
// output tells the position it was read at.
std::shared_ptr<const AudioData> ramp(std::int64_t frames, double rate = 48000.0, int channels = 1,
                                      float scale = 1000.0f) {
    auto data = std::make_shared<AudioData>();
    data->channels = channels;
    data->sampleRate = rate;
    data->frames = frames;
    for (std::int64_t i = 0; i < frames; ++i) {
        data->samples.push_back(static_cast<float>(i) / scale);
        if (channels > 1) data->samples.push_back(-static_cast<float>(i) / scale);
    }
    return data;
}

// Attack at its 2 ms minimum: after 96 frames at 48 kHz the envelope is full.
constexpr int kAttackFrames = 96;

void setUp(SamplerNode& s, std::shared_ptr<const AudioData> sound, double rate = 48000.0) {
    s.prepare(rate);
    s.sample = std::move(sound);
    setKnob(s, "attack_ms", 0);
}

// Frames of the sound advanced per output frame, read once the envelope is full.
double stepAfterAttack(const std::vector<float>& out, int at = kAttackFrames + 10) {
    return (out[static_cast<std::size_t>(at + 1)] - out[static_cast<std::size_t>(at)]) * 1000.0;
}

TEST(SamplerNodeKnobs, MatchTheTable) {
    SamplerNode s;
    expectKnobTable(s, kTable);
}

TEST(SamplerNodePitch, RootKeyPlaysAtItsOwnSpeedAndAnOctaveUpAtTwice) {
    for (int note : {60, 72, 48}) {
        SamplerNode s;
        setUp(s, ramp(48000));
        Render r;
        r.events = {noteOn(0, note, 127)};
        const double expected = note == 60 ? 1.0 : note == 72 ? 2.0 : 0.5;
        EXPECT_NEAR(stepAfterAttack(render(s, 400, r)), expected, 1e-3) << note;
    }
}

TEST(SamplerNodePitch, SoundAt44100PlaysAtStep0_91875In48000) {
    SamplerNode s;
    setUp(s, ramp(48000, 44100.0));
    Render r;
    r.events = {noteOn(0, 60, 127)};
    EXPECT_NEAR(stepAfterAttack(render(s, 400, r)), 0.91875, 1e-3);
}

TEST(SamplerNodePitch, WithoutFollowPitchEveryKeyPlaysAtTheRateRatio) {
    for (int note : {30, 60, 100}) {
        SamplerNode s;
        setUp(s, ramp(48000, 96000.0));
        setKnob(s, "follow_pitch", 0);
        Render r;
        r.events = {noteOn(0, note, 127)};
        EXPECT_NEAR(stepAfterAttack(render(s, 400, r)), 2.0, 1e-3) << note;
    }
}

TEST(SamplerNodePitch, TuneAndRootNoteShiftThePitch) {
    SamplerNode s;
    setUp(s, ramp(48000));
    setKnob(s, "tune_cents", 100);
    setKnob(s, "root_note", 48);
    Render r;
    r.events = {noteOn(0, 60, 127)};
    EXPECT_NEAR(stepAfterAttack(render(s, 400, r)), std::exp2(13.0 / 12.0), 1e-3);
}

TEST(SamplerNodeEnvelope, FirstFrameAfterANoteOnIsSilentThenFadesInLinearly) {
    SamplerNode s;
    setUp(s, ramp(48000, 48000.0, 1, 1.0f));
    std::vector<float> ones(48000, 0.5f);
    auto flat = std::make_shared<AudioData>();
    flat->channels = 1;
    flat->frames = 48000;
    flat->samples = ones;
    s.sample = flat;
    Render r;
    r.events = {noteOn(10, 60, 127)};
    const std::vector<float> out = render(s, 400, r);
    EXPECT_EQ(out[9], 0.0f);
    EXPECT_EQ(out[10], 0.0f);
    EXPECT_NEAR(out[10 + kAttackFrames / 2], 0.25f, 0.01f);
    EXPECT_EQ(out[10 + kAttackFrames + 5], 0.5f);
}

TEST(SamplerNodeEnvelope, GainAndVelocityScaleTheSound) {
    auto flat = std::make_shared<AudioData>();
    flat->channels = 1;
    flat->frames = 4800;
    flat->samples.assign(4800, 0.5f);
    SamplerNode s;
    setUp(s, flat);
    setKnob(s, "gain", 2);
    Render r;
    r.events = {noteOn(0, 60, 64)};
    EXPECT_FLOAT_EQ(render(s, 400, r)[300], 2.0f * (64.0f / 127.0f) * 0.5f);
}

TEST(SamplerNodeEnvelope, ReleaseFadesOutInItsTimeAndStops) {
    SamplerNode s;
    setUp(s, ramp(48000));
    setKnob(s, "release_ms", 10);
    Render r;
    r.events = {noteOn(0, 60, 127), noteOff(1000, 60)};
    const std::vector<float> out = render(s, 2000, r);
    EXPECT_GT(out[1000 + 470], 0.0f);
    EXPECT_EQ(out[1000 + 481], 0.0f);
    EXPECT_EQ(peak(out, 1500, 2000), 0.0);
}

TEST(SamplerNodeNotes, NoteOffForAnotherNoteChangesNothing) {
    SamplerNode s;
    setUp(s, ramp(48000));
    Render r;
    r.events = {noteOn(0, 60, 127), noteOff(100, 61)};
    const std::vector<float> out = render(s, 1000, r);
    EXPECT_NEAR(out[999], 999.0f / 1000.0f, 1e-4f);
}

TEST(SamplerNodeNotes, OneShotIgnoresTheNoteOffAndPlaysToTheEnd) {
    SamplerNode s;
    setUp(s, ramp(1000));
    setKnob(s, "one_shot", 1);
    Render r;
    r.events = {noteOn(0, 60, 127), noteOff(100, 60)};
    const std::vector<float> out = render(s, 2000, r);
    EXPECT_NEAR(out[999], 0.999f, 1e-4f);
    EXPECT_EQ(out[1000], 0.0f);
}

TEST(SamplerNodeNotes, NewNoteRestartsFromTheBeginning) {
    SamplerNode s;
    setUp(s, ramp(48000));
    Render r;
    r.events = {noteOn(0, 60, 127), noteOn(500, 60, 127)};
    const std::vector<float> out = render(s, 1000, r);
    EXPECT_EQ(out[500], 0.0f);
    EXPECT_NEAR(out[999], 0.499f, 1e-4f);
}

TEST(SamplerNodeLoop, WithoutLoopTheSoundStopsAtItsEndWhileHeld) {
    SamplerNode s;
    setUp(s, ramp(1000));
    Render r;
    r.events = {noteOn(0, 60, 127)};
    const std::vector<float> out = render(s, 3000, r);
    EXPECT_NEAR(out[999], 0.999f, 1e-4f);
    EXPECT_EQ(peak(out, 1000, 3000), 0.0);
}

TEST(SamplerNodeLoop, HeldKeyKeepsWrappingAndReleaseStopsAtTheNextEnd) {
    SamplerNode s;
    setUp(s, ramp(1000));
    setKnob(s, "loop", 1);
    setKnob(s, "release_ms", 5000);
    Render r;
    r.events = {noteOn(0, 60, 127), noteOff(2500, 60)};
    const std::vector<float> out = render(s, 5000, r);
    EXPECT_NEAR(out[1999], 0.999f, 1e-4f);
    EXPECT_EQ(out[2000], 0.0f);  // the loop point: sample 0
    EXPECT_NEAR(out[2100], 0.1f, 1e-4f);
    EXPECT_GT(out[2999], 0.0f);  // still fading, a long release
    EXPECT_EQ(peak(out, 3000, 5000), 0.0);
}

TEST(SamplerNodeLoop, LoopingReadsAcrossTheSeamIntoTheFirstFrame) {
    SamplerNode s;
    setUp(s, ramp(1000));
    setKnob(s, "loop", 1);
    setKnob(s, "tune_cents", -50);  // fractional positions land between the last and first frame
    Render r;
    r.events = {noteOn(0, 60, 127)};
    const std::vector<float> out = render(s, 4000, r);
    for (float v : out) {
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 0.999f);
    }
}

TEST(SamplerNodeChannels, MonoSoundFeedsBothSidesAndStereoKeepsThem) {
    for (int channels : {1, 2}) {
        SamplerNode s;
        setUp(s, ramp(4800, 48000.0, channels));
        Render r;
        r.channels = 2;
        r.events = {noteOn(0, 60, 127)};
        const auto out = renderChannels(s, 400, r);
        EXPECT_GT(out[0][300], 0.0f);
        EXPECT_EQ(out[1][300], channels == 1 ? out[0][300] : -out[0][300]);
    }
}

TEST(SamplerNodeFilters, VoiceAndNoteFiltersPickTheirEvents) {
    SamplerNode voice;
    setUp(voice, ramp(4800));
    setKnob(voice, "voice", 3);
    Render r;
    r.events = {noteOn(0, 60, 127, 2), noteOn(200, 60, 127, 3)};
    std::vector<float> out = render(voice, 400, r);
    EXPECT_EQ(peak(out, 0, 200), 0.0);
    EXPECT_GT(out[399], 0.0f);

    SamplerNode pad;
    setUp(pad, ramp(4800));
    setKnob(pad, "note", 36);
    Render p;
    p.events = {noteOn(0, 38, 127), noteOn(200, 36, 127), noteOff(300, 38)};
    out = render(pad, 400, p);
    EXPECT_EQ(peak(out, 0, 200), 0.0);
    EXPECT_GT(out[399], 0.0f);
}

TEST(SamplerNodeSound, NoSoundAnEmptySoundOrOneWithoutAUsableRateIsSilence) {
    auto empty = std::make_shared<AudioData>();
    auto rateless = std::make_shared<AudioData>(*ramp(100));
    rateless->sampleRate = 0.0;
    // Regression: an infinite rate made the position infinite and its frame index undefined.
    auto endless = std::make_shared<AudioData>(*ramp(100));
    endless->sampleRate = INFINITY;
    for (const std::shared_ptr<const AudioData>& sound :
         {std::shared_ptr<const AudioData>(), std::shared_ptr<const AudioData>(empty),
          std::shared_ptr<const AudioData>(rateless), std::shared_ptr<const AudioData>(endless)}) {
        SamplerNode s;
        setUp(s, sound);
        setKnob(s, "loop", 1);
        Render r;
        r.channels = 2;
        r.events = {noteOn(0, 60, 127)};
        for (const auto& channel : renderChannels(s, 256, r))
            for (float v : channel) ASSERT_EQ(v, 0.0f);
    }
}

TEST(SamplerNodeSound, FrameCountBeyondTheSamplesIsNeverReadPastTheEnd) {
    // Regression: a sound that claims more frames than it holds must not be read past
    // its samples (AddressSanitizer would stop here).
    auto sound = std::make_shared<AudioData>(*ramp(100));
    sound->frames = 1000000;
    SamplerNode s;
    setUp(s, sound);
    Render r;
    r.events = {noteOn(0, 60, 127)};
    const std::vector<float> out = render(s, 400, r);
    EXPECT_GT(out[99], 0.0f);
    EXPECT_EQ(peak(out, 101, 400), 0.0);
}

TEST(SamplerNodeLifecycle, ResetSilencesAndKeepsTheSound) {
    SamplerNode s;
    setUp(s, ramp(4800));
    Render r;
    r.events = {noteOn(0, 60, 127)};
    render(s, 200, r);
    s.reset();
    EXPECT_EQ(peak(render(s, 100), 0, 100), 0.0);
    EXPECT_NE(s.sample, nullptr);
}

}  // namespace
}  // namespace ostrel::engine
