#include "app/sound/TransportController.h"

#include "AudioTestSupport.h"
#include "platform/Backends.h"
#include "platform/NullAudioBackend.h"
#include "playback/AudioEngine.h"
#include "support/AllocationCounter.h"
#include "support/JackServer.h"

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <span>
#include <thread>

using namespace ostrel;
using namespace ostrel::test;
using app::TransportController;

namespace {

constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::int64_t framesOf(double beats, double bpm) { return std::llround(beats * 48000.0 * 60.0 / bpm); }

class TransportControllerTest : public ::testing::Test, public AudioFixture {
protected:
    // Plays the open card by hand, in periods of at most 512 frames.
    void render(std::int64_t frames) {
        std::vector<float> out(1024);
        for (; frames > 0; frames -= 512) {
            card->callback(card->user, out.data(), static_cast<std::uint32_t>(std::min<std::int64_t>(frames, 512)));
        }
    }
    // Plays from the start beat and shows the position after so many beats at the tempo.
    void playTo(double beats) {
        transport.play();
        ASSERT_TRUE(transport.playing());
        render(framesOf(beats - transport.startBeat(), transport.tempo()));
        transport.tick();
    }

    TransportController transport{audio, log.logger, &settings};
};

// --- Position ---

TEST(TransportPositionText, BarBeatAndSixteenthCountFromOne) {
    const std::pair<double, const char*> cases[] = {
        {0.0, "1.1.1"},   {0.2499, "1.1.1"},   {0.25, "1.1.2"}, {3.999999, "1.4.4"}, {4.0, "2.1.1"},
        {5.5, "2.2.3"},   {15.999, "4.4.4"},   {16.0, "5.1.1"}, {-0.5, "1.1.1"},     {kNan, "1.1.1"},
    };
    for (const auto& [beats, text] : cases) EXPECT_EQ(TransportController::formatPosition(beats), text) << beats;
    EXPECT_FALSE(TransportController::formatPosition(1e300).isEmpty());
    EXPECT_FALSE(TransportController::formatPosition(kInf).isEmpty());
}

TEST_F(TransportControllerTest, TickShowsTheEnginesPositionAcrossABarLine) {
    playTo(4.0 - 1.0 / 24000.0);  // one frame before the second bar
    EXPECT_EQ(transport.positionText(), "1.4.4");
    EXPECT_EQ(transport.beat(), 4);
    QSignalSpy position(&transport, &TransportController::positionChanged);
    QSignalSpy beat(&transport, &TransportController::beatChanged);
    QSignalSpy beats(&transport, &TransportController::beatsChanged);

    render(1);
    transport.tick();
    EXPECT_EQ(transport.positionText(), "2.1.1");
    EXPECT_EQ(transport.beat(), 1);
    EXPECT_DOUBLE_EQ(transport.positionBeats(), 4.0);

    transport.tick();  // nothing moved: only the beats are announced again
    EXPECT_EQ(position.count(), 1);
    EXPECT_EQ(beat.count(), 1);
    EXPECT_EQ(beats.count(), 2);
}

TEST_F(TransportControllerTest, PositionFollowsTempoAndStartBeat) {
    struct Case { double tempo, start, beats; const char* text; int beat; };
    for (const Case& c : {Case{120, 0, 5.5, "2.2.3", 2}, Case{300, 0, 5.0, "2.2.1", 2}, Case{20, 0, 2.75, "1.3.4", 3},
                          Case{120, 6, 6.5, "2.3.3", 3}}) {
        transport.stop();
        transport.setTempo(c.tempo);
        transport.setStartBeat(c.start);
        playTo(c.beats);
        EXPECT_EQ(transport.positionText(), c.text) << c.tempo;
        EXPECT_EQ(transport.beat(), c.beat) << c.tempo;
        EXPECT_DOUBLE_EQ(transport.positionBeats(), c.beats) << c.tempo;
        EXPECT_EQ(audio.engine().transport().startBeat(), c.start);
    }
}

TEST_F(TransportControllerTest, TempoChangeWhilePlayingKeepsThePositionInBeats) {
    playTo(5.0);
    transport.setTempo(150);
    render(480);  // 0.025 beats at 150
    transport.tick();
    EXPECT_NEAR(transport.positionBeats(), 5.025, 1e-4);
    EXPECT_EQ(transport.positionText(), "2.2.1");
}

// Regression: the tick right after play showed the position the audio thread had before it
// took the play (0 from a stop, the old place on a replay) instead of the start beat.
TEST_F(TransportControllerTest, UntilTheAudioThreadTakesThePlayTheStartBeatIsShown) {
    transport.setStartBeat(6);
    transport.play();
    EXPECT_EQ(transport.positionText(), "2.3.1");
    EXPECT_EQ(transport.positionBeats(), 6.0);
    EXPECT_EQ(transport.beat(), 3);

    render(framesOf(3.0, 120));
    transport.tick();
    ASSERT_EQ(transport.positionText(), "3.2.1");
    QSignalSpy about(&transport, &TransportController::aboutToPlay);
    transport.play();  // again while playing: starts over
    EXPECT_EQ(about.count(), 1);
    EXPECT_EQ(transport.positionBeats(), 6.0);
    EXPECT_EQ(transport.positionText(), "2.3.1");
    render(512);
    transport.tick();
    EXPECT_EQ(transport.positionText(), "2.3.1");
}

// --- Play and stop ---

TEST_F(TransportControllerTest, PlayOpensTheCardAnnouncesThenRuns) {
    EXPECT_EQ(card->opens, 0);  // the card waits for play
    QStringList order;
    QObject::connect(&transport, &TransportController::aboutToPlay,
                     [&] { order << (transport.playing() ? "aboutToPlay while playing" : "aboutToPlay"); });
    QObject::connect(&transport, &TransportController::playingChanged, [&] { order << "playingChanged"; });
    card->openError = "could not open the sound card: none";
    transport.play();  // without a usable card nothing changes
    EXPECT_FALSE(transport.playing());
    EXPECT_FALSE(audio.engine().playing());
    EXPECT_TRUE(audio.problem());
    EXPECT_TRUE(order.isEmpty());
    card->openError.clear();

    transport.togglePlay();

    EXPECT_EQ(order, QStringList({"aboutToPlay", "playingChanged"}));
    EXPECT_TRUE(transport.playing());
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_TRUE(audio.engine().playing());
    EXPECT_EQ(transport.beat(), 1);  // the first tick ran at once
    EXPECT_TRUE(stepRecorded("action", "begin: Transport > play"));
}

TEST_F(TransportControllerTest, PlayWithTheTestToneOnSwitchesTheToneOffFirst) {
    audio.setTestTone(true);
    transport.play();
    EXPECT_FALSE(audio.testToneOn());
    EXPECT_TRUE(transport.playing());
    tickAt(1000);  // the tone's quick close does not apply to the transport's card
    EXPECT_TRUE(audio.engineRunning());
}

// --- The card while the clock runs ---

TEST_F(TransportControllerTest, ClockKeepsTheCardOpenOnceASecond) {
    transport.play();  // its first tick
    clock.ms = 59000;
    for (int i = 1; i < TransportController::kTicksPerKeepAlive; ++i) transport.tick();
    tickAt(60000);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(119000);
    EXPECT_FALSE(audio.engineRunning());
}

TEST_F(TransportControllerTest, CardClosedUnderTheClockStopsItWithAWarning) {
    transport.play();
    for (int i = 2; i < TransportController::kTicksPerKeepAlive; ++i) transport.tick();  // one short of a keep-alive
    tickAt(60000);
    ASSERT_FALSE(audio.engineRunning());
    QSignalSpy playing(&transport, &TransportController::playingChanged);

    transport.tick();

    EXPECT_FALSE(transport.playing());
    EXPECT_EQ(playing.count(), 1);
    EXPECT_TRUE(logged(core::LogLevel::WARN, "transport",
                       "the sound card stopped while the clock was running: stopping the clock"));
}

// --- Tempo ---

TEST_F(TransportControllerTest, TempoIsRoundedToATenthAndClamped) {
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.setTempo(120.04);
    transport.setTempo(kNan);
    EXPECT_EQ(transport.tempo(), 120.0);
    EXPECT_EQ(tempo.count(), 0);
    transport.setTempo(120.06);
    EXPECT_DOUBLE_EQ(transport.tempo(), 120.1);
    transport.setTempo(500);
    EXPECT_EQ(transport.tempo(), 300.0);
    transport.setTempo(5);
    EXPECT_EQ(transport.tempo(), 20.0);
    EXPECT_EQ(tempo.count(), 3);
    EXPECT_EQ(audio.engine().tempo(), 20.0);
}

TEST_F(TransportControllerTest, TempoIsStoredOnlyWhenCommittedOrNudgedAndReadBackUnrounded) {
    transport.setTempo(300);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 120.0);
    transport.commitTempo();
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 300.0);
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.nudgeTempo(1);  // at the top: no change, nothing announced
    EXPECT_EQ(tempo.count(), 0);
    transport.nudgeTempo(-0.5);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 299.5);

    ASSERT_TRUE(settings.setValue("transport.tempo", 123.456));
    ASSERT_TRUE(settings.setValue("transport.metronome", true));
    const TransportController second(audio, log.logger, &settings);
    EXPECT_EQ(second.tempo(), 123.456);
    EXPECT_TRUE(second.metronome());
}

TEST_F(TransportControllerTest, WithoutSettingsNothingIsStored) {
    TransportController headless(audio, log.logger, nullptr);
    headless.setTempo(100);
    headless.commitTempo();
    headless.setMetronome(true);
    headless.tapTempo(0);
    headless.tapTempo(500);
    EXPECT_EQ(headless.tempo(), 120.0);
    EXPECT_TRUE(headless.metronome());
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 120.0);
    EXPECT_FALSE(settings.value("transport.metronome").toBool());
}

TEST_F(TransportControllerTest, TapTempoAveragesTheLastSixTapsWithinTwoSecondPauses) {
    struct Case { std::vector<std::int64_t> taps; double tempo; };
    const Case cases[] = {
        {{0}, 110.0},                                        // one tap is no tempo yet
        {{0, 500, 1000}, 120.0},
        {{0, 700}, 85.7},
        {{0, 1000, 1500, 2000, 2500, 3000, 3500}, 120.0},    // 102.9 if the first tap counted
        {{0, 2000}, 30.0},                                   // exactly two seconds still counts
        {{0, 2000, 4001}, 30.0},                             // a longer pause starts over
        {{0, 2000, 4001, 4601}, 100.0},
        {{100, 100}, 110.0},                                 // no time between taps
    };
    std::int64_t base = 0;
    for (const Case& c : cases) {
        transport.setTempo(110);
        base += 100000;  // far from the last row's taps
        for (std::int64_t ms : c.taps) transport.tapTempo(base + ms);
        EXPECT_DOUBLE_EQ(transport.tempo(), c.tempo) << c.taps.size() << " taps ending " << c.taps.back();
    }
    // The last tempo that changed by taps is stored; one that equals the engine's is stored too.
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 100.0);
    transport.setTempo(120);
    ASSERT_TRUE(settings.setValue("transport.tempo", 90.0));
    transport.tapTempo(base + 10000);
    transport.tapTempo(base + 10500);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 120.0);
}

// --- Loop and start beat ---

TEST_F(TransportControllerTest, LoopReachesTheEngineAndIsAtLeastAQuarterBeatNeverNegative) {
    QSignalSpy loop(&transport, &TransportController::loopChanged);
    transport.setLoopEnabled(true);
    transport.setLoopEnabled(true);
    EXPECT_EQ(loop.count(), 1);
    EXPECT_TRUE(audio.engine().transport().loop().enabled);
    EXPECT_EQ(audio.engine().transport().loop().endBeats, 16.0);
    transport.setLoopEnabled(false);
    EXPECT_FALSE(audio.engine().transport().loop().enabled);

    const std::array<double, 4> cases[] = {{4, 4, 4, 4.25}, {kNan, kNan, 0, 0.25}, {2, kInf, 2, 2.25}, {-2, 8, 0, 8}};
    for (const auto& [start, end, wantStart, wantEnd] : cases) {
        transport.setLoopRange(start, end);
        EXPECT_EQ(transport.loopStart(), wantStart) << start << ".." << end;
        EXPECT_EQ(transport.loopEnd(), wantEnd) << start << ".." << end;
    }
    loop.clear();
    transport.setLoopRange(-2, 8);  // announced even when unchanged
    EXPECT_EQ(loop.count(), 1);
    const auto& engineLoop = audio.engine().transport().loop();
    EXPECT_TRUE(engineLoop.enabled);
    EXPECT_EQ(engineLoop.startBeats, 0.0);
    EXPECT_EQ(engineLoop.endBeats, 8.0);
}

TEST_F(TransportControllerTest, PlayingPositionWrapsAtTheLoopEnd) {
    transport.setLoopRange(1, 3);
    playTo(2.5);
    EXPECT_EQ(transport.positionText(), "1.3.3");
    render(framesOf(1.0, 120));  // 3.5 wraps to 1.5
    transport.tick();
    EXPECT_DOUBLE_EQ(transport.positionBeats(), 1.5);
    EXPECT_EQ(transport.positionText(), "1.2.3");
}

TEST_F(TransportControllerTest, StartBeatShowsWhileStoppedIsNeverNegativeAndWaitsForTheNextPlay) {
    QSignalSpy position(&transport, &TransportController::positionChanged);
    QSignalSpy start(&transport, &TransportController::startBeatChanged);
    transport.setStartBeat(6);
    EXPECT_EQ(transport.positionText(), "2.3.1");
    transport.setStartBeat(-3);
    transport.setStartBeat(-3);
    EXPECT_EQ(transport.startBeat(), 0.0);
    EXPECT_EQ(transport.positionText(), "1.1.1");
    EXPECT_EQ(position.count(), 2);
    EXPECT_EQ(start.count(), 2);

    // Chosen while playing, it waits for the next play.
    playTo(1.0);
    position.clear();
    transport.setStartBeat(8);
    EXPECT_EQ(position.count(), 0);
    EXPECT_EQ(audio.engine().transport().startBeat(), 0.0);
    transport.stop();
    EXPECT_EQ(transport.positionText(), "3.1.1");
}

// --- Metronome and the audio thread ---

TEST_F(TransportControllerTest, MetronomeIsTheEnginesAndIsStored) {
    QSignalSpy metronome(&transport, &TransportController::metronomeChanged);
    transport.setMetronome(true);
    transport.setMetronome(true);
    EXPECT_EQ(metronome.count(), 1);
    EXPECT_TRUE(audio.engine().transport().metronome());
    EXPECT_TRUE(settings.value("transport.metronome").toBool());
    transport.setMetronome(false);
    EXPECT_FALSE(settings.value("transport.metronome").toBool());
}

TEST_F(TransportControllerTest, MetronomeClicksOnlyWhilePlaying) {
    transport.setMetronome(true);
    ASSERT_TRUE(audio.ensureRunning());
    float stoppedPeak = 0.0f;
    for (int i = 0; i < 100; ++i) stoppedPeak = std::max(stoppedPeak, peakOf(renderPeriod(*card, 512)));
    EXPECT_EQ(stoppedPeak, 0.0f);
    transport.play();
    EXPECT_GT(peakOf(renderPeriod(*card, 512)), 0.01f);  // the downbeat
}

TEST_F(TransportControllerTest, AudioThreadAllocatesNothingWhileTheTransportPlays) {
    auto track = std::make_shared<engine::BackingTrack>(std::vector<float>(2 * 200000, 0.25f), 2);
    transport.setMetronome(true);
    transport.setLoopRange(0.5, 3.0);
    transport.play();
    audio.engine().setBackingTrack(track);
    std::vector<float> out(2 * 512);

    std::size_t allocations = 0;
    std::size_t frees = 0;
    for (int i = 0; i < 400; ++i) {
        {
            const AllocationCounter counter;
            card->callback(card->user, out.data(), 512);
            allocations += counter.allocations();
            frees += counter.frees();
        }
        transport.tick();
        if (i % 50 == 0) transport.setTempo(100 + i / 10);
    }

    EXPECT_EQ(allocations, 0u);
    EXPECT_EQ(frees, 0u);
    EXPECT_GT(peakOf(out), 0.2f);  // the track was heard
}

// While the engine holds the song for its render, the clock stands and the status says so;
// once a stretch is rendered it goes on and the status is empty again, as after stop.
TEST_F(TransportControllerTest, TheStatusSaysWhenTheClockWaitsForTheSongToRender) {
    const QString waiting = QStringLiteral("Waiting for the song to render");
    auto track = std::make_shared<engine::BackingTrack>();
    audio.engine().setBackingTrack(track);
    QSignalSpy status(&transport, &TransportController::statusChanged);
    transport.play();
    render(4096);
    transport.tick();
    EXPECT_EQ(transport.status(), waiting);
    EXPECT_EQ(transport.positionBeats(), 0.0);
    transport.stop();
    EXPECT_EQ(transport.status(), "");
    EXPECT_EQ(status.count(), 2);

    transport.play();
    render(4096);
    transport.tick();
    EXPECT_EQ(transport.status(), waiting);
    track->begin(48000, 2, 0);
    const std::span<float> frames = track->unpublished(0, 48000);
    std::fill(frames.begin(), frames.end(), 0.25f);
    track->publish(48000);
    render(4096);
    transport.tick();
    EXPECT_EQ(transport.status(), "");
    EXPECT_GT(transport.positionBeats(), 0.0);

    // An edit's render, not begun yet: the song plays on meanwhile.
    audio.engine().setBackingTrack(std::make_shared<engine::BackingTrack>());
    const double before = transport.positionBeats();
    render(4096);
    transport.tick();
    EXPECT_EQ(transport.status(), "");
    EXPECT_GT(transport.positionBeats(), before);
    EXPECT_EQ(status.count(), 4);
}

// --- Real outputs ---

// Ticks while the output's own thread plays until pass frames went by, and checks at every
// tick that the beats shown are frames the engine published, at the tempo and rate.
void expectBeatsFollowFrames(TransportController& transport, const engine::AudioEngine& engine, std::int64_t pass) {
    const double perFrame = engine.tempo() / 60.0 / engine.config().sampleRate;
    std::int64_t travelled = 0;
    std::int64_t last = 0;
    int ticks = 0;
    // A bound for a stuck output, not a measure of pace.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (travelled < pass && std::chrono::steady_clock::now() < limit) {
        const bool taken = engine.shownGeneration() == engine.transport().state().generation;
        const std::int64_t before = engine.shownPos();
        transport.tick();
        const std::int64_t after = engine.shownPos();
        ASSERT_TRUE(transport.playing());
        const double frames = transport.positionBeats() / perFrame;
        const std::int64_t now = std::llround(frames);
        // A whole count of frames between the two readings (unless the loop wrapped between);
        // before the audio thread takes the play, the start beat.
        EXPECT_NEAR(frames, static_cast<double>(now), 1e-6 * std::max(1.0, frames)) << "tick " << ticks;
        if (taken && after >= before) {
            EXPECT_GE(now, before) << "tick " << ticks;
            EXPECT_LE(now, after) << "tick " << ticks;
        } else if (!taken && transport.positionBeats() != engine.transport().startBeat()) {
            EXPECT_LE(now, after) << "tick " << ticks;
        }
        EXPECT_EQ(transport.positionText(), TransportController::formatPosition(transport.positionBeats()));
        EXPECT_EQ(transport.beat(), static_cast<int>(std::floor(transport.positionBeats())) % 4 + 1);
        travelled += now >= last ? now - last : now;
        last = now;
        ++ticks;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(travelled, pass);
    EXPECT_GT(ticks, 10);
}

TEST(TransportOnRealOutput, BeatsFollowTheNullOutputsFramesAtEveryTick) {
    SettingsFixture fixture;
    app::AudioController audio(std::make_unique<engine::NullAudioBackend>(), fixture.settings, fixture.log.logger);
    TransportController transport(audio, fixture.log.logger, &fixture.settings);
    EXPECT_EQ(audio.driverName(), "Null");
    transport.setTempo(150);
    transport.setMetronome(true);
    transport.play();
    ASSERT_TRUE(transport.playing()) << audio.status().toStdString();
    expectBeatsFollowFrames(transport, audio.engine(), 24000);

    transport.setLoopRange(0.5, 1.0);
    transport.play();
    expectBeatsFollowFrames(transport, audio.engine(), 24000);
    EXPECT_LT(transport.positionBeats(), 1.0);
}

TEST(TransportOnRealOutput, PlaysThroughPortAudioToAJackServer) {
    JackServer server;
    std::string why;
    if (!server.start(&why)) GTEST_SKIP() << why;
    SettingsFixture fixture;
    {
        app::AudioController audio(engine::createAudioBackend(), fixture.settings, fixture.log.logger);
        TransportController transport(audio, fixture.log.logger, &fixture.settings);
        EXPECT_EQ(audio.driverName(), "JACK Audio Connection Kit");
        transport.setMetronome(true);
        transport.play();
        ASSERT_TRUE(transport.playing()) << audio.status().toStdString();
        EXPECT_EQ(audio.status(), "Sound card open");
        expectBeatsFollowFrames(transport, audio.engine(), 48000);
        audio.onTick();
        EXPECT_EQ(audio.actualFormat(), "512 samples at 48000 Hz");
        EXPECT_NEAR(audio.latencyMs(), 512 * 1000.0 / 48000.0, 1e-9);
    }
    EXPECT_TRUE(fixture.logged(core::LogLevel::INFO, "audio", "output started (JACK Audio Connection Kit, 512 samples at 48000 Hz)"));
}

}  // namespace
