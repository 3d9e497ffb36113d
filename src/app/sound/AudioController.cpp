#include "app/sound/AudioController.h"

#include "app/settings/SettingsBridge.h"
#include "core/log/Logger.h"

#include <QCoreApplication>
#include <QVariantMap>

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

namespace ostrel::app {
namespace {

QString wholeNumber(double value) { return QString::number(static_cast<qint64>(std::llround(value))); }

}  // namespace

AudioController::AudioController(std::unique_ptr<engine::IAudioBackend> backend, SettingsBridge& settings,
                                 core::Logger& logger, QObject* parent, MillisecondClock clock)
    : QObject(parent), engine_(std::move(backend)), settings_(settings), logger_(logger), clock_(std::move(clock)) {
    elapsed_.start();
    connect(&settings_, &SettingsBridge::valueChanged, this, &AudioController::onSettingChanged);
    refreshDevices();
    // Without an application object (headless use) nothing would deliver the timer.
    if (QCoreApplication::instance() != nullptr) {
        statusTimer_.setInterval(kStatusIntervalMs);
        connect(&statusTimer_, &QTimer::timeout, this, &AudioController::onTick);
        statusTimer_.start();
    }
}

AudioController::~AudioController() { engine_.stop(); }

std::int64_t AudioController::now() const { return clock_ ? clock_() : elapsed_.elapsed(); }

QString AudioController::selectedDeviceId() const {
    return settings_.value(QStringLiteral("audio.output_device")).toString();
}

bool AudioController::engineRunning() const {
    return engine_.backend().state() == engine::BackendState::Running;
}

void AudioController::refreshDevices() {
    driverName_ = QString::fromStdString(engine_.backend().backendName());
    devices_.clear();
    for (const engine::AudioDeviceInfo& device : engine_.backend().listDevices()) {
        QVariantMap entry;
        entry.insert(QStringLiteral("id"), QString::fromStdString(device.id));
        entry.insert(QStringLiteral("name"), QString::fromStdString(device.name));
        entry.insert(QStringLiteral("isDefault"), device.isDefault);
        devices_.append(entry);
    }
    emit devicesChanged();
}

void AudioController::selectDevice(const QString& id) {
    logger_.recordStep("audio", "selected output device " +
                                    (id.isEmpty() ? std::string("(system default)") : id.toStdString()));
    settings_.setValue(QStringLiteral("audio.output_device"), id);
    emit selectionChanged();
}

bool AudioController::ensureRunning() {
    closeDeadline_ = -1;
    wantedDuringTone_ = true;
    if (!engineRunning() && !openOutput()) {
        return false;
    }
    idleDeadline_ = now() + idleTimeout_;
    return true;
}

void AudioController::noteActivity() {
    // Activity also keeps the card through the close that follows the test tone.
    closeDeadline_ = -1;
    wantedDuringTone_ = true;
    idleDeadline_ = now() + idleTimeout_;
}

void AudioController::setTestToneLevel(float level) {
    toneLevel_ = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    if (testToneOn_) {
        engine_.setTestTone(true, toneLevel_);
    }
}

void AudioController::setStatus(const QString& text, bool problem) {
    if (text == status_ && problem == problem_) {
        return;
    }
    status_ = text;
    problem_ = problem;
    emit statusChanged();
}

bool AudioController::openOutput() {
    const QString deviceId = selectedDeviceId();
    const core::ActionScope action(
        "Audio > open output device " + (deviceId.isEmpty() ? std::string("(system default)") : deviceId.toStdString()),
        logger_);

    engine::AudioConfig config;
    config.deviceId = deviceId.toStdString();
    // Text that is no number gives 0, which the back-end refuses with its reason.
    config.sampleRate = settings_.value(QStringLiteral("audio.sample_rate")).toString().toDouble();
    config.bufferFrames = settings_.value(QStringLiteral("audio.buffer_size")).toString().toUInt(nullptr, 10);
    config.channels = 2;

    std::string error;
    if (!engine_.start(config, &error)) {
        logger_.log(core::LogLevel::ERROR, "audio", error);
        setStatus(tr("Could not start audio: %1").arg(QString::fromStdString(error)), true);
        return false;
    }
    lossReported_ = false;
    logger_.log(core::LogLevel::INFO, "audio",
                "output started (" + engine_.backend().backendName() + ", " + std::to_string(config.bufferFrames) +
                    " samples at " + wholeNumber(config.sampleRate).toStdString() + " Hz)");
    setStatus(tr("Sound card open"), false);
    emit streamStarted();
    return true;
}

void AudioController::setTestTone(bool on) {
    if (on == testToneOn_) {
        return;
    }
    if (!on) {
        switchToneOff();
        return;
    }
    logger_.recordStep("audio", "test tone requested");
    testToneOn_ = true;
    // A card someone was using before the tone stays theirs when the tone ends.
    const bool inUse = engineRunning() && idleDeadline_ >= 0;
    if ((!engineRunning() || !engine_.hasTestTone()) && !openOutput()) {
        testToneOn_ = false;
        return;
    }
    wantedDuringTone_ = inUse;
    idleDeadline_ = -1;
    closeDeadline_ = -1;
    engine_.setTestTone(true, toneLevel_);
    toneOffDeadline_ = now() + kToneLengthMs;
    setStatus(tr("Playing the test tone"), false);
    emit testToneChanged();
}

void AudioController::switchToneOff() {
    engine_.setTestTone(false, kDefaultToneLevel);
    testToneOn_ = false;
    toneOffDeadline_ = -1;
    // The quick close is only for a card that nothing but the tone wanted; a playing
    // transport or held notes keep it, under the usual idle close.
    if (wantedDuringTone_) {
        idleDeadline_ = now() + idleTimeout_;
    } else {
        closeDeadline_ = now() + kToneCloseDelayMs;
    }
    // "Playing the test tone" would stay up while the card stays open for its next user.
    if (engineRunning()) {
        setStatus(tr("Sound card open"), false);
    }
    logger_.recordStep("audio", "test tone stopped");
    emit testToneChanged();
}

void AudioController::onTick() {
    const std::int64_t tickTime = now();
    engine_.collectGarbage();

    if (testToneOn_ && due(toneOffDeadline_, tickTime)) {
        logger_.log(core::LogLevel::INFO, "audio", "test tone switched itself off after 15 seconds");
        switchToneOff();
    }

    if (!testToneOn_) {
        if (due(idleDeadline_, tickTime) && engineRunning()) {
            logger_.log(core::LogLevel::INFO, "audio", "the instrument was idle for a minute: closing the sound card");
            idleDeadline_ = -1;
            engine_.stop();
            setStatus(tr("Stopped"), false);
        }
        if (due(closeDeadline_, tickTime)) {
            engine_.stop();
            closeDeadline_ = -1;
            setStatus(tr("Stopped"), false);
        }
    }

    // The back-end keeps reporting a lost device after the close, so it is handled once.
    if (engine_.backend().state() == engine::BackendState::StoppedByDevice && !lossReported_) {
        lossReported_ = true;
        logger_.log(core::LogLevel::WARN, "audio", "the output device disconnected");
        engine_.stop();
        testToneOn_ = false;
        toneOffDeadline_ = -1;
        emit testToneChanged();
        setStatus(tr("The sound card was disconnected. Pick a device and press Play test tone to reconnect."), true);
        refreshDevices();
    }

    const engine::LoadStats stats = engine_.backend().loadStats();
    const double latency = engineRunning() ? engine_.latencyMs() : 0.0;
    const double load = stats.load * 100.0;
    const int dropouts = static_cast<int>(stats.overloads);
    const QString format = stats.bufferFrames > 0 ? tr("%1 samples at %2 Hz")
                                                        .arg(QString::number(stats.bufferFrames), wholeNumber(stats.sampleRate))
                                                  : QString();
    if (latency == latencyMs_ && load == cpuPercent_ && dropouts == dropouts_ && format == actualFormat_) {
        return;
    }
    latencyMs_ = latency;
    cpuPercent_ = load;
    dropouts_ = dropouts;
    actualFormat_ = format;
    emit statsChanged();
}

void AudioController::onSettingChanged(const QString& key) {
    if (!key.startsWith(QStringLiteral("audio."))) {
        return;
    }
    emit selectionChanged();
    if (!engineRunning()) {
        // A closed card stays closed; the new values apply at the next open.
        return;
    }
    const bool toneWasOn = testToneOn_;
    if (openOutput() && toneWasOn) {
        engine_.setTestTone(true, toneLevel_);
        return;
    }
    if (!engineRunning()) {
        testToneOn_ = false;
        toneOffDeadline_ = -1;
        emit testToneChanged();
    }
}

}  // namespace ostrel::app
