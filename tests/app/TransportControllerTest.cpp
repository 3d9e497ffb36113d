#include "app/TransportController.h"

#include "AudioTestSupport.h"
#include "platform/Backends.h"
#include "platform/NullAudioBackend.h"
#include "playback/AudioEngine.h"
#include "support/AllocationCounter.h"
#include "support/JackServer.h"

#include <QSignalSpy>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

using namespace ostrel;
using namespace ostrel::test;
using app::TransportController;

namespace {

constexpr double kRate = 48000.0;

// Frames of one beat at the default 48 kHz.
std::int64_t framesOf(double beats, double bpm) { return std::llround(beats * kRate * 60.0 / bpm); }

class TransportControllerTest : public ::testing::Test, public AudioFixture {
protected:
    // Plays the open card by hand, in periods of at most 512 frames.
    void render(std::int64_t frames) {
        std::vector<float> out(1024);
        while (frames > 0) {
            const auto n = static_cast<std::uint32_t>(std::min<std::int64_t>(frames, 512));
            card->callback(card->user, out.data(), n);
            frames -= n;
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

// --- Position text ---

TEST(TransportPositionText, BarBeatAndSixteenthCountFromOne) {
    EXPECT_EQ(TransportController::formatPosition(0.0), "1.1.1");
    EXPECT_EQ(TransportController::formatPosition(0.2499), "1.1.1");
    EXPECT_EQ(TransportController::formatPosition(0.25), "1.1.2");
    EXPECT_EQ(TransportController::formatPosition(3.99), "1.4.4");
    EXPECT_EQ(TransportController::formatPosition(3.999999), "1.4.4");
    EXPECT_EQ(TransportController::formatPosition(4.0), "2.1.1");
    EXPECT_EQ(TransportController::formatPosition(5.5), "2.2.3");
    EXPECT_EQ(TransportController::formatPosition(15.999), "4.4.4");
    EXPECT_EQ(TransportController::formatPosition(16.0), "5.1.1");
}

TEST(TransportPositionText, PositionsOutsideASongStillGiveAText) {
    EXPECT_EQ(TransportController::formatPosition(-0.5), "1.1.1");
    EXPECT_EQ(TransportController::formatPosition(std::nan("")), "1.1.1");
    EXPECT_FALSE(TransportController::formatPosition(1e300).isEmpty());
    EXPECT_FALSE(TransportController::formatPosition(std::numeric_limits<double>::infinity()).isEmpty());
}

TEST_F(TransportControllerTest, FreshControllerShowsTheStartOfTheSong) {
    EXPECT_EQ(transport.positionText(), "1.1.1");
    EXPECT_EQ(transport.beat(), 0);
    EXPECT_FALSE(transport.playing());
    EXPECT_FALSE(transport.loopEnabled());
    EXPECT_EQ(transport.loopStart(), 0.0);
    EXPECT_EQ(transport.loopEnd(), 16.0);
    EXPECT_EQ(transport.tempo(), 120.0);
    EXPECT_FALSE(transport.metronome());
    EXPECT_EQ(card->opens, 0);  // the card waits for play
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

TEST_F(TransportControllerTest, PositionFiveAndAHalfBeatsLightsBeatTwo) {
    playTo(5.5);
    EXPECT_EQ(transport.positionText(), "2.2.3");
    EXPECT_EQ(transport.beat(), 2);
    EXPECT_DOUBLE_EQ(transport.positionBeats(), 5.5);
}

TEST_F(TransportControllerTest, PositionFollowsTheTempoAtBothEndsOfItsRange) {
    transport.setTempo(300);
    playTo(5.0);
    EXPECT_EQ(transport.positionText(), "2.2.1");
    transport.stop();

    transport.setTempo(20);
    playTo(2.75);
    EXPECT_EQ(transport.positionText(), "1.3.4");
    EXPECT_DOUBLE_EQ(transport.positionBeats(), 2.75);
}

TEST_F(TransportControllerTest, TempoChangeWhilePlayingKeepsThePositionInBeats) {
    playTo(5.0);
    transport.setTempo(150);
    render(480);  // 0.025 beats at 150
    transport.tick();
    EXPECT_NEAR(transport.positionBeats(), 5.025, 1e-4);
    EXPECT_EQ(transport.positionText(), "2.2.1");
}

TEST_F(TransportControllerTest, PlayStartsFromTheStartBeat) {
    transport.setStartBeat(6);
    playTo(6.5);
    EXPECT_EQ(transport.positionText(), "2.3.3");
    EXPECT_EQ(audio.engine().transport().startBeat(), 6.0);
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
    transport.play();
    EXPECT_EQ(transport.positionBeats(), 6.0);
    EXPECT_EQ(transport.positionText(), "2.3.1");
}

// --- Play and stop ---

TEST_F(TransportControllerTest, PlayOpensTheCardAnnouncesThenRuns) {
    QStringList order;
    QObject::connect(&transport, &TransportController::aboutToPlay, [&] {
        order << (transport.playing() ? "aboutToPlay while playing" : "aboutToPlay");
    });
    QObject::connect(&transport, &TransportController::playingChanged, [&] { order << "playingChanged"; });

    transport.play();

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
    // The card is the transport's now: the tone's quick close does not apply.
    tickAt(1000);
    EXPECT_TRUE(audio.engineRunning());
}

TEST_F(TransportControllerTest, PlayWithoutAUsableCardChangesNothing) {
    card->openError = "could not open the sound card: none";
    QSignalSpy about(&transport, &TransportController::aboutToPlay);
    QSignalSpy playing(&transport, &TransportController::playingChanged);

    transport.play();

    EXPECT_FALSE(transport.playing());
    EXPECT_EQ(about.count(), 0);
    EXPECT_EQ(playing.count(), 0);
    EXPECT_FALSE(audio.engine().playing());
    EXPECT_TRUE(audio.problem());
}

TEST_F(TransportControllerTest, PlayAgainWhilePlayingStartsOverFromTheStartBeat) {
    playTo(3.0);
    QSignalSpy about(&transport, &TransportController::aboutToPlay);
    transport.play();
    render(512);
    transport.tick();
    EXPECT_EQ(about.count(), 1);
    EXPECT_EQ(transport.positionText(), "1.1.1");
}

TEST_F(TransportControllerTest, StopGoesBackToTheStartBeat) {
    transport.setStartBeat(6);
    playTo(9.0);
    QStringList order;
    for (auto signal : {&TransportController::playingChanged, &TransportController::positionChanged,
                        &TransportController::beatChanged, &TransportController::beatsChanged}) {
        QObject::connect(&transport, signal, [&order, signal] {
            order << (signal == &TransportController::playingChanged    ? "playing"
                      : signal == &TransportController::positionChanged ? "position"
                      : signal == &TransportController::beatChanged     ? "beat"
                                                                        : "beats");
        });
    }

    transport.stop();

    EXPECT_EQ(order, QStringList({"playing", "position", "beat", "beats"}));
    EXPECT_FALSE(transport.playing());
    EXPECT_FALSE(audio.engine().playing());
    EXPECT_EQ(transport.positionText(), "2.3.1");
    EXPECT_EQ(transport.beat(), 0);
    EXPECT_EQ(transport.positionBeats(), 0.0);
    EXPECT_TRUE(stepRecorded("transport", "stop"));
}

TEST_F(TransportControllerTest, StopWhileStoppedDoesNothing) {
    QSignalSpy playing(&transport, &TransportController::playingChanged);
    QSignalSpy position(&transport, &TransportController::positionChanged);
    transport.stop();
    EXPECT_EQ(playing.count(), 0);
    EXPECT_EQ(position.count(), 0);
    EXPECT_FALSE(stepRecorded("transport", "stop"));
}

TEST_F(TransportControllerTest, TogglePlayAlternates) {
    transport.togglePlay();
    EXPECT_TRUE(transport.playing());
    transport.togglePlay();
    EXPECT_FALSE(transport.playing());
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

TEST_F(TransportControllerTest, TempoThatIsNoNumberIsRefused) {
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.setTempo(std::nan(""));
    EXPECT_EQ(transport.tempo(), 120.0);
    EXPECT_EQ(tempo.count(), 0);
}

TEST_F(TransportControllerTest, TempoIsStoredOnlyWhenCommitted) {
    transport.setTempo(90);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 120.0);
    transport.commitTempo();
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 90.0);
}

TEST_F(TransportControllerTest, NudgeAtTheTopChangesNothingButStillStores) {
    transport.setTempo(300);
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.nudgeTempo(1);
    EXPECT_EQ(tempo.count(), 0);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 300.0);
    transport.nudgeTempo(-0.5);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 299.5);
}

TEST_F(TransportControllerTest, StoredTempoAndMetronomeAreReadAtConstruction) {
    ASSERT_TRUE(settings.setValue("transport.tempo", 123.456));
    ASSERT_TRUE(settings.setValue("transport.metronome", true));
    const TransportController second(audio, log.logger, &settings);
    EXPECT_EQ(second.tempo(), 123.456);  // not rounded
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

// --- Tap tempo ---

TEST_F(TransportControllerTest, TapsHalfASecondApartGive120) {
    transport.setTempo(100);
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.tapTempo(0);
    EXPECT_EQ(tempo.count(), 0);
    transport.tapTempo(500);
    transport.tapTempo(1000);
    EXPECT_EQ(transport.tempo(), 120.0);
    EXPECT_EQ(tempo.count(), 1);
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 120.0);
}

TEST_F(TransportControllerTest, TwoTaps700MsApartGive85Point7) {
    transport.tapTempo(0);
    transport.tapTempo(700);
    EXPECT_DOUBLE_EQ(transport.tempo(), 85.7);
}

TEST_F(TransportControllerTest, OnlyTheLastSixTapsCount) {
    for (std::int64_t ms : {0, 1000, 1500, 2000, 2500, 3000, 3500}) transport.tapTempo(ms);
    EXPECT_EQ(transport.tempo(), 120.0);  // with the first tap it would be 102.9
}

TEST_F(TransportControllerTest, APauseOfOverTwoSecondsStartsOver) {
    transport.tapTempo(0);
    transport.tapTempo(2000);  // exactly two seconds still counts
    EXPECT_EQ(transport.tempo(), 30.0);
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.tapTempo(4001);
    EXPECT_EQ(transport.tempo(), 30.0);
    EXPECT_EQ(tempo.count(), 0);
    transport.tapTempo(4601);
    EXPECT_EQ(transport.tempo(), 100.0);
}

TEST_F(TransportControllerTest, TapsAtTheSameMillisecondChangeNothing) {
    QSignalSpy tempo(&transport, &TransportController::tempoChanged);
    transport.tapTempo(100);
    transport.tapTempo(100);
    EXPECT_EQ(transport.tempo(), 120.0);
    EXPECT_EQ(tempo.count(), 0);
}

TEST_F(TransportControllerTest, UnchangedTapTempoIsStillStored) {
    ASSERT_TRUE(settings.setValue("transport.tempo", 90.0));
    transport.tapTempo(0);
    transport.tapTempo(500);  // 120, the engine's tempo since construction
    EXPECT_EQ(settings.value("transport.tempo").toDouble(), 120.0);
}

// --- Loop and start beat ---

TEST_F(TransportControllerTest, LoopRangeIsAtLeastAQuarterBeatAndNeverNegative) {
    QSignalSpy loop(&transport, &TransportController::loopChanged);
    transport.setLoopRange(4, 4);
    EXPECT_TRUE(transport.loopEnabled());
    EXPECT_EQ(transport.loopStart(), 4.0);
    EXPECT_EQ(transport.loopEnd(), 4.25);
    transport.setLoopRange(-2, 8);
    EXPECT_EQ(transport.loopStart(), 0.0);
    EXPECT_EQ(transport.loopEnd(), 8.0);
    transport.setLoopRange(-2, 8);
    EXPECT_EQ(loop.count(), 3);

    const auto& engineLoop = audio.engine().transport().loop();
    EXPECT_TRUE(engineLoop.enabled);
    EXPECT_EQ(engineLoop.startBeats, 0.0);
    EXPECT_EQ(engineLoop.endBeats, 8.0);
}

TEST_F(TransportControllerTest, LoopEndsThatAreNoNumbersGiveTheShortestLoop) {
    transport.setLoopRange(std::nan(""), std::nan(""));
    EXPECT_EQ(transport.loopStart(), 0.0);
    EXPECT_EQ(transport.loopEnd(), 0.25);
    transport.setLoopRange(2, std::numeric_limits<double>::infinity());
    EXPECT_EQ(transport.loopEnd(), 2.25);
}

TEST_F(TransportControllerTest, LoopSwitchSignalsOnlyOnAChangeAndReachesTheEngine) {
    QSignalSpy loop(&transport, &TransportController::loopChanged);
    transport.setLoopEnabled(true);
    transport.setLoopEnabled(true);
    EXPECT_EQ(loop.count(), 1);
    EXPECT_TRUE(audio.engine().transport().loop().enabled);
    EXPECT_EQ(audio.engine().transport().loop().endBeats, 16.0);
    transport.setLoopEnabled(false);
    EXPECT_FALSE(audio.engine().transport().loop().enabled);
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

TEST_F(TransportControllerTest, StartBeatShowsWhileStoppedAndIsNeverNegative) {
    QSignalSpy position(&transport, &TransportController::positionChanged);
    QSignalSpy start(&transport, &TransportController::startBeatChanged);
    transport.setStartBeat(6);
    EXPECT_EQ(transport.positionText(), "2.3.1");
    transport.setStartBeat(-3);
    EXPECT_EQ(transport.startBeat(), 0.0);
    EXPECT_EQ(transport.positionText(), "1.1.1");
    EXPECT_EQ(position.count(), 2);
    EXPECT_EQ(start.count(), 2);
    transport.setStartBeat(-3);
    EXPECT_EQ(position.count(), 2);
    EXPECT_EQ(start.count(), 2);
}

TEST_F(TransportControllerTest, StartBeatChosenWhilePlayingWaitsForTheNextPlay) {
    playTo(1.0);
    QSignalSpy position(&transport, &TransportController::positionChanged);
    transport.setStartBeat(8);
    EXPECT_EQ(position.count(), 0);
    EXPECT_EQ(audio.engine().transport().startBeat(), 0.0);
    transport.stop();
    EXPECT_EQ(transport.positionText(), "3.1.1");
}

// --- Metronome ---

TEST_F(TransportControllerTest, MetronomeIsTheEnginesAndIsStored) {
    QSignalSpy metronome(&transport, &TransportController::metronomeChanged);
    transport.setMetronome(true);
    transport.setMetronome(true);
    EXPECT_EQ(metronome.count(), 1);
    EXPECT_TRUE(audio.engine().transport().metronome());
    EXPECT_TRUE(settings.value("transport.metronome").toBool());
    transport.setMetronome(false);
    EXPECT_FALSE(settings.value("transport.metronome").toBool());
    EXPECT_EQ(metronome.count(), 2);
}

TEST_F(TransportControllerTest, MetronomeClicksOnlyWhilePlaying) {
    transport.setMetronome(true);
    ASSERT_TRUE(audio.ensureRunning());
    std::vector<float> out(2 * 512);
    float stoppedPeak = 0.0f;
    for (int i = 0; i < 100; ++i) {
        card->callback(card->user, out.data(), 512);
        stoppedPeak = std::max(stoppedPeak, peakOf(out));
    }
    EXPECT_EQ(stoppedPeak, 0.0f);
    transport.play();
    card->callback(card->user, out.data(), 512);
    EXPECT_GT(peakOf(out), 0.01f);  // the downbeat
}

// --- The audio thread ---

TEST_F(TransportControllerTest, AudioThreadAllocatesNothingWhileTheTransportPlays) {
    auto track = std::make_shared<engine::BackingTrack>();
    track->channels = 2;
    track->frames = 200000;
    track->samples.assign(static_cast<std::size_t>(track->frames) * 2, 0.25f);
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

// --- Real outputs ---

// Ticks on the test's thread while the output's own thread plays, until pass frames went by
// (or a generous limit passed), and checks at every tick that the beats shown are the
// frames the engine published, converted at the tempo and rate.
void expectBeatsFollowFrames(TransportController& transport, const engine::AudioEngine& engine, std::int64_t pass) {
    const double perFrame = engine.tempo() / 60.0 / engine.config().sampleRate;
    std::int64_t travelled = 0;
    std::int64_t last = 0;
    int ticks = 0;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (travelled < pass && std::chrono::steady_clock::now() < limit) {
        const bool taken = engine.shownGeneration() == engine.transport().state().generation;
        const std::int64_t before = engine.shownPos();
        transport.tick();
        const std::int64_t after = engine.shownPos();
        ASSERT_TRUE(transport.playing());
        const double frames = transport.positionBeats() / perFrame;
        // A whole count of frames, between the two readings (unless the loop wrapped between);
        // before the audio thread takes the play, the start beat.
        EXPECT_NEAR(frames, std::round(frames), 1e-6 * std::max(1.0, frames)) << "tick " << ticks;
        if (taken && after >= before) {
            EXPECT_GE(std::llround(frames), before) << "tick " << ticks;
            EXPECT_LE(std::llround(frames), after) << "tick " << ticks;
        } else if (!taken && transport.positionBeats() != engine.transport().startBeat()) {
            EXPECT_LE(std::llround(frames), after) << "tick " << ticks;
        }
        EXPECT_EQ(transport.positionText(), TransportController::formatPosition(transport.positionBeats()));
        EXPECT_EQ(transport.beat(), static_cast<int>(std::floor(transport.positionBeats())) % 4 + 1);
        const std::int64_t now = std::llround(frames);
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
    transport.setTempo(150);
    transport.setMetronome(true);
    transport.play();
    ASSERT_TRUE(transport.playing()) << audio.status().toStdString();
    EXPECT_EQ(audio.driverName(), "Null");

    expectBeatsFollowFrames(transport, audio.engine(), 24000);

    // Looping: every shown position stays inside the song up to the loop end.
    transport.setLoopRange(0.5, 1.0);
    transport.play();
    expectBeatsFollowFrames(transport, audio.engine(), 24000);
    EXPECT_LT(transport.positionBeats(), 1.0);
    transport.stop();
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
        EXPECT_TRUE(audio.engineRunning());
        EXPECT_EQ(audio.actualFormat(), "512 samples at 48000 Hz");
        EXPECT_NEAR(audio.latencyMs(), 512 * 1000.0 / 48000.0, 1e-9);
        transport.stop();
    }
    EXPECT_TRUE(fixture.logged(core::LogLevel::INFO, "audio", "output started (JACK Audio Connection Kit, 512 samples at 48000 Hz)"));
}

}  // namespace
