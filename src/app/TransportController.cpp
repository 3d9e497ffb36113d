#include "app/TransportController.h"

#include "app/AudioController.h"
#include "app/SettingsBridge.h"
#include "core/Logger.h"

namespace ostrel::app {

TransportController::TransportController(AudioController& audio, core::Logger& logger, SettingsBridge* settings,
                                         QObject* parent)
    : QObject(parent), audio_(audio), logger_(logger), settings_(settings) {
    tapClock_.start();
}

double TransportController::tempo() const { return 120.0; }
bool TransportController::metronome() const { return false; }
void TransportController::setLoopEnabled(bool) {}
void TransportController::setLoopRange(double, double) {}
void TransportController::setStartBeat(double) {}
void TransportController::play() {}
void TransportController::stop() {}
void TransportController::togglePlay() {}
void TransportController::setTempo(double) {}
void TransportController::nudgeTempo(double) {}
void TransportController::commitTempo() {}
void TransportController::tap() {}
void TransportController::setMetronome(bool) {}
void TransportController::tick() {}
void TransportController::tapTempo(std::int64_t) {}
QString TransportController::formatPosition(double) { return QStringLiteral("1.1.1"); }
void TransportController::startPlaying() {}
void TransportController::applyLoop() {}

}  // namespace ostrel::app
