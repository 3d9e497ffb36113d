#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class AudioController;
class SettingsBridge;

// The context object `transport`: the song clock. It keeps no clock of its own: tempo,
// metronome, start beat, loop and the play flag are the audio engine's transport, and a
// 40 ms tick turns the engine's published position in frames into beats and into the
// "bar.beat.sixteenth" text, and says in `status` when the engine holds the position
// because the song is not rendered that far yet. A bar has 4 beats. GUI thread only.
class TransportController : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool playing READ playing NOTIFY playingChanged)
    Q_PROPERTY(double tempo READ tempo NOTIFY tempoChanged)
    Q_PROPERTY(bool metronome READ metronome NOTIFY metronomeChanged)
    Q_PROPERTY(QString positionText READ positionText NOTIFY positionChanged)
    Q_PROPERTY(int beat READ beat NOTIFY beatChanged)
    Q_PROPERTY(bool loopEnabled READ loopEnabled NOTIFY loopChanged)
    Q_PROPERTY(double loopStart READ loopStart NOTIFY loopChanged)
    Q_PROPERTY(double loopEnd READ loopEnd NOTIFY loopChanged)
    Q_PROPERTY(double startBeat READ startBeat NOTIFY startBeatChanged)
    Q_PROPERTY(double positionBeats READ positionBeats NOTIFY beatsChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)

public:
    static constexpr int kTickIntervalMs = 40;
    static constexpr int kTicksPerKeepAlive = 25;  // one second of ticks
    static constexpr double kMinLoopBeats = 0.25;
    static constexpr std::int64_t kTapPauseMs = 2000;
    static constexpr std::size_t kTapsCounted = 6;

    // Without settings, tempo and metronome start from the engine's defaults and are not stored.
    TransportController(AudioController& audio, core::Logger& logger, SettingsBridge* settings,
                        QObject* parent = nullptr);

    bool playing() const { return playing_; }
    // Beats per minute: the engine's.
    double tempo() const;
    bool metronome() const;
    QString positionText() const { return positionText_; }
    // 1 to 4 while playing, 0 when stopped.
    int beat() const { return beat_; }
    bool loopEnabled() const { return loopEnabled_; }
    double loopStart() const { return loopStart_; }
    double loopEnd() const { return loopEnd_; }
    double startBeat() const { return startBeat_; }
    // At the last tick; 0 when stopped.
    double positionBeats() const { return positionBeats_; }
    // At the last tick, while the clock holds for the song to render; empty otherwise.
    QString status() const { return status_; }
    // Its engine is the one the song plays in.
    AudioController& audio() const { return audio_; }

    Q_INVOKABLE void setLoopEnabled(bool on);
    // Always switches the loop on; at least a quarter beat long.
    Q_INVOKABLE void setLoopRange(double startBeats, double endBeats);
    // Where the next play starts.
    Q_INVOKABLE void setStartBeat(double beats);
    // Opens the sound card when needed; does nothing when it cannot.
    Q_INVOKABLE void play();
    Q_INVOKABLE void stop();
    Q_INVOKABLE void togglePlay();
    // Rounded to 0.1 and clamped to 20..300; not stored (see commitTempo).
    Q_INVOKABLE void setTempo(double bpm);
    Q_INVOKABLE void nudgeTempo(double delta);
    // Stores the tempo in the settings.
    Q_INVOKABLE void commitTempo();
    Q_INVOKABLE void tap();
    Q_INVOKABLE void setMetronome(bool on);

    // The clock timer's work; also run once by play.
    void tick();
    // The work of tap, given the tap clock's reading in milliseconds.
    void tapTempo(std::int64_t nowMs);
    // "bar.beat.sixteenth", each counted from 1.
    static QString formatPosition(double beats);

signals:
    // Before the clock starts: the song is rendered into the engine now.
    void aboutToPlay();
    void playingChanged();
    void tempoChanged();
    void metronomeChanged();
    void positionChanged();
    void beatChanged();
    void beatsChanged();
    void loopChanged();
    void startBeatChanged();
    void statusChanged();

private:
    void startPlaying();
    void applyLoop();
    void setStatus(const QString& text);

    AudioController& audio_;
    core::Logger& logger_;
    SettingsBridge* settings_;
    QTimer clockTimer_;
    QElapsedTimer tapClock_;
    std::deque<std::int64_t> tapTimes_;
    bool playing_ = false;
    QString positionText_ = QStringLiteral("1.1.1");
    int beat_ = 0;
    bool loopEnabled_ = false;
    double loopStart_ = 0.0;
    double loopEnd_ = 16.0;
    double startBeat_ = 0.0;
    double positionBeats_ = 0.0;
    QString status_;
    int tickCount_ = 0;
};

}  // namespace ostrel::app
