#pragma once

#include "engine/MidiBackend.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
class ProjectController;
class SettingsBridge;
class ThemeManager;
class TransportController;
}  // namespace ostrel::app

namespace ostrel::test {

struct HandCardState;

// Stands in for the project controller where a suite shows a recording without making one.
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

struct FakeMidiPorts;

// The context objects of the QML suites, the context object `testHost` itself, and the
// calls a suite needs beyond them. Settings and logs go to a temporary folder.
class QmlTestHost : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString galleryFolder READ galleryFolder CONSTANT)
    Q_PROPERTY(QString themesFolder READ themesFolder CONSTANT)
    Q_PROPERTY(QString exportFolder READ exportFolder CONSTANT)
    Q_PROPERTY(QObject* projectStandIn READ projectStandIn CONSTANT)

public:
    QmlTestHost();
    ~QmlTestHost() override;

    // Gives the engine the context objects.
    void attach(QQmlEngine& engine);

    // Where the gallery writes its pictures: $OSTREL_GALLERY_DIR, else the build's
    // tests/qml/gallery.
    QString galleryFolder() const { return galleryFolder_; }
    // The user's themes and the theme export folder, both in the temporary folder.
    QString themesFolder() const;
    QString exportFolder() const;
    QObject* projectStandIn() const;

    // Puts a stand-in (or, with null, the real controller back) in place of a context
    // object; bindings on it are evaluated again.
    Q_INVOKABLE void replaceContextObject(const QString& name, QObject* standIn);
    // Back to the real controllers and a fresh stand-in state, stopped at beat 0, at 120
    // beats per minute with the metronome and the loop (beats 0 to 16) off, the test tone off
    // and the sound card closed and willing to open; the interface size 100 % in effect; the
    // instrument on its first patch at
    // octave 4 with no keys held, the default controller map and no knob learning; the
    // keyboard playMidiMessage plugged in gone; and an empty untitled song with no history.
    Q_INVOKABLE void resetControllers();
    // A pointer move over item with buttons held and modifiers, delivered through its window:
    // the test library's moves carry no modifiers.
    Q_INVOKABLE void moveMouse(QQuickItem* item, qreal x, qreal y, int buttons, int modifiers);
    // A key press as the keyboard repeats it while held, delivered through item's window.
    Q_INVOKABLE void pressRepeatedKey(QQuickItem* item, int key);
    // The MIDI inputs that are plugged in from now on; the list is read on the next refresh.
    Q_INVOKABLE void setMidiInputs(const QStringList& names);
    // From now on every open of a MIDI input fails with this reason; empty opens again.
    Q_INVOKABLE void setMidiRefusal(const QString& reason);
    // One short message into the open MIDI input, then the drain the 4 ms timer would run.
    Q_INVOKABLE void playMidi(const QVariantList& bytes);
    // The same with a three-byte message. While no input is open it plugs in and opens a test
    // keyboard first, which stays until the next reset.
    Q_INVOKABLE void playMidiMessage(int status, int data1, int data2);
    // Files of the temporary folder a suite writes, looks for and empties.
    Q_INVOKABLE bool writeFile(const QString& path, const QString& text);
    Q_INVOKABLE QString readFile(const QString& path) const;
    Q_INVOKABLE bool fileExists(const QString& path) const;
    Q_INVOKABLE void emptyFolder(const QString& path);
    Q_INVOKABLE bool removeFile(const QString& path);
    // The interface size `app` takes to be in effect, as a factor; stands in, for a window on
    // a screen Qt scales as the interface size would, for QT_SCALE_FACTOR. Reset to 1.
    Q_INVOKABLE void setInterfaceScale(double factor);
    // A short mono sound file of that name in the project's samples folder.
    Q_INVOKABLE bool writeSample(const QString& fileName);
    // Renders periods of the open sound card and answers the greatest absolute sample; 0
    // while the card is closed.
    Q_INVOKABLE double renderPeak(int periods);
    // From now until the next reset the sound card fails to open with this reason.
    Q_INVOKABLE void refuseSoundCard(const QString& reason);
    // A mono 44.1 kHz WAV file of a 440 Hz tone at half scale, `seconds` long.
    Q_INVOKABLE bool writeTone(const QString& path, double seconds);
    // The transport clock's tick, once: the position the engine has played to, in beats.
    Q_INVOKABLE void tickTransport();
    // A mono 44.1 kHz WAV of a quiet constant level, `seconds` long.
    Q_INVOKABLE bool writeSound(const QString& path, double seconds);
    // While on, changed theme and log level settings act at once, as the program makes them.
    Q_INVOKABLE void applyLiveSettings(bool on);
    // The demonstration song as the start-up builds it, with the tracks of every view: an FM
    // piano, a Drum Rack, a Sampler and an audio track besides the song's four.
    Q_INVOKABLE void buildDemoSong();

private:
    QObject* realObject(const QString& name) const;

    QTemporaryDir folder_;
    // The audio controller's clock: the wall clock, moved ahead to let the card's
    // deadlines pass at once.
    QElapsedTimer wallClock_;
    std::int64_t clockAheadMs_ = 0;
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
    std::shared_ptr<FakeMidiPorts> midiPorts_;
    std::unique_ptr<app::InstrumentController> instrument_;
    std::unique_ptr<app::MidiController> midi_;
    bool testKeysPlugged_ = false;  // playMidiMessage plugged in and opened its own keyboard
    bool startChords_ = true;
    bool startEffects_ = false;
    double startLevel_ = 0.7;
    std::unique_ptr<app::ProjectController> project_;
    std::unique_ptr<ProjectStandIn> projectStandIn_;
    QPointer<QQmlEngine> engine_;
    QMetaObject::Connection liveSettings_;
};

}  // namespace ostrel::test
