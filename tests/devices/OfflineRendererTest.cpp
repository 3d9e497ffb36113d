#include "devices/OfflineRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/WavReader.h"
#include "engine/WavWriter.h"
#include "model/Project.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using model::Clip;
using model::Device;
using model::Note;
using model::Track;

constexpr double kRate = 48000.0;
constexpr char kLead[] = "Modular Lead";

Note note(int pitch, double start, double length, int velocity = 100) {
    Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

Clip midiClip(double start, double length, std::vector<Note> notes) {
    Clip c;
    c.id = model::Uuid::generate();
    c.startBeats = start;
    c.lengthBeats = length;
    c.notes = std::move(notes);
    return c;
}

Clip audioClip(const std::string& file, double start, double length, double offsetSeconds = 0.0) {
    Clip c;
    c.id = model::Uuid::generate();
    c.startBeats = start;
    c.lengthBeats = length;
    c.audioSource = file;
    c.audioOffsetSeconds = offsetSeconds;
    return c;
}

Device effect(const std::string& type, std::map<std::string, double> knobs = {}, bool enabled = true) {
    Device d;
    d.id = model::Uuid::generate();
    d.typeId = type;
    d.parameters = std::move(knobs);
    d.enabled = enabled;
    return d;
}

Track instrumentTrack(const std::string& name, std::vector<Clip> clips, const std::string& instrument = kLead) {
    Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.instrumentPatch = instrument;
    t.clips = std::move(clips);
    return t;
}

Track audioTrack(const std::string& name, std::vector<Clip> clips) {
    Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.kind = "audio";
    t.clips = std::move(clips);
    return t;
}

model::Project song(std::vector<Track> tracks, double bpm = 120.0) {
    return model::makeProject(model::Uuid::generate(), "Song", bpm, std::move(tracks), model::JsonValue{});
}

RenderSettings settingsAt(double rate = kRate, std::uint32_t block = 512, const std::filesystem::path& folder = {}) {
    RenderSettings s;
    s.sampleRate = rate;
    s.blockSize = block;
    s.samplesFolder = folder;
    return s;
}

RenderOutput render(const model::Project& project, const RenderSettings& settings) {
    RenderOutput out;
    std::string error;
    EXPECT_TRUE(renderProject(project, settings, &out, &error)) << error;
    return out;
}

std::string renderError(const model::Project& project, const RenderSettings& settings) {
    RenderOutput out;
    out.audio.frames = -7;  // a marker: a failed render must leave the output alone
    std::string error;
    EXPECT_FALSE(renderProject(project, settings, &out, &error));
    EXPECT_EQ(out.audio.frames, -7);
    return error;
}

float peak(const std::vector<float>& samples, std::size_t from = 0, std::size_t to = std::numeric_limits<std::size_t>::max()) {
    float p = 0.0f;
    for (std::size_t i = from; i < std::min(to, samples.size()); ++i) {
        p = std::max(p, std::abs(samples[i]));
    }
    return p;
}

// A float WAV file of constant frames, so a clip of it must render to exactly that value.
void writeConstantWav(const std::filesystem::path& path, float value, int channels, std::int64_t frames,
                      std::uint32_t rate = 48000) {
    std::vector<float> samples(static_cast<std::size_t>(frames * channels), value);
    ASSERT_TRUE(writeWavFile(path, samples, channels, rate, WavFormat::Float32, nullptr));
}

// Frame i holds i / 1e6 on the left and minus that on the right: positions can be read back.
void writeRampWav(const std::filesystem::path& path, std::int64_t frames) {
    std::vector<float> samples;
    for (std::int64_t i = 0; i < frames; ++i) {
        samples.push_back(static_cast<float>(i) * 1e-6f);
        samples.push_back(-static_cast<float>(i) * 1e-6f);
    }
    ASSERT_TRUE(writeWavFile(path, samples, 2, 48000, WavFormat::Float32, nullptr));
}

// ---------------------------------------------------------------------------------------
// Length of an automatic render

TEST(RenderLength, EmptyProjectRendersNothingAndSucceeds) {
    const RenderOutput out = render(song({}), settingsAt());
    EXPECT_EQ(out.audio.frames, 0);
    EXPECT_TRUE(out.audio.samples.empty());
    EXPECT_TRUE(out.warnings.empty());
}

TEST(RenderLength, OneBeatNoteAt120BpmLastsTheNoteAndTwoSecondsOfRelease) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})});
    const RenderOutput out = render(project, settingsAt());
    EXPECT_EQ(out.audio.frames, 24000 + 96000);
    EXPECT_EQ(out.audio.channels, 2);
    EXPECT_EQ(out.audio.sampleRate, kRate);
    EXPECT_EQ(out.audio.samples.size(), std::size_t{120000 * 2});
    EXPECT_GT(peak(out.audio.samples, 0, 24000 * 2), 0.01f);
}

TEST(RenderLength, TempoSixtyDoublesTheNotesFrames) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})}, 60.0);
    EXPECT_EQ(render(project, settingsAt()).audio.frames, 48000 + 96000);
}

TEST(RenderLength, LengthFollowsTheRateAtEveryRate) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})});
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        EXPECT_EQ(render(project, settingsAt(rate)).audio.frames, static_cast<std::int64_t>(rate * 2.5)) << rate;
    }
}

TEST(RenderLength, AnEnabledEffectAddsFourSecondsOfTail) {
    Track track = instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})});
    track.devices.push_back(effect("ostrel.delay"));
    EXPECT_EQ(render(song({track}), settingsAt()).audio.frames, 24000 + 96000 + 192000);

    track.devices.front().enabled = false;
    EXPECT_EQ(render(song({track}), settingsAt()).audio.frames, 24000 + 96000);
}

TEST(RenderLength, TheLatestNoteEndOfAllTracksSetsTheLength) {
    const auto project = song({instrumentTrack("A", {midiClip(0, 4, {note(60, 0, 1)})}),
                               instrumentTrack("B", {midiClip(4, 4, {note(62, 1, 2)})})});
    // The second track's note ends at beat 7: 3.5 s.
    EXPECT_EQ(render(project, settingsAt()).audio.frames, 168000 + 96000);
}

TEST(RenderLength, ANoteCrossingItsClipEndIsCutThere) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 2, {note(60, 1, 8)})})});
    EXPECT_EQ(render(project, settingsAt()).audio.frames, 48000 + 96000);
}

TEST(RenderLength, InstrumentTrackWithoutClipsAddsNoLength) {
    const auto project = song({instrumentTrack("Lead", {})});
    const RenderOutput out = render(project, settingsAt());
    EXPECT_EQ(out.audio.frames, 0);
}

TEST(RenderLength, ClipsWithoutNotesStillAddTheReleaseAndEffectTails) {
    Track track = instrumentTrack("Lead", {midiClip(0, 4, {})});
    EXPECT_EQ(render(song({track}), settingsAt()).audio.frames, 96000);
    track.devices.push_back(effect("ostrel.reverb"));
    EXPECT_EQ(render(song({track}), settingsAt()).audio.frames, 6 * 48000);
}

TEST(RenderLength, TrackWithoutInstrumentIsSkipped) {
    const auto project = song({instrumentTrack("Empty", {midiClip(0, 4, {note(60, 0, 1)})}, "")});
    EXPECT_EQ(render(project, settingsAt()).audio.frames, 0);
}

TEST(RenderLength, AMutedTrackStillLengthensTheRender) {
    Track track = instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})});
    track.muted = true;
    const RenderOutput out = render(song({track}), settingsAt());
    EXPECT_EQ(out.audio.frames, 120000);
    EXPECT_EQ(peak(out.audio.samples), 0.0f);
}

TEST(RenderLength, GivenFramesCutLaterContentAndPadShorterContent) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})});
    RenderSettings settings = settingsAt();
    settings.frames = 1000;
    EXPECT_EQ(render(project, settings).audio.frames, 1000);
    settings.frames = 500000;
    const RenderOutput longer = render(project, settings);
    EXPECT_EQ(longer.audio.frames, 500000);
    EXPECT_EQ(longer.audio.samples.size(), std::size_t{1000000});
}

// ---------------------------------------------------------------------------------------
// Values a project file may hold that the renderer must not trust

TEST(RenderUntrustedValues, TempoBelowTheRangeIsClampedToTwentyBpm) {
    for (double bpm : {0.0, -120.0, 5.0}) {
        const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})}, bpm);
        EXPECT_EQ(render(project, settingsAt()).audio.frames, 144000 + 96000) << bpm;
    }
}

TEST(RenderUntrustedValues, TempoAboveTheRangeIsClampedToThreeHundredBpm) {
    for (double bpm : {1e6, std::numeric_limits<double>::infinity()}) {
        const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})}, bpm);
        EXPECT_EQ(render(project, settingsAt()).audio.frames, 9600 + 96000) << bpm;
    }
}

TEST(RenderUntrustedValues, TempoThatIsNotANumberPlaysAt120Bpm) {
    const auto project =
        song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})}, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(render(project, settingsAt()).audio.frames, 24000 + 96000);
}

TEST(RenderUntrustedValues, ASongLongerThanAnHourFailsWithAClearError) {
    const auto midi = song({instrumentTrack("Lead", {midiClip(1e9, 4, {note(60, 0, 1)})})});
    EXPECT_EQ(renderError(midi, settingsAt()), "the song is too long to render (more than 60 minutes)");

    // An audio clip far out would otherwise need a buffer of its whole length.
    const auto audio = song({audioTrack("Audio", {audioClip("a.wav", 1e12, 4)})});
    EXPECT_EQ(renderError(audio, settingsAt()), "the song is too long to render (more than 60 minutes)");

    RenderSettings settings = settingsAt();
    settings.frames = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(renderError(song({}), settings), "the song is too long to render (more than 60 minutes)");
}

TEST(RenderUntrustedValues, TheHourIsTheBoundNotLess) {
    // A low rate keeps the hour small; an audio clip without a sound still counts in full.
    const auto under = song({audioTrack("Audio", {audioClip("a.wav", 7190, 4)})});
    EXPECT_EQ(render(under, settingsAt(100.0)).audio.frames, 359700);
    const auto over = song({audioTrack("Audio", {audioClip("a.wav", 7200, 4)})});
    EXPECT_EQ(renderError(over, settingsAt(100.0)), "the song is too long to render (more than 60 minutes)");
}

TEST(RenderUntrustedValues, SettingsThatCannotRenderFailInsteadOfAllocating) {
    RenderSettings settings = settingsAt();
    settings.channels = -1;
    settings.frames = 100;
    EXPECT_EQ(renderError(song({}), settings), "the channel count must be at least 1");
    for (double rate : {0.0, -48000.0, 1e300, std::numeric_limits<double>::quiet_NaN()}) {
        EXPECT_EQ(renderError(song({}), settingsAt(rate)), "the sample rate must be above 0 and at most 1000000 Hz");
    }
    settings = settingsAt(kRate, 0);
    EXPECT_EQ(renderError(song({}), settings), "the block size must be at least 1");
}

TEST(RenderUntrustedValues, AVolumeThatIsNotANumberSilencesTheTrackInsteadOfTheMix) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    Track bad = audioTrack("Bad", {audioClip("c.wav", 0, 1)});
    bad.volume = std::numeric_limits<double>::quiet_NaN();
    const Track good = audioTrack("Good", {audioClip("c.wav", 0, 1)});
    const RenderOutput out = render(song({bad, good}), settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 24000);
    EXPECT_EQ(out.audio.samples[0], 0.25f);
    EXPECT_EQ(out.audio.samples[47999], 0.25f);
}

// ---------------------------------------------------------------------------------------
// Audio clips

TEST(RenderAudioClips, AConstantSoundRendersToExactlyThatValue) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    const auto project = song({audioTrack("Audio", {audioClip("c.wav", 0, 1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 24000);  // the clip's length; no effect, no tail
    for (float s : out.audio.samples) {
        ASSERT_EQ(s, 0.25f);
    }
    EXPECT_TRUE(out.warnings.empty());
}

TEST(RenderAudioClips, VolumeScalesTheTrack) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    Track track = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    track.volume = 0.5;
    const RenderOutput out = render(song({track}), settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 24000);
    EXPECT_EQ(out.audio.samples.front(), 0.125f);
    EXPECT_EQ(out.audio.samples.back(), 0.125f);
}

TEST(RenderAudioClips, TheValueHoldsAtEveryRateAndBlockSize) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 96000, 48000);
    const auto project = song({audioTrack("Audio", {audioClip("c.wav", 0, 2)})});
    for (double rate : {44100.0, 48000.0, 96000.0}) {
        for (std::uint32_t block : {64u, 333u, 1024u}) {
            const RenderOutput out = render(project, settingsAt(rate, block, dir.path()));
            ASSERT_EQ(out.audio.frames, static_cast<std::int64_t>(rate)) << rate;
            EXPECT_EQ(out.audio.samples[0], 0.25f) << rate << " " << block;
            EXPECT_NEAR(out.audio.samples[out.audio.samples.size() / 2], 0.25f, 1e-6f) << rate << " " << block;
        }
    }
}

TEST(RenderAudioClips, AMonoSoundPlaysOnBothChannels) {
    test::TempDir dir;
    writeConstantWav(dir / "m.wav", 0.5f, 1, 48000);
    const auto project = song({audioTrack("Audio", {audioClip("m.wav", 0, 1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 24000);
    EXPECT_EQ(out.audio.samples[0], 0.5f);
    EXPECT_EQ(out.audio.samples[1], 0.5f);
}

TEST(RenderAudioClips, OverlappingClipsSum) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    const auto project = song({audioTrack("Audio", {audioClip("c.wav", 0, 1), audioClip("c.wav", 0.5, 1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 36000);
    EXPECT_EQ(out.audio.samples[2 * 11999], 0.25f);
    EXPECT_EQ(out.audio.samples[2 * 12000], 0.5f);
    EXPECT_EQ(out.audio.samples[2 * 24000], 0.25f);
}

TEST(RenderAudioClips, TheOffsetStartsTheClipLaterInTheSound) {
    test::TempDir dir;
    writeRampWav(dir / "r.wav", 48000);
    const auto project = song({audioTrack("Audio", {audioClip("r.wav", 1, 1, 0.1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 48000);
    EXPECT_EQ(out.audio.samples[2 * 23999], 0.0f);
    EXPECT_FLOAT_EQ(out.audio.samples[2 * 24000], 4800 * 1e-6f);
    EXPECT_FLOAT_EQ(out.audio.samples[2 * 24000 + 1], -4800 * 1e-6f);
}

TEST(RenderAudioClips, AClipBeforeTheSongStartPlaysOnlyItsLaterPart) {
    test::TempDir dir;
    writeRampWav(dir / "r.wav", 48000);
    // Starts half a beat (12000 frames) before beat 0: nothing may be written before the buffer.
    const auto project = song({audioTrack("Audio", {audioClip("r.wav", -0.5, 1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 12000);
    EXPECT_FLOAT_EQ(out.audio.samples[0], 12000 * 1e-6f);
    EXPECT_FLOAT_EQ(out.audio.samples[2 * 11999], 23999 * 1e-6f);
}

TEST(RenderAudioClips, ClipsLongerThanTheirSoundEndInSilence) {
    test::TempDir dir;
    writeConstantWav(dir / "short.wav", 0.25f, 2, 100);
    const auto project = song({audioTrack("Audio", {audioClip("short.wav", 0, 1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 24000);
    EXPECT_EQ(out.audio.samples[2 * 99], 0.25f);
    EXPECT_EQ(out.audio.samples[2 * 100], 0.0f);
}

TEST(RenderAudioClips, ClipsWithoutASoundAddNothingAndWarnNothing) {
    Clip empty = audioClip("", 0, 4);
    const RenderOutput out = render(song({audioTrack("Audio", {empty})}), settingsAt());
    EXPECT_EQ(out.audio.frames, 0);
    EXPECT_TRUE(out.warnings.empty());
}

TEST(RenderAudioClips, MissingFilesStillAddTheirLengthAndEffectTailAndWarnOncePerName) {
    test::TempDir dir;
    Track track = audioTrack("Drums", {audioClip("gone.wav", 0, 1), audioClip("gone.wav", 1, 1)});
    track.devices.push_back(effect("ostrel.reverb"));
    const RenderOutput out = render(song({track}), settingsAt(kRate, 512, dir.path()));
    EXPECT_EQ(out.audio.frames, 48000 + 192000);
    EXPECT_EQ(peak(out.audio.samples), 0.0f);
    ASSERT_EQ(out.warnings.size(), 1u);
    const std::string& w = out.warnings[0];
    EXPECT_EQ(w.rfind("track \"Drums\": the audio file \"gone.wav\" could not be used (", 0), 0u) << w;
    EXPECT_TRUE(w.ends_with("); skipped")) << w;
}

TEST(RenderAudioClips, WithoutASamplesFolderTheReasonIsNoAudioFolder) {
    const RenderOutput out = render(song({audioTrack("Audio", {audioClip("a.wav", 0, 1)})}), settingsAt());
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_EQ(out.warnings[0], "track \"Audio\": the audio file \"a.wav\" could not be used (no audio folder); skipped");
}

TEST(RenderAudioClips, ANameThatIsNotAPlainFileNameIsNeverOpened) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "inner");
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    // From the samples folder "../c.wav" would reach the file beside it.
    const auto project = song({audioTrack("Audio", {audioClip("../c.wav", 0, 1), audioClip("../c.wav", 1, 1)})});
    const RenderOutput out = render(project, settingsAt(kRate, 512, dir / "inner"));
    EXPECT_EQ(out.audio.frames, 48000);
    EXPECT_EQ(peak(out.audio.samples), 0.0f);
    ASSERT_EQ(out.warnings.size(), 2u);  // checked for every clip
    EXPECT_EQ(out.warnings[0], "track \"Audio\": \"../c.wav\" is not a plain file name; skipped");
}

// ---------------------------------------------------------------------------------------
// Effects on audio tracks

TEST(RenderAudioEffects, ADelayEchoesThePastClipEnd) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    Track track = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    track.devices.push_back(effect("ostrel.delay", {{"time_ms", 100.0}, {"feedback", 0.0}, {"mix", 0.5}}));
    const RenderOutput out = render(song({track}), settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.audio.frames, 24000 + 192000);
    EXPECT_GT(peak(out.audio.samples, 2 * 24000, 2 * 28000), 0.05f);  // the echo of the clip's last 100 ms
    EXPECT_LT(peak(out.audio.samples, 2 * 30000), 1e-6f);          // and nothing after it
}

TEST(RenderAudioEffects, AKnobTheEffectDoesNotHaveIsSkippedWithAWarning) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    Track track = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    track.devices.push_back(effect("ostrel.delay", {{"zeta", 1.0}, {"alpha", 2.0}, {"mix", 0.0}}));
    const RenderOutput out = render(song({track}), settingsAt(kRate, 512, dir.path()));
    ASSERT_EQ(out.warnings.size(), 2u);
    EXPECT_EQ(out.warnings[0], "track \"Audio\": the effect ostrel.delay has no knob called \"alpha\"; skipped");
    EXPECT_EQ(out.warnings[1], "track \"Audio\": the effect ostrel.delay has no knob called \"zeta\"; skipped");
    EXPECT_EQ(out.audio.samples[0], 0.25f);  // mix 0 was still set: the dry signal only
}

TEST(RenderAudioEffects, AnUnknownEffectFailsTheWholeRender) {
    test::TempDir dir;
    writeConstantWav(dir / "c.wav", 0.25f, 2, 48000);
    Track track = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    track.devices.push_back(effect("ostrel.flanger"));
    EXPECT_EQ(renderError(song({track}), settingsAt(kRate, 512, dir.path())),
              "track \"Audio\": unknown effect \"ostrel.flanger\"");
}

// ---------------------------------------------------------------------------------------
// Instrument tracks

TEST(RenderInstruments, AnUnknownInstrumentFailsTheRender) {
    const auto project = song({instrumentTrack("Keys", {midiClip(0, 4, {note(60, 0, 1)})}, "Theremin")});
    EXPECT_EQ(renderError(project, settingsAt()), "track \"Keys\": unknown instrument patch \"Theremin\"");
}

TEST(RenderInstruments, AnUnknownEffectInTheChainFailsAsAGraphError) {
    Track track = instrumentTrack("Keys", {midiClip(0, 4, {note(60, 0, 1)})});
    track.devices.push_back(effect("ostrel.flanger"));
    const std::string error = renderError(song({track}), settingsAt());
    EXPECT_EQ(error.rfind("track \"Keys\": unknown device \"ostrel.flanger\"", 0), 0u) << error;
}

TEST(RenderInstruments, ANoteSoundsFromItsStartAtEveryBlockSize) {
    const auto project = song({instrumentTrack("Lead", {midiClip(1, 4, {note(60, 0, 1)})})});
    for (std::uint32_t block : {64u, 441u, 4096u}) {
        const RenderOutput out = render(project, settingsAt(kRate, block));
        ASSERT_EQ(out.audio.frames, 48000 + 96000);
        EXPECT_EQ(peak(out.audio.samples, 0, 2 * 24000), 0.0f) << block;
        EXPECT_GT(peak(out.audio.samples, 2 * 24000, 2 * 24480), 0.0f) << block;
    }
}

TEST(RenderInstruments, ChannelsFollowTheSettings) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(60, 0, 1)})})});
    RenderSettings settings = settingsAt();
    settings.channels = 1;
    const RenderOutput out = render(project, settings);
    EXPECT_EQ(out.audio.channels, 1);
    EXPECT_EQ(out.audio.samples.size(), std::size_t{120000});
}

TEST(RenderInstruments, NotesOutsideTheMidiRangeAreSkipped) {
    const auto project = song({instrumentTrack("Lead", {midiClip(0, 4, {note(200, 0, 1), note(-3, 0, 1)})})});
    const RenderOutput out = render(project, settingsAt());
    EXPECT_EQ(peak(out.audio.samples), 0.0f);
}

// ---------------------------------------------------------------------------------------
// Mute, solo and volume

TEST(RenderMix, AnySoloSilencesEveryTrackWithoutSolo) {
    test::TempDir dir;
    writeConstantWav(dir / "a.wav", 0.25f, 2, 48000);
    writeConstantWav(dir / "b.wav", 0.125f, 2, 48000);
    Track a = audioTrack("A", {audioClip("a.wav", 0, 1)});
    Track b = audioTrack("B", {audioClip("b.wav", 0, 1)});
    EXPECT_EQ(render(song({a, b}), settingsAt(kRate, 512, dir.path())).audio.samples[0], 0.375f);
    b.solo = true;
    EXPECT_EQ(render(song({a, b}), settingsAt(kRate, 512, dir.path())).audio.samples[0], 0.125f);
}

TEST(RenderMix, ASoloedTrackPlaysEvenWhenMuted) {
    test::TempDir dir;
    writeConstantWav(dir / "a.wav", 0.25f, 2, 48000);
    Track a = audioTrack("A", {audioClip("a.wav", 0, 1)});
    a.muted = true;
    a.solo = true;
    EXPECT_EQ(render(song({a}), settingsAt(kRate, 512, dir.path())).audio.samples[0], 0.25f);
}

TEST(RenderMix, AMutedTrackIsSilentButItsWarningsAreReported) {
    Track a = audioTrack("A", {audioClip("gone.wav", 0, 1)});
    a.muted = true;
    const RenderOutput out = render(song({a}), settingsAt());
    EXPECT_EQ(out.audio.frames, 24000);
    EXPECT_EQ(peak(out.audio.samples), 0.0f);
    EXPECT_EQ(out.warnings.size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Note events

TEST(CollectNoteEvents, OnsAndOffsInTicksWithTheClipStartAdded) {
    const Track track = instrumentTrack("T", {midiClip(2, 4, {note(64, 0.5, 1, 90)})});
    const std::vector<NoteEvent> events = collectNoteEvents(track);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].tick, 2400);
    EXPECT_FALSE(events[0].off);
    EXPECT_EQ(events[0].pitch, 64);
    EXPECT_EQ(events[0].velocity, 90);
    EXPECT_EQ(events[1].tick, 3360);
    EXPECT_TRUE(events[1].off);
    EXPECT_EQ(events[1].velocity, 0);
}

TEST(CollectNoteEvents, ANoteAtOrAfterItsClipEndIsDroppedAndOneCrossingItIsCut) {
    const Track track = instrumentTrack("T", {midiClip(0, 2, {note(60, 2, 1), note(62, 1.5, 4)})});
    const std::vector<NoteEvent> events = collectNoteEvents(track);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].pitch, 62);
    EXPECT_EQ(events[1].tick, 1920);
}

TEST(CollectNoteEvents, AtOneTickTheOffComesBeforeTheOn) {
    const Track track = instrumentTrack("T", {midiClip(0, 4, {note(60, 1, 1), note(60, 0, 1)})});
    const std::vector<NoteEvent> events = collectNoteEvents(track);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].tick, 960);
    EXPECT_TRUE(events[1].off);
    EXPECT_EQ(events[2].tick, 960);
    EXPECT_FALSE(events[2].off);
}

TEST(CollectNoteEvents, VelocitiesAreBroughtIntoOneTo127) {
    const Track track = instrumentTrack("T", {midiClip(0, 4, {note(60, 0, 1, 0), note(61, 1, 1, 500)})});
    const std::vector<NoteEvent> events = collectNoteEvents(track);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].velocity, 1);
    EXPECT_EQ(events[2].velocity, 127);
}

// Regression: a note without length had its off sorted before its on and sounded to the end.
TEST(CollectNoteEvents, ANoteWithoutLengthIsDroppedRatherThanLeftSounding) {
    const Track track = instrumentTrack("T", {midiClip(0, 4, {note(60, 1, 0), note(61, 1, -2)})});
    EXPECT_TRUE(collectNoteEvents(track).empty());
}

TEST(CollectNoteEvents, ANoteShorterThanATickStillEndsAfterItStarts) {
    const Track track = instrumentTrack("T", {midiClip(0, 4, {note(62, 1, 0.0001)})});
    const std::vector<NoteEvent> events = collectNoteEvents(track);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[0].off);
    EXPECT_EQ(events[0].tick, 960);
    EXPECT_TRUE(events[1].off);
    EXPECT_EQ(events[1].tick, 961);
}

// ---------------------------------------------------------------------------------------
// Running one graph

// Records what reaches it, block by block.
class EventRecorder : public Node {
public:
    struct Seen {
        std::int64_t position;
        std::uint32_t offset;
        std::uint8_t note;
    };

    explicit EventRecorder(std::vector<Seen>* seen) : seen_(seen) {}

    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer& output) override {
        for (const Event& e : context.events) {
            seen_->push_back({context.position, e.frameOffset, e.note});
        }
        for (int c = 0; c < output.channels; ++c) {
            for (int f = 0; f < context.frames; ++f) {
                output.channel(c)[f] = static_cast<float>(context.position + f) + 0.5f * static_cast<float>(c);
            }
        }
    }

private:
    std::vector<Seen>* seen_;
};

std::unique_ptr<Graph> recorderGraph(std::vector<EventRecorder::Seen>* seen, int maxBlock, int channels) {
    GraphBuilder builder;
    builder.output = builder.addNode(std::make_unique<EventRecorder>(seen));
    std::string error;
    auto graph = builder.compile(kRate, maxBlock, channels, &error);
    EXPECT_NE(graph, nullptr) << error;
    return graph;
}

TimedEvent noteAt(std::int64_t time, std::uint8_t note) {
    TimedEvent e;
    e.time = time;
    e.event.note = note;
    return e;
}

TEST(RenderGraphOffline, EventsArriveInTheirBlockAtTheirOffsetInTimeOrder) {
    std::vector<EventRecorder::Seen> seen;
    auto graph = recorderGraph(&seen, 512, 2);
    OfflineRenderContext context;
    context.blockSize = 512;
    context.frames = 2000;
    context.events = {noteAt(1000, 2), noteAt(-5, 1), noteAt(1000, 3), noteAt(2000, 4), noteAt(1999, 5)};
    renderGraphOffline(*graph, context);
    ASSERT_EQ(seen.size(), 4u);  // the event at the end is never delivered
    EXPECT_EQ(seen[0].position, 0);
    EXPECT_EQ(seen[0].offset, 0u);
    EXPECT_EQ(seen[0].note, 1);
    EXPECT_EQ(seen[1].position, 512);
    EXPECT_EQ(seen[1].offset, 488u);
    EXPECT_EQ(seen[1].note, 2);
    EXPECT_EQ(seen[2].note, 3);  // equal times keep their order
    EXPECT_EQ(seen[3].position, 1536);
    EXPECT_EQ(seen[3].offset, 463u);
}

TEST(RenderGraphOffline, BlocksNeverExceedTheGraphsMaximumAndOutputIsInterleaved) {
    std::vector<EventRecorder::Seen> seen;
    auto graph = recorderGraph(&seen, 100, 2);
    OfflineRenderContext context;
    context.blockSize = 4096;
    context.frames = 250;
    context.events = {noteAt(150, 1)};
    const std::vector<float> out = renderGraphOffline(*graph, context);
    ASSERT_EQ(out.size(), 500u);
    for (std::size_t f = 0; f < 250; ++f) {
        ASSERT_EQ(out[2 * f], static_cast<float>(f));
        ASSERT_EQ(out[2 * f + 1], static_cast<float>(f) + 0.5f);
    }
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].position, 100);
    EXPECT_EQ(seen[0].offset, 50u);
}

TEST(RenderGraphOffline, NoFramesGiveAnEmptyResult) {
    std::vector<EventRecorder::Seen> seen;
    auto graph = recorderGraph(&seen, 64, 2);
    OfflineRenderContext context;
    context.frames = 0;
    EXPECT_TRUE(renderGraphOffline(*graph, context).empty());
    context.frames = -10;
    EXPECT_TRUE(renderGraphOffline(*graph, context).empty());
}

// ---------------------------------------------------------------------------------------
// WAV files

TEST(SaveWav, WritesTheAudioAtItsRoundedRate) {
    test::TempDir dir;
    AudioData audio;
    audio.samples = {0.5f, -0.5f, 0.25f, -0.25f};
    audio.channels = 2;
    audio.frames = 2;
    audio.sampleRate = 44099.6;
    std::string error;
    ASSERT_TRUE(saveWav(audio, dir / "out.wav", WavFormat::Float32, &error)) << error;
    AudioData back;
    ASSERT_TRUE(loadWavFile(dir / "out.wav", back, &error)) << error;
    EXPECT_EQ(back.sampleRate, 44100.0);
    EXPECT_EQ(back.samples, audio.samples);
}

TEST(SaveWav, ARateTheFileCannotHoldFailsWithAReason) {
    test::TempDir dir;
    AudioData audio;
    audio.samples = {0.5f, 0.5f};
    audio.frames = 1;
    audio.sampleRate = std::numeric_limits<double>::quiet_NaN();
    std::string error;
    EXPECT_FALSE(saveWav(audio, dir / "out.wav", WavFormat::Pcm16, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

}  // namespace
}  // namespace ostrel::engine
