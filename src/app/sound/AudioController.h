#pragma once

#include "engine/AudioBackend.h"
#include "playback/AudioEngine.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <cstdint>
#include <functional>
#include <memory>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class SettingsBridge;

// Milliseconds on a steady clock: the time base of the controller's deadlines.
using MillisecondClock = std::function<std::int64_t()>;

// The context object `audio` and the one owner of the sound card. Opens it on demand
// (ensureRunning), keeps it open while it is used (noteActivity), closes it after a minute
// without use or shortly after the test tone stops, reopens it when an "audio." setting
// changes, and shows a status sentence and the load figures.
// GUI thread only; only the engine's render callback runs on the audio thread.
class AudioController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString driverName READ driverName NOTIFY devicesChanged)
    Q_PROPERTY(QVariantList devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(QString selectedDeviceId READ selectedDeviceId NOTIFY selectionChanged)
    Q_PROPERTY(bool testToneOn READ testToneOn NOTIFY testToneChanged)
    Q_PROPERTY(bool engineRunning READ engineRunning NOTIFY statsChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(bool problem READ problem NOTIFY statusChanged)
    Q_PROPERTY(double latencyMs READ latencyMs NOTIFY statsChanged)
    Q_PROPERTY(double cpuPercent READ cpuPercent NOTIFY statsChanged)
    Q_PROPERTY(int dropouts READ dropouts NOTIFY statsChanged)
    Q_PROPERTY(QString actualFormat READ actualFormat NOTIFY statsChanged)

public:
    static constexpr int kStatusIntervalMs = 250;
    static constexpr std::int64_t kIdleTimeoutMs = 60000;
    static constexpr std::int64_t kToneCloseDelayMs = 300;
    static constexpr std::int64_t kToneLengthMs = 15000;
    static constexpr float kDefaultToneLevel = 0.1f;

    // The clock defaults to a steady timer started here; tests give their own.
    AudioController(std::unique_ptr<engine::IAudioBackend> backend, SettingsBridge& settings, core::Logger& logger,
                    QObject* parent = nullptr, MillisecondClock clock = {});
    ~AudioController() override;

    QString driverName() const { return driverName_; }
    QVariantList devices() const { return devices_; }
    // The setting audio.output_device, read at every call; empty for the system default.
    QString selectedDeviceId() const;
    bool testToneOn() const { return testToneOn_; }
    bool engineRunning() const;
    QString status() const { return status_; }
    bool problem() const { return problem_; }
    double latencyMs() const { return latencyMs_; }
    double cpuPercent() const { return cpuPercent_; }
    int dropouts() const { return dropouts_; }
    QString actualFormat() const { return actualFormat_; }

    Q_INVOKABLE void refreshDevices();
    // Stores the choice; a running card reopens on it.
    Q_INVOKABLE void selectDevice(const QString& id);
    Q_INVOKABLE void setTestTone(bool on);

    // For the other controllers. True when the card runs, opening it when needed; also
    // pushes the idle close a minute ahead.
    [[nodiscard]] bool ensureRunning();
    // The card is in use: pushes the idle close a minute ahead.
    void noteActivity();
    // The engine is the transport's clock and the instrument's output; the other
    // controllers call it and read its fields directly.
    engine::AudioEngine& engine() { return engine_; }
    const engine::AudioEngine& engine() const { return engine_; }
    // The gain of the test tone, 0..1; only the start-up's silent-tone switch changes it.
    void setTestToneLevel(float level);
    float testToneLevel() const { return toneLevel_; }

    // Sets both and signals statusChanged, only when either differs.
    void setStatus(const QString& text, bool problem);
    // (Re)opens the card with the audio settings; reports failure in the status and the log.
    bool openOutput();

public slots:
    void onSettingChanged(const QString& key);
    // Every 250 ms: frees what the audio thread retired, runs the deadlines, watches for a
    // lost device and refreshes the load figures.
    void onTick();

signals:
    void devicesChanged();
    void selectionChanged();
    void testToneChanged();
    void statusChanged();
    void statsChanged();
    // Every newly opened stream, also a reopen.
    void streamStarted();

private:
    std::int64_t now() const;
    static bool due(std::int64_t deadline, std::int64_t now) { return deadline >= 0 && now >= deadline; }
    void switchToneOff();

    engine::AudioEngine engine_;
    SettingsBridge& settings_;
    core::Logger& logger_;
    QTimer statusTimer_;
    QElapsedTimer elapsed_;
    MillisecondClock clock_;
    QString driverName_;
    QVariantList devices_;
    QString status_ = QStringLiteral("Stopped");
    bool problem_ = false;
    bool testToneOn_ = false;
    double latencyMs_ = 0.0;
    double cpuPercent_ = 0.0;
    int dropouts_ = 0;
    QString actualFormat_;
    float toneLevel_ = kDefaultToneLevel;
    std::int64_t toneOffDeadline_ = -1;
    std::int64_t closeDeadline_ = -1;
    std::int64_t idleTimeout_ = kIdleTimeoutMs;
    std::int64_t idleDeadline_ = -1;
    // Someone else wants the card while the tone plays (it was in use when the tone began,
    // or ensureRunning/noteActivity came since): the tone's end must not close it.
    bool wantedDuringTone_ = false;
    bool lossReported_ = false;  // the lost device was handled; cleared by the next open
};

}  // namespace ostrel::app
