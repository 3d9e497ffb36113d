#include "playback/render/NoteEvents.h"
#include "playback/render/SongRenderer.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstring>
#include <limits>

#include "devices/instruments/InstrumentConfig.h"
#include "devices/patches/PatchGraph.h"
#include "devices/patches/PolyphonicPatch.h"
#include "engine/graph/GraphRunner.h"
#include "playback/render/StemMixer.h"
#include "playback/SongHarness.h"
#include "support/AllocationCounter.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace harness;
using model::Track;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char* const kTooLong = "the song is too long to render (more than 60 minutes)";

RenderSettings settingsAt(double rate = kRate, const std::filesystem::path& folder = {}) {
    RenderSettings s;
    s.sampleRate = rate;
    s.samplesFolder = folder;
    return s;
}

RenderOutput render(const model::Project& project, const RenderSettings& settings = settingsAt()) {
    RenderOutput out;
    std::string error;
    EXPECT_TRUE(renderProject(project, settings, &out, &error)) << error;
    return out;
}

std::string renderError(const model::Project& project, const RenderSettings& settings = settingsAt()) {
    RenderOutput out;
    out.audio.frames = -7;  // a failed render must leave the output alone
    std::string error;
    EXPECT_FALSE(renderProject(project, settings, &out, &error));
    EXPECT_EQ(out.audio.frames, -7);
    return error;
}

model::Device effect(const std::string& type) {
    model::Device d;
    d.id = model::Uuid::generate();
    d.typeId = type;
    return d;
}

// Songs of audio clips over a folder holding "c.wav", a constant 0.25 for one second.
class AudioSongs : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 2, 48000)); }
    RenderOutput play(std::vector<Track> tracks) { return render(song(std::move(tracks)), settingsAt(kRate, dir.path())); }
    test::TempDir dir;
};

TEST(RenderLength, OneBeatNoteAt120BpmIsTheNoteAndTwoSecondsOfReleaseAtEveryRate) {
    for (double rate : kRates) {
        const RenderOutput out = render(song({oneNote()}), settingsAt(rate));
        EXPECT_EQ(out.audio.frames, static_cast<std::int64_t>(rate * 2.5)) << rate;  // 24000 + 96000 at 48 kHz
        EXPECT_GT(peak(out.audio.samples, 0, static_cast<std::int64_t>(rate)), 0.01);
    }
    EXPECT_EQ(render(song({oneNote()}, 60.0)).audio.frames, 48000 + 96000) << "tempo 60 doubles the note";
    EXPECT_EQ(render(song({instrumentTrack("Lead", {midiClip(0, 2, {songNote(60, 1, 8)})})})).audio.frames, 48000 + 96000)
        << "a note crossing its clip end is cut there";
}

TEST(RenderLength, AnEnabledEffectAddsFourSecondsOfTail) {
    Track track = oneNote();
    track.devices.push_back(effect("ostrel.delay"));
    EXPECT_EQ(render(song({track})).audio.frames, 24000 + 96000 + 192000);
}

// Regression: the tempo map divided by whatever tempo a project file held.
TEST(RenderUntrustedValues, TempoIsClampedToTwentyToThreeHundredAndNotANumberPlaysAt120) {
    for (const auto& [bpm, noteFrames] : {std::pair{0.0, 144000}, {-120.0, 144000}, {1e6, 9600},
                                          {std::numeric_limits<double>::infinity(), 9600}, {kNaN, 24000}})
        EXPECT_EQ(render(song({oneNote()}, bpm)).audio.frames, noteFrames + 96000) << bpm;
}

// Regression: an absurd position or length asked for a buffer of its whole size.
TEST(RenderUntrustedValues, ASongLongerThanAnHourFailsWithAClearError) {
    EXPECT_EQ(renderError(song({instrumentTrack("Lead", {midiClip(1e9, 4, {songNote(60, 0, 1)})})})), kTooLong);
    EXPECT_EQ(renderError(song({audioTrack("Audio", {audioClip("a.wav", 1e12, 4)})})), kTooLong);
}

// Regressions: pitches outside 0..127 indexed the voices' key marks; a note of no length
// had its off sorted before its on and sounded to the end; one shorter than a tick too.
TEST(CollectNoteEvents, TicksFromTheClipStartWithVelocityClampedAndOnlyPlayableNotes) {
    const Track track = instrumentTrack("T", {midiClip(2, 2, {songNote(60, 0, 0.5), songNote(64, 0.5, 1, 0),
                                                              songNote(61, 1.5, 4, 500), songNote(200, 0, 1),
                                                              songNote(-3, 0, 1), songNote(60, 0, 0), songNote(60, 0, -2),
                                                              songNote(62, 2, 1)})});
    const std::vector<NoteEvent> events = collectNoteEvents(track);
    ASSERT_EQ(events.size(), 6u);
    EXPECT_EQ(events[0].tick, 1920);
    EXPECT_TRUE(events[1].off && events[1].tick == 2400) << "at one tick the off comes before the on";
    EXPECT_TRUE(events[2].pitch == 64 && events[2].velocity == 1);
    EXPECT_EQ(events[4].velocity, 127);
    EXPECT_EQ(events[5].tick, 3840) << "cut at the clip end";
    const std::vector<NoteEvent> tiny = collectNoteEvents(instrumentTrack("T", {midiClip(0, 4, {songNote(62, 1, 0.0001)})}));
    ASSERT_EQ(tiny.size(), 2u);
    EXPECT_TRUE(tiny[1].off && tiny[1].tick == 961);
}

TEST_F(AudioSongs, AConstantSoundRendersToExactlyThatValueAndHalfOfItAtVolumeHalf) {
    Track track = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    RenderOutput out = play({track});
    EXPECT_EQ(out.audio.samples, std::vector<float>(24000 * 2, 0.25f));  // the clip's length; no effect, no tail
    track.volume = 0.5;
    EXPECT_EQ(play({track}).audio.samples, std::vector<float>(24000 * 2, 0.125f));
    // Regression: a volume that is not a number made the whole mix NaN.
    track.volume = kNaN;
    EXPECT_EQ(play({track, audioTrack("Good", {audioClip("c.wav", 0, 1)})}).audio.samples[0], 0.25f);
}

TEST_F(AudioSongs, ClipsPlayFromTheirOffsetAndNeverBeforeTheSongStart) {
    std::vector<float> ramp;  // frame i holds i / 1e6
    for (int i = 0; i < 48000; ++i) ramp.insert(ramp.end(), 2, static_cast<float>(i) * 1e-6f);
    ASSERT_TRUE(writeWavFile(dir / "r.wav", ramp, 2, 48000, WavFormat::Float32, nullptr));
    RenderOutput out = play({audioTrack("Audio", {audioClip("r.wav", 1, 1, 0.1)})});
    EXPECT_TRUE(out.audio.samples[2 * 23999] == 0.0f && out.audio.samples[2 * 24000] == 4800 * 1e-6f);
    // Regression: a clip half a beat before beat 0 wrote before the start of the buffer.
    out = play({audioTrack("Audio", {audioClip("r.wav", -0.5, 1)})});
    ASSERT_EQ(out.audio.frames, 12000);
    EXPECT_FLOAT_EQ(out.audio.samples[0], 12000 * 1e-6f);
}

TEST_F(AudioSongs, FilesThatCannotBeUsedAddTheirLengthAndWarnOnceAndOddNamesAreNeverOpened) {
    Track drums = audioTrack("Drums", {audioClip("gone.wav", 0, 1), audioClip("gone.wav", 1, 1)});
    RenderOutput out = play({drums});
    EXPECT_EQ(out.audio.frames, 48000);
    ASSERT_EQ(out.warnings.size(), 1u) << "once per name";
    EXPECT_TRUE(out.warnings[0].starts_with("track \"Drums\": the audio file \"gone.wav\" could not be used (") &&
                out.warnings[0].ends_with("); skipped"));
    std::filesystem::create_directories(dir / "inner");
    out = render(song({audioTrack("Audio", {audioClip("../c.wav", 0, 1)})}), settingsAt(kRate, dir / "inner"));
    EXPECT_EQ(peak(out.audio.samples), 0.0);
    EXPECT_EQ(out.warnings, std::vector<std::string>{"track \"Audio\": \"../c.wav\" is not a plain file name; skipped"});
}

TEST_F(AudioSongs, UnknownEffectsOrInstrumentsFailTheRender) {
    Track track = audioTrack("Audio", {audioClip("c.wav", 0, 1)});
    track.devices.push_back(effect("ostrel.flanger"));
    EXPECT_EQ(renderError(song({track}), settingsAt(kRate, dir.path())), "track \"Audio\": unknown effect \"ostrel.flanger\"");
    EXPECT_EQ(renderError(song({instrumentTrack("Keys", {}, "Theremin")})), "track \"Keys\": unknown instrument patch \"Theremin\"");
}

TEST_F(AudioSongs, AnySoloSilencesTheOthersEvenOverMuteAndAMutedTrackStillLengthensTheRender) {
    ASSERT_TRUE(writeConstantWav(dir / "b.wav", 0.125f, 2, 48000));
    Track a = audioTrack("A", {audioClip("c.wav", 0, 1)});
    Track b = audioTrack("B", {audioClip("b.wav", 0, 1)});
    EXPECT_EQ(play({a, b}).audio.samples[0], 0.375f);
    b.solo = true;
    b.muted = true;
    EXPECT_EQ(play({a, b}).audio.samples[0], 0.125f);
    a.muted = true;
    EXPECT_EQ(play({a}).audio.samples, std::vector<float>(24000 * 2, 0.0f));
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Three seconds (many pieces of every stem) of instruments through effects, audio clips
// (one through an effect), volumes, a muted track and overlapping sounds.
std::vector<Track> busyTracks() {
    Track lead = instrumentTrack("Lead", {midiClip(0, 4, {songNote(60, 0, 1), songNote(67, 1, 2), songNote(64, 3, 0.5)})});
    lead.devices.push_back(effect("ostrel.delay"));
    lead.volume = 0.7;
    Track bass = instrumentTrack("Bass", {midiClip(0, 2, {songNote(36, 0, 0.5), songNote(43, 0.5, 0.5)})}, "Modular Bass");
    Track pad = instrumentTrack("Pad", {midiClip(1, 2, {songNote(60, 0, 2), songNote(64, 0, 2)})}, "Modular Pad");
    pad.devices.push_back(effect("ostrel.reverb"));
    pad.volume = 0.3;
    Track loops = audioTrack("Loops", {audioClip("c.wav", 0, 2), audioClip("c.wav", 1, 2, 0.1), audioClip("r.wav", 2, 2)});
    loops.devices.push_back(effect("ostrel.delay"));
    loops.volume = 0.9;
    Track muted = instrumentTrack("Muted", {midiClip(0, 4, {songNote(72, 0, 4)})});
    muted.muted = true;
    // The sample instruments run in parts too, each part with its sounds.
    Track sampler = instrumentTrack("Sampler", {midiClip(0, 3, {songNote(60, 0, 1), songNote(67, 0.5, 2)})}, "Sampler");
    sampler.instrumentConfig = nlohmann::json{{"sample", "r.wav"}};
    sampler.devices.push_back(effect("ostrel.chorus"));
    Track rack = instrumentTrack("Rack", {midiClip(0, 3, {songNote(36, 0, 0.5), songNote(37, 1, 0.5), songNote(36, 2, 1)})},
                                 "Drum Rack");
    rack.instrumentConfig = nlohmann::json{{"pads", {{{"note", 36}, {"sample", "c.wav"}}, {{"note", 37}, {"sample", "r.wav"}}}}};
    rack.volume = 0.4;
    return {lead, loops, bass, muted, pad, audioTrack("Plain", {audioClip("r.wav", 0.5, 3)}), sampler, rack};
}

class ThreadedSongs : public AudioSongs {
protected:
    void SetUp() override {
        AudioSongs::SetUp();
        std::vector<float> ramp;
        for (int i = 0; i < 96000; ++i) ramp.insert(ramp.end(), {static_cast<float>(i) * 3e-6f, -static_cast<float>(i) * 1e-6f});
        ASSERT_TRUE(writeWavFile(dir / "r.wav", ramp, 2, 48000, WavFormat::Float32, nullptr));
    }
    RenderSettings settingsOn(int threads) {
        RenderSettings s = settingsAt(kRate, dir.path());
        s.threads = threads;
        return s;
    }
    RenderOutput renderOn(const model::Project& project, int threads) { return render(project, settingsOn(threads)); }
};

TEST_F(ThreadedSongs, EveryThreadCountRendersTheSameSamplesBitForBit) {
    const model::Project project = song(busyTracks());
    const RenderOutput one = renderOn(project, 1);
    ASSERT_GT(one.audio.frames, 3 * 48000);
    ASSERT_GT(peak(one.audio.samples), 0.1);
    for (int threads : {2, 3, 8, 0}) {
        const RenderOutput many = renderOn(project, threads);
        EXPECT_TRUE(sameBits(many.audio.samples, one.audio.samples)) << threads << " threads";
        EXPECT_EQ(many.warnings, one.warnings);
    }
}

TEST_F(ThreadedSongs, TheMixIsEveryHeardTrackAloneAddedInTrackOrder) {
    std::vector<Track> tracks = busyTracks();
    const RenderOutput mix = renderOn(song(tracks), 3);
    std::vector<float> sum(mix.audio.samples.size(), 0.0f);
    for (std::size_t k = 0; k < tracks.size(); ++k) {
        if (tracks[k].muted) {
            continue;
        }
        std::vector<Track> alone = tracks;
        alone[k].solo = true;
        const RenderOutput part = renderOn(song(alone), 2);
        ASSERT_EQ(part.audio.samples.size(), sum.size());
        for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += part.audio.samples[i];
    }
    EXPECT_TRUE(sameBits(mix.audio.samples, sum));
}

TEST_F(ThreadedSongs, TheFirstFaultInTrackOrderIsReportedWhateverTheThreads) {
    std::vector<Track> tracks = busyTracks();
    tracks[1].devices.push_back(effect("ostrel.flanger"));
    tracks[4].devices.push_back(effect("ostrel.phaser"));
    for (int threads : {1, 4, 8}) {
        EXPECT_EQ(renderError(song(tracks), settingsOn(threads)), "track \"Loops\": unknown effect \"ostrel.flanger\"")
            << threads;
    }
    // A track that cannot be built before one that is too long: the build fault comes first.
    tracks = {tracks[0], tracks[1], audioTrack("Late", {audioClip("a.wav", 1e9, 4)})};
    EXPECT_EQ(renderError(song(tracks), settingsAt(kRate, dir.path())), "track \"Loops\": unknown effect \"ostrel.flanger\"");
}

// A track runs in parts (halves of its voices, or the instrument before its effects) so
// several threads can share it: the frames and warnings are still those of the
// instrument and its effects built as one patch.
TEST(RenderInParts, ATrackInPartsSoundsAsItsWholePatch) {
    model::Device delay = effect("ostrel.delay");
    delay.name = "Slap";
    delay.parameters = {{"feedback", 0.6}, {"wobble", 1.0}};
    model::Device off = effect("ostrel.chorus");
    off.enabled = false;
    struct Case {
        const char* instrument;
        std::vector<model::Device> devices;
        std::size_t parts;
    };
    const Case cases[] = {
        {"Modular Pad", {delay, off, effect("ostrel.reverb")}, 2},
        {"Modular Pad", {}, 2},
        {"FM E-Piano", {effect("ostrel.chorus")}, 2},
        {"Modular Drums", {effect("ostrel.compressor")}, 3},  // the kit's own groups of drums
        {"Modular Drums", {}, 3},
    };
    for (const Case& c : cases) {
        Track track = instrumentTrack("T", {midiClip(0, 8, {songNote(36, 0, 4), songNote(38, 0, 4), songNote(64, 2, 5),
                                                            songNote(67, 2.5, 0.5), songNote(42, 3, 1)})},
                                      c.instrument);
        track.devices = c.devices;
        for (std::uint32_t block : {512u, 300u}) {
            const std::string where = std::string(c.instrument) + ", " + std::to_string(c.devices.size()) +
                                      " devices, " + std::to_string(block) + "-frame blocks";
            RenderSettings settings = settingsAt();
            settings.blockSize = block;
            settings.threads = 2;
            const RenderOutput out = render(song({track}), settings);

            Patch patch;
            ASSERT_TRUE(makeInstrumentPatch(track.instrumentPatch, nlohmann::json::object(), {}, patch, nullptr, nullptr));
            Patch whole = makePolyphonicPatch(patch, 1.0f, VoiceEffects::None, patch.voices, nullptr);
            int id = 0;
            for (const PatchNode& node : whole.nodes) id = std::max(id, node.id + 1);
            for (const model::Device& device : c.devices) {
                if (!device.enabled) continue;
                PatchNode node;
                node.id = id++;
                node.device = device.typeId;
                node.label = device.name;
                node.parameters = device.parameters;
                whole.nodes.push_back(node);
                whole.connections.push_back({whole.output, node.id, 0});
                whole.output = node.id;
            }
            PatchGraph built = buildPatchGraph(whole, kRate, block, 2, nullptr);
            ASSERT_TRUE(built.graph);
            TrackStem stem;
            ASSERT_TRUE(renderInstrumentTrack(track, TempoMap({TempoPoint{0, 120.0}}, {}), settings, &stem, nullptr));
            EXPECT_EQ(stem.parts.size(), c.parts) << where;
            EXPECT_TRUE(stem.join && !stem.graph) << where;
            TrackStem alone;  // one thread runs it whole
            settings.threads = 1;
            ASSERT_TRUE(renderInstrumentTrack(track, TempoMap({TempoPoint{0, 120.0}}, {}), settings, &alone, nullptr));
            EXPECT_TRUE(alone.graph && alone.parts.empty() && !alone.join) << where;
            OfflineRenderContext context;
            context.sampleRate = kRate;
            context.blockSize = block;
            context.frames = out.audio.frames;
            context.events = stem.events;
            const std::vector<float> expected = renderGraphOffline(*built.graph, context);

            EXPECT_GT(peak(expected), 0.05) << where;
            EXPECT_TRUE(sameBits(out.audio.samples, expected)) << where;
            EXPECT_EQ(out.warnings, built.warnings) << where;
        }
    }
    // The warnings of a patch cut in parts are those of the whole patch, once.
    Track pad = instrumentTrack("Pad", {midiClip(0, 1, {songNote(60, 0, 1)})}, "Modular Pad");
    pad.devices = {delay};
    const RenderOutput out = render(song({pad}));
    ASSERT_EQ(out.warnings.size(), 1u);
    EXPECT_NE(out.warnings[0].find(" (Slap) has no knob called \"wobble\"; skipped"), std::string::npos);
}

// Regression: an audio track made a buffer of its whole length before looking for its
// sound and every track's buffer was kept until the mix: four clips 50 minutes in took
// 4.4 GB (1.15 GB a track at 48 kHz) for a render of 0.1 s.
TEST_F(AudioSongs, ClipsFarIntoTheSongCostTheRenderNotTheSongInMemory) {
    std::vector<Track> tracks;
    for (const char* file : {"gone.wav", "gone.wav", "lost.wav", "c.wav"}) {
        tracks.push_back(audioTrack("Far", {audioClip(file, 50 * 120, 4)}));  // 50 minutes at 120 BPM
    }
    tracks.back().devices.push_back(effect("ostrel.delay"));
    RenderSettings s = settingsAt(kRate, dir.path());
    s.frames = 4800;
    s.threads = 1;  // the counter sees the calling thread
    test::AllocationCounter counter;
    const RenderOutput out = render(song(tracks), s);
    EXPECT_EQ(out.audio.frames, 4800);
    EXPECT_EQ(out.warnings.size(), 3u);
    EXPECT_LT(counter.peakBytes(), std::size_t{4} << 20);
}

// The same fault over a long render: the peak is the output and a small amount beside it,
// however many tracks there are (each used to add a buffer as long as the output).
TEST_F(AudioSongs, ALongRenderHoldsItsOutputAndNoTrackBufferOfItsLength) {
    std::vector<Track> tracks;
    for (int t = 0; t < 8; ++t) {
        std::vector<model::Clip> clips;
        for (int beat = 0; beat < 120; beat += 2) clips.push_back(audioClip("c.wav", beat + t * 0.25, 2));
        tracks.push_back(audioTrack("Loop", std::move(clips)));
    }
    RenderSettings s = settingsAt(kRate, dir.path());
    s.threads = 1;
    test::AllocationCounter counter;
    const RenderOutput out = render(song(tracks), s);
    const std::size_t outputBytes = out.audio.samples.size() * sizeof(float);
    ASSERT_GT(out.audio.frames, 60 * 48000);
    EXPECT_LT(counter.peakBytes(), outputBytes + (std::size_t{4} << 20)) << "output " << outputBytes;
}

// ---- Rendered for playback from later in the song -----------------------------------------

// Play from `from`: the track as the render leaves it.
std::shared_ptr<BackingTrack> renderedToPlay(const model::Project& project, std::int64_t from,
                                            const std::filesystem::path& folder = {}) {
    auto track = std::make_shared<BackingTrack>();
    PlaybackRender render;
    render.from = from;
    std::string error;
    EXPECT_TRUE(renderForPlayback(project, settingsAt(kRate, folder), render, *track, nullptr, &error)) << error;
    return track;
}

// The level of frames [first, first + count) of a track, against the same frames of a song.
double levelRatio(const BackingTrack::View& track, const AudioData& song, std::int64_t first, std::int64_t count) {
    double heard = 0.0;
    double whole = 0.0;
    for (std::int64_t f = first; f < first + count; ++f) {
        for (std::int32_t c = 0; c < song.channels; ++c) {
            heard += std::pow(track.at(f, c), 2.0);
            whole += std::pow(song.samples[static_cast<std::size_t>(f * song.channels + c)], 2.0);
        }
    }
    return std::sqrt(heard / whole);
}

bool sameFrames(const BackingTrack::View& track, const AudioData& song, std::int64_t first) {
    return track.frames == song.frames &&
           std::memcmp(track.samples + first * track.channels, song.samples.data() + first * song.channels,
                       static_cast<std::size_t>((song.frames - first) * song.channels) * sizeof(float)) == 0;
}

TEST_F(AudioSongs, PlayFromLaterPublishesFromThePieceBeforeItAndClipsWithoutEffectsAreExact) {
    std::vector<model::Clip> clips;
    for (int i = 0; i < 8; ++i) {
        clips.push_back(audioClip("c.wav", 2.0 * i, 2.0));
    }
    const model::Project project = song({audioTrack("Loop", clips)});
    const RenderOutput whole = play(project.tracks());
    const std::int64_t from = 158400;  // 3.3 s
    const std::shared_ptr<BackingTrack> track = renderedToPlay(project, from, dir.path());
    const BackingTrack::View played = track->view();
    EXPECT_EQ(played.from, from / mixPieceFrames(512) * mixPieceFrames(512));
    EXPECT_TRUE(played.ready(played.from, played.frames));
    EXPECT_FALSE(played.ready(played.from - 1, 1)) << "nothing before is rendered";
    EXPECT_TRUE(sameFrames(played, whole.audio, played.from));
}

// What sounds into the start is there: a note held into it is rendered from its onset
// (so exactly), one held from before the longest pre-roll starts again there, and the
// echoes of a note that ended before the start still sound.
TEST(PlayFromLater, WhatSoundsIntoTheStartIsRendered) {
    const std::int64_t second = static_cast<std::int64_t>(kRate);
    model::Track echoes = instrumentTrack("Lead", {midiClip(0, 40, {songNote(64, 20, 1)})});
    echoes.devices.push_back(effect("ostrel.delay"));
    const struct Case {
        const char* what;
        model::Track track;
        std::int64_t from;
        bool exact;
    } cases[] = {
        {"held into the start", instrumentTrack("Pad", {midiClip(0, 16, {songNote(57, 0, 16)})}, "Modular Pad"),
         6 * second, true},
        {"held from before the pre-roll",
         instrumentTrack("Pad", {midiClip(0, 80, {songNote(57, 0, 80)})}, "Modular Pad"), 30 * second, false},
        {"echoes of a note before the start", echoes, 11 * second, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const model::Project project = song({c.track});
        const RenderOutput whole = render(project);
        const std::shared_ptr<BackingTrack> track = renderedToPlay(project, c.from);
        const BackingTrack::View played = track->view();
        ASSERT_TRUE(played.ready(played.from, played.frames));
        if (c.exact) {
            EXPECT_TRUE(sameFrames(played, whole.audio, played.from));
        }
        // The same sound, if not the same samples: its oscillators started elsewhere.
        EXPECT_NEAR(levelRatio(played, whole.audio, c.from, second), 1.0, 0.15);
    }
}

}  // namespace
}  // namespace ostrel::engine
