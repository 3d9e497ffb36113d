#include "app/sound/AudioController.h"

#include "AudioTestSupport.h"

#include <QSignalSpy>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;
using app::AudioController;

namespace {

class AudioControllerTest : public ::testing::Test, public AudioFixture {};

// --- Opening on demand ---

TEST_F(AudioControllerTest, StartsClosedListingTheDevicesAndOpensOnDemand) {
    EXPECT_EQ(card->opens, 0);
    EXPECT_EQ(audio.status(), "Stopped");
    EXPECT_EQ(audio.driverName(), "Hand");
    ASSERT_EQ(audio.devices().size(), 2);
    EXPECT_EQ(audio.devices()[0].toMap(), (QVariantMap{{"id", "aa01"}, {"name", "Speakers"}, {"isDefault", true}}));
    EXPECT_FALSE(audio.devices()[1].toMap().value("isDefault").toBool());
    EXPECT_EQ(audio.selectedDeviceId(), "");

    ASSERT_TRUE(audio.ensureRunning());
    EXPECT_TRUE(stepRecorded("action", "begin: Audio > open output device (system default)"));
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "output started (Hand, 512 samples at 48000 Hz)"));
}

TEST_F(AudioControllerTest, EnsureRunningOpensOnceWithTheAudioSettings) {
    ASSERT_TRUE(settings.setValue("audio.sample_rate", "96000"));
    ASSERT_TRUE(settings.setValue("audio.buffer_size", "256"));
    ASSERT_TRUE(settings.setValue("audio.output_device", "aa02"));
    QSignalSpy started(&audio, &AudioController::streamStarted);
    QSignalSpy status(&audio, &AudioController::statusChanged);

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
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "output started (Hand, 256 samples at 96000 Hz)"));
    EXPECT_TRUE(stepRecorded("action", "begin: Audio > open output device aa02"));
}

TEST_F(AudioControllerTest, FailedOpenIsAProblemUntilAnOpenSucceeds) {
    card->openError = "could not open the sound card: device busy";
    QSignalSpy started(&audio, &AudioController::streamStarted);
    QSignalSpy tone(&audio, &AudioController::testToneChanged);

    EXPECT_FALSE(audio.ensureRunning());
    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Could not start audio: could not open the sound card: device busy");
    EXPECT_TRUE(audio.problem());
    EXPECT_TRUE(logged(core::LogLevel::ERROR, "audio", "could not open the sound card: device busy"));
    audio.setTestTone(true);
    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(started.count() + tone.count(), 0);

    card->openError.clear();
    EXPECT_TRUE(audio.ensureRunning());
    EXPECT_EQ(audio.status(), "Sound card open");
    EXPECT_FALSE(audio.problem());
}

// --- Idle close ---

TEST_F(AudioControllerTest, IdleCardClosesAMinuteAfterTheLastUseAndOpensAgainOnDemand) {
    ASSERT_TRUE(audio.ensureRunning());
    tickAt(59999);
    EXPECT_TRUE(audio.engineRunning());
    tickAt(60000);
    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.status(), "Stopped");
    EXPECT_FALSE(audio.problem());
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "the instrument was idle for a minute: closing the sound card"));

    EXPECT_TRUE(audio.ensureRunning());
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(audio.status(), "Sound card open");
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

// --- Test tone ---

TEST_F(AudioControllerTest, TestToneSoundsAt440HzOnAFreshCard) {
    QSignalSpy tone(&audio, &AudioController::testToneChanged);
    audio.setTestTone(true);
    audio.setTestTone(true);
    EXPECT_EQ(card->opens, 1);
    EXPECT_EQ(tone.count(), 1);
    EXPECT_EQ(audio.status(), "Playing the test tone");
    EXPECT_TRUE(stepRecorded("audio", "test tone requested"));

    // One second of the left channel: 440 rising zero crossings, at the tone's level.
    std::vector<float> left;
    for (int block = 0; block < 100; ++block) {
        const std::vector<float> out = renderPeriod(*card, 480);
        for (std::size_t i = 0; i < out.size(); i += 2) left.push_back(out[i]);
    }
    int rising = 0;
    for (std::size_t i = 1; i < left.size(); ++i) rising += left[i - 1] < 0.0f && left[i] >= 0.0f;
    EXPECT_NEAR(rising, 440, 1);
    EXPECT_NEAR(peakOf(left), AudioController::kDefaultToneLevel, 0.01f);
}

TEST_F(AudioControllerTest, ToneLevelZeroIsSilent) {
    audio.setTestToneLevel(0.0f);
    audio.setTestTone(true);
    EXPECT_TRUE(audio.testToneOn());
    EXPECT_EQ(peakOf(renderPeriod(*card, 4800)), 0.0f);
}

TEST_F(AudioControllerTest, TestToneStopsItselfAfter15SecondsAndTheCardClosesAtTheSecondTickAfter) {
    audio.setTestTone(true);
    QSignalSpy tone(&audio, &AudioController::testToneChanged);
    tickAt(14750);
    EXPECT_TRUE(audio.testToneOn());
    tickAt(15000);
    EXPECT_FALSE(audio.testToneOn());
    EXPECT_EQ(tone.count(), 1);
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "test tone switched itself off after 15 seconds"));
    EXPECT_TRUE(stepRecorded("audio", "test tone stopped"));
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
    EXPECT_EQ(audio.status(), "Sound card open");
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
    tickAt(62999);  // the idle rule still holds
    EXPECT_TRUE(audio.engineRunning());
    tickAt(63000);
    EXPECT_FALSE(audio.engineRunning());
}

// Regression: a card in use when the tone began (a transport between its keep-alives) was
// closed by the tone's end.
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

// --- Settings ---

TEST_F(AudioControllerTest, AudioSettingsReopenOnlyARunningCard) {
    QSignalSpy started(&audio, &AudioController::streamStarted);
    QSignalSpy selection(&audio, &AudioController::selectionChanged);
    ASSERT_TRUE(settings.setValue("audio.buffer_size", "256"));
    EXPECT_EQ(card->opens, 0);
    EXPECT_EQ(selection.count(), 1);

    ASSERT_TRUE(audio.ensureRunning());
    ASSERT_TRUE(settings.setValue("transport.tempo", 90.0));
    EXPECT_EQ(card->opens, 1);
    EXPECT_EQ(selection.count(), 1);

    ASSERT_TRUE(settings.setValue("audio.buffer_size", "1024"));
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(card->config.bufferFrames, 1024u);
    EXPECT_TRUE(audio.engineRunning());
    EXPECT_EQ(started.count(), 2);
    EXPECT_EQ(selection.count(), 2);
    EXPECT_EQ(countLogged(core::LogLevel::INFO, "output started ("), 2);
    EXPECT_TRUE(logged(core::LogLevel::INFO, "audio", "output started (Hand, 1024 samples at 48000 Hz)"));
}

TEST_F(AudioControllerTest, TestToneSoundsThroughAReopenAndStopsWhenTheReopenFails) {
    audio.setTestTone(true);
    QSignalSpy tone(&audio, &AudioController::testToneChanged);
    ASSERT_TRUE(settings.setValue("audio.sample_rate", "44100"));
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(card->config.sampleRate, 44100.0);
    EXPECT_TRUE(audio.testToneOn());
    EXPECT_NEAR(peakOf(renderPeriod(*card, 4410)), AudioController::kDefaultToneLevel, 0.01f);

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
    QSignalSpy selection(&audio, &AudioController::selectionChanged);
    audio.selectDevice("aa02");
    EXPECT_EQ(audio.selectedDeviceId(), "aa02");
    EXPECT_EQ(card->config.deviceId, "aa02");
    EXPECT_EQ(card->opens, 2);
    EXPECT_EQ(selection.count(), 2);  // the setting's change, then the selection itself
    EXPECT_TRUE(stepRecorded("audio", "selected output device aa02"));

    audio.selectDevice("");
    EXPECT_EQ(settings.value("audio.output_device").toString(), "");
    EXPECT_TRUE(stepRecorded("audio", "selected output device (system default)"));
}

TEST_F(AudioControllerTest, LostDeviceClosesTheCardStopsTheToneAndIsReportedOnce) {
    audio.setTestTone(true);
    QSignalSpy tone(&audio, &AudioController::testToneChanged);
    QSignalSpy devices(&audio, &AudioController::devicesChanged);
    card->state = engine::BackendState::StoppedByDevice;
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
    card->state = engine::BackendState::StoppedByDevice;
    tickAt(1500);
    EXPECT_EQ(countLogged(core::LogLevel::WARN, "the output device disconnected"), 2);
}

// --- Status and load figures ---

TEST_F(AudioControllerTest, StatusSignalsOnlyOnAChange) {
    QSignalSpy status(&audio, &AudioController::statusChanged);
    audio.setStatus("Stopped", false);
    EXPECT_EQ(status.count(), 0);
    audio.setStatus("Stopped", true);
    audio.setStatus("Stopped", true);
    EXPECT_EQ(status.count(), 1);
}

TEST_F(AudioControllerTest, LoadFiguresComeFromTheOpenCardAndLatencyGoesWithIt) {
    ASSERT_TRUE(audio.ensureRunning());
    card->stats = {.overloads = 3, .load = 0.25, .bufferFrames = 512, .sampleRate = 48000.0};
    QSignalSpy stats(&audio, &AudioController::statsChanged);
    tickAt(250);
    tickAt(500);
    EXPECT_EQ(stats.count(), 1);
    EXPECT_DOUBLE_EQ(audio.latencyMs(), 512 * 1000.0 / 48000.0);
    EXPECT_DOUBLE_EQ(audio.cpuPercent(), 25.0);
    EXPECT_EQ(audio.dropouts(), 3);
    EXPECT_EQ(audio.actualFormat(), "512 samples at 48000 Hz");

    tickAt(60000);  // the idle close
    EXPECT_FALSE(audio.engineRunning());
    EXPECT_EQ(audio.latencyMs(), 0.0);
    EXPECT_EQ(stats.count(), 2);
    card->stats.bufferFrames = 0;
    tickAt(60250);
    EXPECT_EQ(audio.actualFormat(), "");
}

}  // namespace
