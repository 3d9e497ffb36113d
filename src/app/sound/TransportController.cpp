#include "app/sound/TransportController.h"

#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "core/log/Logger.h"
#include "playback/AudioEngine.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace ostrel::app {
namespace {

constexpr double kMinTempo = 20.0;
constexpr double kMaxTempo = 300.0;
constexpr int kBeatsPerBar = 4;

// Tenths of a beat per minute, halves away from zero, within the engine's range.
double roundTempo(double bpm) { return std::clamp(std::round(bpm * 10.0) / 10.0, kMinTempo, kMaxTempo); }

// A position from the QML or the control API: negative, endless or not a number counts as 0.
double beatsOrZero(double beats) { return std::isfinite(beats) && beats > 0.0 ? beats : 0.0; }

}  // namespace

TransportController::TransportController(AudioController& audio, core::Logger& logger, SettingsBridge* settings,
                                         QObject* parent)
    : QObject(parent), audio_(audio), logger_(logger), settings_(settings) {
    tapClock_.start();
    if (settings_ != nullptr) {
        // The engine clamps a stored tempo outside its range; it is not rounded here.
        audio_.engine().setTempo(settings_->value(QStringLiteral("transport.tempo")).toDouble());
        audio_.engine().transport().setMetronome(settings_->value(QStringLiteral("transport.metronome")).toBool());
    }
    // Without an application object (headless use) nothing would deliver the timer.
    if (QCoreApplication::instance() != nullptr) {
        clockTimer_.setInterval(kTickIntervalMs);
        connect(&clockTimer_, &QTimer::timeout, this, &TransportController::tick);
    }
}

double TransportController::tempo() const { return audio_.engine().tempo(); }

bool TransportController::metronome() const { return audio_.engine().transport().metronome(); }

void TransportController::setLoopEnabled(bool on) {
    if (on == loopEnabled_) {
        return;
    }
    loopEnabled_ = on;
    applyLoop();
    emit loopChanged();
}

void TransportController::setLoopRange(double startBeats, double endBeats) {
    loopEnabled_ = true;
    loopStart_ = beatsOrZero(startBeats);
    // An end that is no finite number gives the shortest loop.
    loopEnd_ = std::isfinite(endBeats) ? std::max(loopStart_ + kMinLoopBeats, endBeats) : loopStart_ + kMinLoopBeats;
    applyLoop();
    emit loopChanged();
}

void TransportController::applyLoop() {
    audio_.engine().transport().setLoop(
        {.enabled = loopEnabled_ && loopEnd_ > loopStart_, .startBeats = loopStart_, .endBeats = loopEnd_});
}

void TransportController::setStartBeat(double beats) {
    const double b = beatsOrZero(beats);
    if (b == startBeat_) {
        return;
    }
    startBeat_ = b;
    if (!playing_) {
        positionText_ = formatPosition(b);
        emit positionChanged();
    }
    emit startBeatChanged();
}

void TransportController::play() {
    const core::ActionScope action("Transport > play", logger_);
    startPlaying();
}

void TransportController::startPlaying() {
    if (audio_.testToneOn()) {
        audio_.setTestTone(false);
    }
    if (!audio_.ensureRunning()) {
        return;  // the audio controller logged it and shows it in its status
    }
    emit aboutToPlay();
    engine::AudioEngine& engine = audio_.engine();
    engine.transport().setStartBeat(std::max(startBeat_, 0.0));
    engine.setPlaying(true);
    playing_ = true;
    audio_.noteActivity();
    tickCount_ = 0;
    if (QCoreApplication::instance() != nullptr) {
        clockTimer_.start();
    }
    emit playingChanged();
    tick();
}

void TransportController::stop() {
    if (!playing_) {
        return;
    }
    logger_.recordStep("transport", "stop");
    audio_.engine().setPlaying(false);
    playing_ = false;
    clockTimer_.stop();
    positionText_ = formatPosition(startBeat_);
    beat_ = 0;
    positionBeats_ = 0.0;
    emit playingChanged();
    emit positionChanged();
    emit beatChanged();
    emit beatsChanged();
    setStatus(QString());
}

void TransportController::setStatus(const QString& text) {
    if (text != status_) {
        status_ = text;
        emit statusChanged();
    }
}

void TransportController::togglePlay() {
    if (playing_) {
        stop();
    } else {
        play();
    }
}

void TransportController::tick() {
    if (!playing_) {
        return;
    }
    const engine::AudioEngine& engine = audio_.engine();
    if (engine.backend().state() != engine::BackendState::Running) {
        logger_.log(core::LogLevel::WARN, "transport", "the sound card stopped while the clock was running: stopping the clock");
        stop();
        return;
    }
    if (++tickCount_ >= kTicksPerKeepAlive) {
        tickCount_ = 0;
        audio_.noteActivity();
    }

    // Until the audio thread has taken this play, its position is the previous one: the
    // song is at the start beat it will seek to.
    double beats = engine.transport().startBeat();
    if (engine.shownGeneration() == engine.transport().state().generation) {
        // In the beats of the track heard, which after a tempo change may still be the old one.
        beats = engine.shownBeats();
    }
    const QString text = formatPosition(beats);
    const int beatOfBar = static_cast<int>(static_cast<std::int64_t>(std::floor(beats)) % kBeatsPerBar) + 1;
    if (beatOfBar != beat_) {
        beat_ = beatOfBar;
        emit beatChanged();
    }
    positionBeats_ = beats;
    emit beatsChanged();
    if (text != positionText_) {
        positionText_ = text;
        emit positionChanged();
    }
    setStatus(engine.waitingForSong() ? tr("Waiting for the song to render") : QString());
}

QString TransportController::formatPosition(double beats) {
    // Far beyond any song, but the counter must not overflow.
    constexpr double kLastBeat = std::numeric_limits<std::int32_t>::max();
    const double b = std::min(beatsOrZero(beats), kLastBeat);
    const auto n = static_cast<std::int32_t>(std::floor(b));
    const int bar = n / kBeatsPerBar + 1;
    const int beat = n % kBeatsPerBar + 1;
    const int sixteenth = static_cast<int>(std::floor((b - n) * 4.0)) + 1;
    return QStringLiteral("%1.%2.%3").arg(bar).arg(beat).arg(sixteenth);
}

void TransportController::setTempo(double bpm) {
    if (!std::isfinite(bpm)) {
        return;  // refused: every consumer expects a finite tempo
    }
    const double t = roundTempo(bpm);
    if (t == tempo()) {
        return;
    }
    audio_.engine().setTempo(t);
    emit tempoChanged();
}

void TransportController::commitTempo() {
    if (settings_ != nullptr) {
        settings_->setValue(QStringLiteral("transport.tempo"), tempo());
    }
}

void TransportController::nudgeTempo(double delta) {
    setTempo(tempo() + delta);
    commitTempo();
}

void TransportController::tap() { tapTempo(tapClock_.elapsed()); }

void TransportController::tapTempo(std::int64_t nowMs) {
    if (!tapTimes_.empty() && nowMs - tapTimes_.back() > kTapPauseMs) {
        tapTimes_.clear();
    }
    tapTimes_.push_back(nowMs);
    if (tapTimes_.size() > kTapsCounted) {
        tapTimes_.pop_front();
    }
    if (tapTimes_.size() < 2) {
        return;
    }
    const double interval =
        static_cast<double>(tapTimes_.back() - tapTimes_.front()) / static_cast<double>(tapTimes_.size() - 1);
    if (!(interval > 0.0)) {
        return;
    }
    const double bpm = roundTempo(60000.0 / interval);
    if (bpm != tempo()) {
        audio_.engine().setTempo(bpm);
        emit tempoChanged();
    }
    commitTempo();
}

void TransportController::setMetronome(bool on) {
    if (on == metronome()) {
        return;
    }
    audio_.engine().transport().setMetronome(on);
    if (settings_ != nullptr) {
        settings_->setValue(QStringLiteral("transport.metronome"), on);
    }
    emit metronomeChanged();
}

}  // namespace ostrel::app
