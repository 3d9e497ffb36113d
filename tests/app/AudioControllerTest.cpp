#include "app/AudioController.h"

#include "AudioTestSupport.h"

#include <QSignalSpy>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;
using engine::BackendState;

namespace {

class AudioControllerTest : public ::testing::Test, public AudioFixture {};

// --- Start and opening on demand ---

TEST_F(AudioControllerTest, StartsClosedWithTheBackEndsDevices) {
    EXPECT_EQ(card->opens, 0);
    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Stopped");
    EXPECT_FALSE(audio.problem());
    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(audio.driverName(), "Hand");
    ASSERT_EQ(audio.devices().size(), 2);
    const QVariantMap first = audio.devices()[0].toMap();
    EXPECT_EQ(first.value("id").toString(), "aa01");
    EXPECT_EQ(first.value("name").toString(), "Speakers");
    EXPECT_TRUE(first.value("isDefault").toBool());
    EXPECT_FALSE(audio.devices()[1].toMap().value("isDefault").toBool());
    EXPECT_EQ(audio.selectedDeviceId(), "");
}

TEST_F(AudioControllerTest, EnsureRunningOpensOnceWithTheAudioSettings) {
    ASSERT_TRUE(settings.setValue("audio.sample_rate", "96000"));
    ASSERT_TRUE(settings.setValue("audio.buffer_size", "256"));
    ASSERT_TRUE(settings.setValue("audio.output_device", "aa02"));
    QSignalSpy started(&audio, &app::AudioController::streamStarted);
    QSignalSpy status(&audio, &app::AudioController::statusChanged);

    EXPECT_TRUE(audio.ensureRunning());
    EXPECT_TRUE(audio.ensureRunning());

    EXPECT_EQ(card->opens, 1);
    EXPECT_EQ(card->config.deviceId, "aa02");
    EXPECT_EQ(card->config.sampleRate, 96000.0);
    EXPECT_EQ(card->config.bufferFrames, 256u);
    EXPECT_EQ(card->config.channels, 2u);
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(status.count(), 1);
    EXPECT_EQ(audio.status(), "Sound card open");
    EXPECT_FALSE(audio.problem());
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "output started (Hand, 256 samples at 96000 Hz)"));
    EXPECT_TRUE(stepRecorded("action", "begin: Audio > open output device aa02"));
}

TEST_F(AudioControllerTest, DefaultDeviceIsNamedInTheOpenAction) {
    ASSERT_TRUE(audio.ensureRunning());
    EXPECT_TRUE(stepRecorded("action", "begin: Audio > open output device (system default)"));
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "output started (Hand, 512 samples at 48000 Hz)"));
}

// --- A card that cannot open ---

TEST_F(AudioControllerTest, FailedOpenReportsTheEnginesReasonAsAProblem) {
    card->openError = "could not open the sound card: device busy";
    QSignalSpy started(&audio, &app::AudioController::streamStarted);

    EXPECT_FALSE(audio.ensureRunning());

    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Could not start audio: could not open the sound card: device busy");
    EXPECT_TRUE(audio.problem());
    EXPECT_EQ(started.count(), 0);
    EXPECT_TRUE(logged(core::LogLevel::ERROR, "audio", "could not open the sound card: device busy"));
}

TEST_F(AudioControllerTest, FailedOpenForTheTestToneLeavesItOffWithoutASignal) {
    card->openError = "could not open the sound card: gone";
    QSignalSpy tone(&audio, &app::AudioController::testToneChanged);

    audio.setTestTone(true);

    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(tone.count(), 0);
    EXPECT_TRUE(audio.problem());
}

TEST_F(AudioControllerTest, OpenAfterAFailureClearsTheProblem) {
    card->openError = "could not open the sound card: busy";
    ASSERT_FALSE(audio.ensureRunning());
    card->openError.clear();
    EXPECT_TRUE(audio.ensureRunning());
    EXPECT_EQ(audio.status(), "Sound card open");
    EXPECT_FALSE(audio.problem());
}

// --- Idle close ---

TEST_F(AudioControllerTest, IdleCardClosesAMinuteAfterTheLastUse) {
    ASSERT_TRUE(audio.ensureRunning());
    tickAt(59999);
    EXPECT_TRUE(audio.engineRunning());

    tickAt(60000);

    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Stopped");
    EXPECT_FALSE(audio.problem());
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "the instrument was idle for a minute: closing the sound card"));
}

TEST_F(AudioControllerTest, NoteActivityPushesTheIdleCloseAhead) {
    ASSERT_TRUE(audio.ensureRunning());
    clock.ms = 50000;
    audio.noteActivity();
    tickAt(109999);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(110000);
    EXPECT_FALSE(audio.engineRunning());
}

TEST_F(AudioControllerTest, ClosedCardOpensAgainOnDemandAfterAnIdleClose) {
    ASSERT_TRUE(audio.ensureRunning());
    tickAt(60000);
    ASSERT_FALSE(audio.engineRunning());
    EXPECT_TRUE(audio.ensureRunning());
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(audio.status(), "Sound card open");
}

// --- Test tone ---

TEST_F(AudioControllerTest, TestToneSoundsAt440HzOnAFreshCard) {
    QSignalSpy tone(&audio, &app::AudioController::testToneChanged);
    audio.setTestTone(true);
    audio.setTestTone(true);

    EXPECT_EQ(card->opens, 1);
    EXPECT_EQ(tone.count(), 1);
    EXPECT_TRUE(audio.testToneOn());
    EXPECT_EQ(audio.status(), "Playing the test tone");
    EXPECT_TRUE(stepRecorded("audio", "test tone requested"));

    // One second of the left channel: 440 rising zero crossings, at the tone's level.
    std::vector<float> left;
    for (int block = 0; block < 48000 / 480; ++block) {
        const std::vector<float> out = renderPeriod(*card, 480);
        for (std::size_t i = 0; i < out.size(); i += 2) left.push_back(out[i]);
    }
    int rising = 0;
    for (std::size_t i = 1; i < left.size(); ++i) rising += left[i - 1] < 0.0f && left[i] >= 0.0f;
    EXPECT_NEAR(rising, 440, 1);
    EXPECT_NEAR(peakOf(left), app::AudioController::kDefaultToneLevel, 0.01f);
}

TEST_F(AudioControllerTest, TestToneStopsItselfAfter15SecondsAndTheCardClosesAtTheSecondTickAfter) {
    audio.setTestTone(true);
    QSignalSpy tone(&audio, &app::AudioController::testToneChanged);
    tickAt(14750);
    EXPECT_TRUE(audio.testToneOn());

    tickAt(15000);
    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(tone.count(), 1);
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "test tone switched itself off after 15 seconds"));
    EXPECT_TRUE(stepRecorded("audio", "test tone stopped"));
    EXPECT_TRUE(audio.engineRunning());

    tickAt(15250);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(15500);
    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Stopped");
}

TEST_F(AudioControllerTest, TestToneSwitchedOffSilencesTheCardAndClosesIt300MsLater) {
    audio.setTestTone(true);
    clock.ms = 2000;
    audio.setTestTone(false);
    EXPECT_LT(peakOf(renderPeriod(*card, 512)), 1e-6f);

    tickAt(2299);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(2300);
    EXPECT_FALSE(audio.engineRunning());
}

TEST_F(AudioControllerTest, EnsureRunningWithin300MsOfTheToneKeepsTheCardOpen) {
    audio.setTestTone(true);
    clock.ms = 1000;
    audio.setTestTone(false);
    clock.ms = 1100;
    ASSERT_TRUE(audio.ensureRunning());
    tickAt(1500);
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_EQ(card->opens, 1);
    EXPECT_EQ(audio.status(), "Sound card open");  // not the tone any more
}

// Regression: the close after the test tone shut the card under a playing transport or
// held notes, which only call noteActivity.
TEST_F(AudioControllerTest, ActivityWhileTheTonePlaysKeepsTheCardAfterIt) {
    audio.setTestTone(true);
    clock.ms = 1000;
    audio.noteActivity();
    clock.ms = 3000;
    audio.setTestTone(false);

    tickAt(3500);
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Sound card open");
    // Still closed by the idle rule once nothing uses it any more.
    tickAt(62999);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(63000);
    EXPECT_FALSE(audio.engineRunning());
}

// Regression: a card that was in use when the tone began (a transport between its
// once-a-second keep-alives) is not closed by the tone's end either.
TEST_F(AudioControllerTest, CardInUseBeforeTheToneIsNotClosedByItsEnd) {
    ASSERT_TRUE(audio.ensureRunning());
    clock.ms = 500;
    audio.setTestTone(true);
    clock.ms = 700;
    audio.setTestTone(false);
    tickAt(1250);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(60700);
    EXPECT_FALSE(audio.engineRunning());
}

TEST_F(AudioControllerTest, WhileTheTonePlaysNeitherDeadlineClosesTheCard) {
    ASSERT_TRUE(audio.ensureRunning());
    tickAt(59000);
    audio.setTestTone(true);
    tickAt(61000);
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_TRUE(audio.testToneOn());
}

TEST_F(AudioControllerTest, ToneLevelZeroIsSilent) {
    audio.setTestToneLevel(0.0f);
    audio.setTestTone(true);
    EXPECT_TRUE(audio.testToneOn());
    EXPECT_EQ(peakOf(renderPeriod(*card, 4800)), 0.0f);
}

// --- Settings ---

TEST_F(AudioControllerTest, AudioSettingChangeReopensARunningCard) {
    ASSERT_TRUE(audio.ensureRunning());
    QSignalSpy started(&audio, &app::AudioController::streamStarted);
    QSignalSpy selection(&audio, &app::AudioController::selectionChanged);

    ASSERT_TRUE(settings.setValue("audio.buffer_size", "1024"));

    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(card->config.bufferFrames, 1024u);
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_EQ(started.count(), 1);
    EXPECT_EQ(selection.count(), 1);
    EXPECT_EQ(countLogged(core::LogLevel::INFO, "output started ("), 2);
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "output started (Hand, 1024 samples at 48000 Hz)"));
}

TEST_F(AudioControllerTest, AudioSettingChangeWhileClosedOnlyAnnouncesTheSelection) {
    QSignalSpy started(&audio, &app::AudioController::streamStarted);
    QSignalSpy selection(&audio, &app::AudioController::selectionChanged);
    QSignalSpy tone(&audio, &app::AudioController::testToneChanged);

    ASSERT_TRUE(settings.setValue("audio.buffer_size", "1024"));

    EXPECT_EQ(card->opens, 0);
    EXPECT_EQ(started.count(), 0);
    EXPECT_EQ(selection.count(), 1);
    EXPECT_EQ(tone.count(), 0);
}

TEST_F(AudioControllerTest, TransportSettingsDoNotReopenTheCard) {
    ASSERT_TRUE(audio.ensureRunning());
    QSignalSpy selection(&audio, &app::AudioController::selectionChanged);
    ASSERT_TRUE(settings.setValue("transport.tempo", 90.0));
    EXPECT_EQ(card->opens, 1);
    EXPECT_EQ(selection.count(), 0);
}

TEST_F(AudioControllerTest, TestToneKeepsSoundingThroughASampleRateChange) {
    audio.setTestTone(true);
    ASSERT_TRUE(settings.setValue("audio.sample_rate", "44100"));

    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(card->config.sampleRate, 44100.0);
    EXPECT_TRUE(audio.testToneOn());
    EXPECT_NEAR(peakOf(renderPeriod(*card, 4410)), app::AudioController::kDefaultToneLevel, 0.01f);
}

TEST_F(AudioControllerTest, FailedReopenLeavesTheCardClosedAndTheToneOff) {
    audio.setTestTone(true);
    QSignalSpy tone(&audio, &app::AudioController::testToneChanged);
    card->openError = "could not open the sound card: unplugged";

    ASSERT_TRUE(settings.setValue("audio.sample_rate", "96000"));

    EXPECT_FALSE(audio.engineRunning());
    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(tone.count(), 1);
    EXPECT_EQ(audio.status(), "Could not start audio: could not open the sound card: unplugged");
    EXPECT_TRUE(audio.problem());
}

TEST_F(AudioControllerTest, SelectDeviceStoresTheChoiceAndReopensARunningCard) {
    ASSERT_TRUE(audio.ensureRunning());
    QSignalSpy selection(&audio, &app::AudioController::selectionChanged);

    audio.selectDevice("aa02");

    EXPECT_EQ(audio.selectedDeviceId(), "aa02");
    EXPECT_EQ(card->config.deviceId, "aa02");
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(selection.count(), 2);  // the setting's change, then the selection itself
    EXPECT_TRUE(stepRecorded("audio", "selected output device aa02"));
}

TEST_F(AudioControllerTest, SelectingTheSystemDefaultStoresAnEmptyId) {
    audio.selectDevice("aa02");
    audio.selectDevice("");
    EXPECT_EQ(settings.value("audio.output_device").toString(), "");
    EXPECT_TRUE(stepRecorded("audio", "selected output device (system default)"));
}

// --- Lost device ---

TEST_F(AudioControllerTest, LostDeviceClosesTheCardStopsTheToneAndIsReportedOnce) {
    audio.setTestTone(true);
    QSignalSpy tone(&audio, &app::AudioController::testToneChanged);
    QSignalSpy devices(&audio, &app::AudioController::devicesChanged);
    card->state = BackendState::StoppedByDevice;

    tickAt(1000);
    tickAt(1250);

    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(tone.count(), 1);
    EXPECT_EQ(devices.count(), 1);
    EXPECT_EQ(audio.status(), "The sound card was disconnected. Pick a device and press Play test tone to reconnect.");
    EXPECT_TRUE(audio.problem());
    EXPECT_EQ(countLogged(core::LogLevel::WARN, "the output device disconnected"), 1);

    // Reconnecting clears it; a second loss is reported again.
    audio.setTestTone(true);
    EXPECT_EQ(audio.status(), "Playing the test tone");
    card->state = BackendState::StoppedByDevice;
    tickAt(1500);
    EXPECT_EQ(countLogged(core::LogLevel::WARN, "the output device disconnected"), 2);
}

// --- Status and load figures ---

TEST_F(AudioControllerTest, StatusSignalsOnlyOnAChange) {
    QSignalSpy status(&audio, &app::AudioController::statusChanged);
    audio.setStatus("Stopped", false);
    EXPECT_EQ(status.count(), 0);
    audio.setStatus("Stopped", true);
    audio.setStatus("Stopped", true);
    EXPECT_EQ(status.count(), 1);
}

TEST_F(AudioControllerTest, LoadFiguresComeFromTheOpenCard) {
    ASSERT_TRUE(audio.ensureRunning());
    card->stats.load = 0.25;
    card->stats.overloads = 3;
    card->stats.bufferFrames = 512;
    card->stats.sampleRate = 48000.0;
    QSignalSpy stats(&audio, &app::AudioController::statsChanged);

    tickAt(250);
    tickAt(500);

    EXPECT_EQ(stats.count(), 1);
    EXPECT_DOUBLE_EQ(audio.latencyMs(), 512 * 1000.0 / 48000.0);
    EXPECT_DOUBLE_EQ(audio.cpuPercent(), 25.0);
    EXPECT_EQ(audio.dropouts(), 3);
    EXPECT_EQ(audio.actualFormat(), "512 samples at 48000 Hz");
}

TEST_F(AudioControllerTest, NoFormatWithoutABufferSizeAndNoLatencyWhileClosed) {
    card->stats.load = 0.5;
    card->stats.bufferFrames = 0;
    QSignalSpy stats(&audio, &app::AudioController::statsChanged);
    tickAt(250);
    EXPECT_EQ(stats.count(), 1);
    EXPECT_EQ(audio.actualFormat(), "");
    EXPECT_EQ(audio.latencyMs(), 0.0);
    EXPECT_FALSE(audio.engineRunning());
}

TEST_F(AudioControllerTest, EngineRunningFollowsTheCardAcrossAClose) {
    ASSERT_TRUE(audio.ensureRunning());
    QSignalSpy stats(&audio, &app::AudioController::statsChanged);
    tickAt(250);
    EXPECT_EQ(stats.count(), 1);  // the latency appeared
    tickAt(60000);
    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.latencyMs(), 0.0);
    EXPECT_EQ(stats.count(), 2);
}

}  // namespace
