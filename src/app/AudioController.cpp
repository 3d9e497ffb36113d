#include "app/AudioController.h"

#include "app/SettingsBridge.h"
#include "core/Logger.h"

namespace ostrel::app {

AudioController::AudioController(std::unique_ptr<engine::IAudioBackend> backend, SettingsBridge& settings,
                                 core::Logger& logger, QObject* parent, MillisecondClock clock)
    : QObject(parent), engine_(std::move(backend)), settings_(settings), logger_(logger), clock_(std::move(clock)) {
    elapsed_.start();
}

AudioController::~AudioController() { engine_.stop(); }

QString AudioController::selectedDeviceId() const { return {}; }
bool AudioController::engineRunning() const { return false; }
void AudioController::refreshDevices() {}
void AudioController::selectDevice(const QString&) {}
void AudioController::setTestTone(bool) {}
bool AudioController::ensureRunning() { return false; }
void AudioController::noteActivity() {}
void AudioController::setTestToneLevel(float level) { toneLevel_ = level; }
void AudioController::setStatus(const QString&, bool) {}
bool AudioController::openOutput() { return false; }
void AudioController::onSettingChanged(const QString&) {}
void AudioController::onTick() {}
std::int64_t AudioController::now() const { return clock_ ? clock_() : elapsed_.elapsed(); }
void AudioController::switchToneOff() {}

}  // namespace ostrel::app
