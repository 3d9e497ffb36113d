#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>

class QQmlEngine;
class QQuickItem;

namespace ostrel::core {
class Logger;
class SettingsStore;
struct SettingsRegistry;
}  // namespace ostrel::core

namespace ostrel::app {
class AppController;
class AudioController;
class InstrumentController;
class MidiController;
class SettingsBridge;
class ThemeManager;
class TransportController;
}  // namespace ostrel::app

namespace ostrel::test {

struct FakeMidiPort;
struct HandCardState;

// Stands in for the project controller: only what the transport bar reads.
class ProjectStandIn : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool recording READ recording WRITE setRecording NOTIFY recordingChanged)

public:
    bool recording() const { return recording_; }
    void setRecording(bool on);

signals:
    void recordingChanged();

private:
    bool recording_ = false;
};

// The context objects of the QML suites, the context object `testHost` itself, and the
// calls a suite needs beyond them. Settings and logs go to a temporary folder.
class QmlTestHost : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString galleryFolder READ galleryFolder CONSTANT)

public:
    QmlTestHost();
    ~QmlTestHost() override;

    // Gives the engine the context objects.
    void attach(QQmlEngine& engine);

    // Where the gallery writes its pictures: $OSTREL_GALLERY_DIR, else a folder in the
    // system's temporary folder.
    QString galleryFolder() const { return galleryFolder_; }

    // Puts a stand-in (or, with null, the real controller back) in place of a context
    // object; bindings on it are evaluated again.
    Q_INVOKABLE void replaceContextObject(const QString& name, QObject* standIn);
    // Back to the real controllers and a fresh stand-in state, stopped, at 120 beats per
    // minute with the metronome and the loop off; the instrument on its first patch at
    // octave 4 with no keys held, the default controller map and no knob learning.
    Q_INVOKABLE void resetControllers();
    // A pointer move over item with buttons held and modifiers, delivered through its window:
    // the test library's moves carry no modifiers.
    Q_INVOKABLE void moveMouse(QQuickItem* item, qreal x, qreal y, int buttons, int modifiers);
    // A key press as the keyboard repeats it while held, delivered through item's window.
    Q_INVOKABLE void pressRepeatedKey(QQuickItem* item, int key);
    // A short message from the MIDI keyboard plugged into the fake back-end, drained at once
    // as the MIDI controller's poll would.
    Q_INVOKABLE void playMidi(int status, int data1, int data2);
    // Renders periods of the open sound card and answers the greatest absolute sample; 0
    // while the card is closed.
    Q_INVOKABLE double renderPeak(int periods);
    // From now until the next reset the sound card fails to open with this reason.
    Q_INVOKABLE void refuseSoundCard(const QString& reason);

private:
    QObject* realObject(const QString& name) const;

    QTemporaryDir folder_;
    // Added to the audio controller's clock, so a reset can let the card's idle close fall due.
    QElapsedTimer clock_;
    std::int64_t clockSkipMs_ = 0;
    QString galleryFolder_;
    std::unique_ptr<core::Logger> logger_;
    std::unique_ptr<core::SettingsRegistry> registry_;
    std::unique_ptr<core::SettingsStore> store_;
    std::unique_ptr<app::ThemeManager> themes_;
    std::unique_ptr<app::AppController> app_;
    std::unique_ptr<app::SettingsBridge> settings_;
    std::shared_ptr<HandCardState> card_;
    std::unique_ptr<app::AudioController> audio_;
    std::unique_ptr<app::TransportController> transport_;
    std::unique_ptr<app::InstrumentController> instrument_;
    std::unique_ptr<app::MidiController> midi_;
    std::shared_ptr<FakeMidiPort> midiPort_;
    bool startChords_ = true;
    bool startEffects_ = false;
    double startLevel_ = 0.7;
    std::unique_ptr<ProjectStandIn> project_;
    QPointer<QQmlEngine> engine_;
};

}  // namespace ostrel::test
