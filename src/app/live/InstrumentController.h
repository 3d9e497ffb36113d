#pragma once

#include "app/live/UserPatch.h"
#include "engine/Event.h"
#include "playback/live/LiveInstrument.h"

#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariantList>
#include <QVariantMap>

#include <nlohmann/json_fwd.hpp>

#include <vector>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class AudioController;
class SettingsBridge;

// The context object `instrument`: the one live instrument and the single door through
// which every played note reaches it. The computer keyboard plays semitones above the
// current octave, the on-screen piano and pads absolute notes, a MIDI keyboard arrives
// through handleMidiMessage. Chooses the patch (built-in, the user's own files, the sample
// instruments or a track's instrument), holds the level, the four sound knobs, the two
// switches and the MIDI controller map. The first note opens the sound card; held notes
// keep it open.
// GUI thread only: QML calls, timers, the stream signal and the drained MIDI messages.
class InstrumentController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QStringList patchNames READ patchNames NOTIFY patchListChanged)
    Q_PROPERTY(QStringList userPatchNames READ userPatchNames NOTIFY patchListChanged)
    Q_PROPERTY(QString patchesDirectory READ patchesDirectory NOTIFY patchListChanged)
    Q_PROPERTY(QString patchFilesMessage READ patchFilesMessage NOTIFY patchFilesMessageChanged)
    Q_PROPERTY(bool patchFilesProblem READ patchFilesProblem NOTIFY patchFilesMessageChanged)
    Q_PROPERTY(QString patchName READ patchName NOTIFY patchChanged)
    Q_PROPERTY(bool effects READ effects WRITE setEffects NOTIFY effectsChanged)
    Q_PROPERTY(bool chords READ chords WRITE setChords NOTIFY chordsChanged)
    Q_PROPERTY(double level READ level WRITE setLevel NOTIFY levelChanged)
    Q_PROPERTY(double brightness READ brightness WRITE setBrightness NOTIFY soundChanged)
    Q_PROPERTY(double resonance READ resonance WRITE setResonance NOTIFY soundChanged)
    Q_PROPERTY(double attack READ attack WRITE setAttack NOTIFY soundChanged)
    Q_PROPERTY(double release READ release WRITE setRelease NOTIFY soundChanged)
    Q_PROPERTY(QString learning READ learning NOTIFY learningChanged)
    Q_PROPERTY(QVariantMap controllerMap READ controllerMap NOTIFY controllerMapChanged)
    Q_PROPERTY(int octave READ octave NOTIFY octaveChanged)
    Q_PROPERTY(QVariantList pressedKeys READ pressedKeys NOTIFY pressedChanged)
    Q_PROPERTY(QVariantList activeNotes READ activeNotes NOTIFY pressedChanged)
    Q_PROPERTY(QString patchCategory READ patchCategory NOTIFY patchChanged)
    Q_PROPERTY(QVariantMap padLabels READ padLabels NOTIFY patchChanged)
    Q_PROPERTY(QVariantMap patchCategories READ patchCategories NOTIFY patchListChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool problem READ problem NOTIFY messageChanged)

public:
    static constexpr int kStartOctave = 4;
    static constexpr int kLowestOctave = 1;
    static constexpr int kHighestOctave = 7;
    static constexpr int kHighestSemitone = 36;  // three octaves of computer keys
    static constexpr int kPadKeyOffset = 1000;   // pads hold key ids note + 1000
    static constexpr int kVelocity = 100;        // keys and pads have no touch
    static constexpr int kKeepAliveMs = 5000;
    static constexpr int kChordVoices = 8;
    static constexpr int kSustainController = 64;

    // The settings may be null: then nothing is read from or written to them.
    InstrumentController(AudioController& audio, core::Logger& logger, SettingsBridge* settings,
                         QObject* parent = nullptr);
    ~InstrumentController() override;

    QStringList patchNames() const { return patchNames_; }
    QStringList userPatchNames() const;
    QString patchesDirectory() const { return patchesDirectory_; }
    QString patchFilesMessage() const { return patchFilesMessage_; }
    bool patchFilesProblem() const { return patchFilesProblem_; }
    QString patchName() const;
    bool effects() const { return live_.effects(); }
    bool chords() const { return live_.polyphony() > 1; }
    double level() const { return live_.level(); }
    double brightness() const { return live_.soundKnob(engine::LiveInstrument::kBrightness); }
    double resonance() const { return live_.soundKnob(engine::LiveInstrument::kResonance); }
    double attack() const { return live_.soundKnob(engine::LiveInstrument::kAttack); }
    double release() const { return live_.soundKnob(engine::LiveInstrument::kRelease); }
    QString learning() const { return learning_; }
    // Target to controller number; a target moved by several shows the lowest.
    QVariantMap controllerMap() const;
    int octave() const { return octave_; }
    // Held key ids, ascending.
    QVariantList pressedKeys() const;
    // Pitches of the held keys by key id, then every MIDI-held pitch.
    QVariantList activeNotes() const;
    QString patchCategory() const;
    QVariantMap padLabels() const { return padLabels_; }
    QVariantMap patchCategories() const;
    QString message() const { return message_; }
    bool problem() const { return problem_; }

    Q_INVOKABLE void refreshPatches();
    Q_INVOKABLE bool saveCurrentPatchAs(const QString& name);
    Q_INVOKABLE bool removeUserPatch(const QString& name);
    Q_INVOKABLE void openPatchesFolder();
    Q_INVOKABLE void commitLevel();
    Q_INVOKABLE void useTrackInstrument(const QString& name, const QString& configJson, const QString& samplesDir);
    Q_INVOKABLE void selectPatch(const QString& name);
    Q_INVOKABLE void setEffects(bool on);
    Q_INVOKABLE void setChords(bool on);
    Q_INVOKABLE void learnControl(const QString& target);
    Q_INVOKABLE void cancelLearn();
    Q_INVOKABLE void clearControl(const QString& target);
    Q_INVOKABLE void resetControllers();
    Q_INVOKABLE void resetSound();
    // Every call signals; the setting is written only by commitLevel.
    Q_INVOKABLE void setLevel(double level);
    Q_INVOKABLE void shiftOctave(int direction);
    Q_INVOKABLE void keyDown(int semitone);
    Q_INVOKABLE void keyUp(int semitone);
    Q_INVOKABLE void padDown(int note);
    Q_INVOKABLE void padUp(int note);
    // Lets go of every held key and pad; MIDI-held notes stay.
    Q_INVOKABLE void releaseAll();

    // The four knobs, 0..1, never saved.
    void setBrightness(double value) { setSoundKnob(engine::LiveInstrument::kBrightness, value); }
    void setResonance(double value) { setSoundKnob(engine::LiveInstrument::kResonance, value); }
    void setAttack(double value) { setSoundKnob(engine::LiveInstrument::kAttack, value); }
    void setRelease(double value) { setSoundKnob(engine::LiveInstrument::kRelease, value); }

    // Called once by the start-up with the data folder's "patches": reads the user's
    // patches and brings back a saved user patch.
    void setPatchesDirectory(const QString& folder);
    // One decoded MIDI message from the MIDI input controller's drain.
    void handleMidiMessage(const engine::Event& event);
    // Lets go of every MIDI-held note: the input closed, or the chords switch changed.
    void releaseMidiNotes();

    // Controller number to sound control when no map is saved.
    static QMap<int, QString> defaultControllerMap();
    engine::LiveInstrument& liveInstrument() { return live_; }

    // The keep-alive timer's slot: held notes keep the sound card from its idle close.
    void keepAliveTick();
    // The audio controller opened a stream: held notes are gone, the instrument is rebuilt.
    void onStreamStarted();

signals:
    void patchChanged();
    void effectsChanged();
    void chordsChanged();
    void soundChanged();
    void learningChanged();
    void controllerMapChanged();
    void patchListChanged();
    void patchFilesMessageChanged();
    void levelChanged();
    void octaveChanged();
    void pressedChanged();
    void messageChanged();
    void noteOn(int pitch, int velocity);
    void noteOff(int pitch);

private:
    enum class LogStep { Without, With };

    void playNote(int key, int pitch);
    void releaseKey(int key);
    [[nodiscard]] bool ensureAudioStarted();
    void setMessage(const QString& text, bool problem);
    void setPatchFilesMessage(const QString& text, bool problem);
    bool applyPatch(const QString& name, LogStep logStep);
    void installPatch(const engine::Patch& patch, const nlohmann::json& configuration);
    void rebuildIfRunning();
    bool cardRunning() const;
    void padLabelsFor(const engine::Patch& patch, const nlohmann::json& configuration);
    void setSoundKnob(int knob, double value);
    void applyControllerValue(const QString& target, double value);
    void saveControllerMap();
    void loadControllerMap();
    void rebuildPatchNames();
    void writeSetting(const char* id, const QVariant& value);

    AudioController& audio_;
    core::Logger& logger_;
    engine::LiveInstrument live_;
    QStringList patchNames_;
    std::vector<UserPatch> userPatches_;
    QSet<QByteArray> patchesNamedBadly_;  // names not UTF-8 already warned about
    QString patchesDirectory_;
    QString patchFilesMessage_;
    bool patchFilesProblem_ = false;
    SettingsBridge* settings_;
    QMap<int, QString> controllerMap_;
    QString learning_;
    int octave_ = kStartOctave;
    QVariantMap padLabels_;
    QMap<int, int> heldKeys_;  // key id -> the pitch it sounds
    QSet<int> midiNotes_;
    bool liveStarted_ = false;
    // The playing patch was made from a track's configuration, so it may differ from the
    // built-in patch of the same name.
    bool trackConfigured_ = false;
    QString message_;
    bool problem_ = false;
    QTimer keepAliveTimer_;
};

}  // namespace ostrel::app
