#pragma once

#include "app/project/SoundFileCache.h"
#include "model/commands/History.h"
#include "model/document/Project.h"
#include "playback/render/BackgroundRenderer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ostrel::core {
class Logger;
}

namespace ostrel::model {
struct Clip;
struct Device;
struct Track;
}  // namespace ostrel::model

namespace ostrel::app {

class TransportController;

// What a request to export the song as a WAV file came to.
struct WavExport {
    enum class Outcome { Written, Queued, Refused };
    Outcome outcome = Outcome::Refused;
    QString path;    // the file written, or the one the queued render will write
    QString reason;  // why it was refused, as the message line says it
};

// What tests put in place of the real background renders and of the guard's clock.
struct ProjectControllerHooks {
    // Runs on the render thread instead of the song renderer; empty for the song renderer.
    engine::BackgroundRenderer::RenderFunction render;
    // The same for the renders that play, in place of renderForPlayback.
    engine::BackgroundRenderer::PlaybackRenderFunction playback;
    // Steady milliseconds for the unsaved-changes guard; empty for a timer started here.
    std::function<std::int64_t()> clock;
};

// The context object `project`: owns the song document and its undo history and is the only
// road by which the document changes. Opens and saves project files, links the document's
// tempo with the transport, gives the QML plain maps of the song, has the song rendered
// into the engine's backing track in the background when play starts and again after edits
// while playing (the engine plays it while it renders), and exports WAV files. Messages
// follow one rule: `message` and `problem` are set and signalled on every report, also when
// unchanged.
// GUI thread only; the background renderers' workers only ever see immutable snapshots.
class ProjectController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString name READ name NOTIFY projectChanged)
    Q_PROPERTY(double tempo READ tempo NOTIFY projectChanged)
    Q_PROPERTY(QVariantList tracks READ tracks NOTIFY projectChanged)
    Q_PROPERTY(double lengthBeats READ lengthBeats NOTIFY projectChanged)
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY historyChanged)
    Q_PROPERTY(bool canRedo READ canRedo NOTIFY historyChanged)
    Q_PROPERTY(QString undoText READ undoText NOTIFY historyChanged)
    Q_PROPERTY(QString redoText READ redoText NOTIFY historyChanged)
    Q_PROPERTY(bool dirty READ dirty NOTIFY projectChanged)
    Q_PROPERTY(QString filePath READ filePath NOTIFY fileChanged)
    Q_PROPERTY(QString projectsDirectory READ projectsDirectory NOTIFY fileChanged)
    Q_PROPERTY(QString exportsDirectory READ exportsDirectory NOTIFY fileChanged)
    Q_PROPERTY(QStringList projectFiles READ projectFiles NOTIFY projectFilesChanged)
    Q_PROPERTY(QStringList sampleFiles READ sampleFiles NOTIFY samplesChanged)
    Q_PROPERTY(QString samplesDirectory READ samplesDirectory NOTIFY samplesChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool problem READ problem NOTIFY messageChanged)
    Q_PROPERTY(bool recording READ recording NOTIFY recordingChanged)
    Q_PROPERTY(QVariantList trackRevisions READ trackRevisions NOTIFY projectChanged)

public:
    static constexpr std::size_t kUndoDepth = 200;
    static constexpr std::int64_t kDiscardConfirmMs = 6000;
    static constexpr double kMinTempo = 20.0;
    static constexpr double kMaxTempo = 300.0;
    static constexpr int kRenderBlockSize = 512;
    static constexpr double kExportSampleRate = 48000.0;
    static constexpr int kExportChannels = 2;
    static constexpr qsizetype kFileBaseLength = 60;
    static constexpr qsizetype kNumberedFileBaseLength = 56;
    // The farthest song position or length an edit may set, in beats: hours of audio at any
    // tempo, and far below what a render could not survive.
    static constexpr double kMaxBeats = 100000.0;
    // The shortest an empty clip is made, and the shortest a clip is resized, split or made
    // from a sound file, in beats. No clip may end past kMaxBeats, whatever made it.
    static constexpr double kMinEmptyClipBeats = 1.0;
    static constexpr double kMinClipBeats = 0.25;

    // Whether a value may enter the song at all; NaN and infinities never may. The reason
    // names the value as `name`. Every door checks through these, so all refuse alike.
    [[nodiscard]] static bool checkFinite(double value, const char* name, std::string* error);
    // A position or length in beats: finite and at most kMaxBeats.
    [[nodiscard]] static bool checkBeats(double beats, const char* name, std::string* error);

    // An empty exportsDir is projectsDir's "exports", an empty samplesDir its "samples".
    // No folder is created here.
    ProjectController(TransportController& transport, core::Logger& logger, QString projectsDir, QString exportsDir,
                      QString samplesDir, QObject* parent = nullptr);
    ProjectController(TransportController& transport, core::Logger& logger, QString projectsDir, QString exportsDir,
                      QString samplesDir, ProjectControllerHooks hooks, QObject* parent = nullptr);
    // Stops a render for playback, waits for the exports in progress and waiting; results
    // not collected are dropped.
    ~ProjectController() override;

    QString name() const;
    double tempo() const;
    QVariantList tracks();
    double lengthBeats() const;
    bool canUndo() const;
    bool canRedo() const;
    QString undoText() const;
    QString redoText() const;
    bool dirty();
    QString filePath() const { return filePath_; }
    QString projectsDirectory() const { return projectsDirectory_; }
    QString exportsDirectory() const { return exportsDirectory_; }
    QStringList projectFiles() const { return projectFiles_; }
    QStringList sampleFiles() const { return sampleFiles_; }
    QString samplesDirectory() const { return samplesDirectory_; }
    QString message() const { return message_; }
    bool problem() const { return problem_; }
    bool recording() const { return recording_; }
    // One number a track, in song order: the `revision` of its TrackMap. The QML compares
    // these to the maps it holds and asks again only for the tracks whose number moved.
    QVariantList trackRevisions();

    // The document as it stands; for the control API and tests, never to be kept.
    const model::Project& document() const { return *document_; }

    // Q_INVOKABLE members, in the order the QML and the control API number them.
    Q_INVOKABLE void refreshSamples();
    Q_INVOKABLE void openSamplesFolder();
    Q_INVOKABLE void startRecording(const QString& trackId);
    Q_INVOKABLE void stopRecording();
    Q_INVOKABLE void recordNote(int pitch, int velocity);
    Q_INVOKABLE void recordNoteOff(int pitch);
    Q_INVOKABLE QString trackInstrument(const QString& id);
    Q_INVOKABLE QStringList clipNotes(const QString& trackId, const QString& clipId);
    Q_INVOKABLE QString addNote(const QString& trackId, const QString& clipId, int pitch, int velocity,
                                double startBeats, double lengthBeats);
    Q_INVOKABLE void removeNote(const QString& trackId, const QString& clipId, const QString& noteId);
    Q_INVOKABLE void editNote(const QString& trackId, const QString& clipId, const QString& noteId, int pitch,
                              int velocity, double startBeats, double lengthBeats);
    Q_INVOKABLE QVariantList effectCatalogue() const;
    Q_INVOKABLE QVariantList deviceKnobs(const QString& deviceId) const;
    Q_INVOKABLE QString addDevice(const QString& trackId, const QString& deviceId, const QString& presetName);
    Q_INVOKABLE void removeDevice(const QString& trackId, const QString& deviceId);
    Q_INVOKABLE void setDeviceEnabled(const QString& trackId, const QString& deviceId, bool enabled);
    Q_INVOKABLE void moveDevice(const QString& trackId, const QString& deviceId, int newIndex);
    Q_INVOKABLE void setDeviceParameter(const QString& trackId, const QString& deviceId, const QString& key,
                                        double value);
    Q_INVOKABLE QString addEmptyClip(const QString& trackId, double startBeats, double lengthBeats);
    Q_INVOKABLE void moveClip(const QString& trackId, const QString& clipId, const QString& toTrackId,
                              double startBeats);
    Q_INVOKABLE void resizeClip(const QString& trackId, const QString& clipId, double lengthBeats);
    Q_INVOKABLE QString splitClip(const QString& trackId, const QString& clipId, double atBeats);
    Q_INVOKABLE void removeClip(const QString& trackId, const QString& clipId);
    Q_INVOKABLE QString duplicateClip(const QString& trackId, const QString& clipId);
    Q_INVOKABLE int quantizeClip(const QString& trackId, const QString& clipId);
    Q_INVOKABLE QString addTrack();
    Q_INVOKABLE QString addAudioTrack();
    Q_INVOKABLE QString trackKind(const QString& id) const;
    Q_INVOKABLE QString addAudioClip(const QString& trackId, const QString& fileName, double startBeats);
    // How long, in beats at the song's tempo, a clip of this file of the samples folder would
    // be; none when the file cannot be read.
    std::optional<double> audioClipBeats(const QString& fileName);
    Q_INVOKABLE void renameTrack(const QString& id, const QString& name);
    Q_INVOKABLE void removeTrack(const QString& id);
    // Trimmed; an empty name or the current one changes nothing.
    Q_INVOKABLE void renameProject(const QString& name);
    // Rounded to 0.1 and held within 20..300; the same tempo again records nothing.
    Q_INVOKABLE void setTempo(double bpm);
    Q_INVOKABLE void setTrackInstrument(const QString& id, const QString& patchName);
    Q_INVOKABLE void cycleTrackInstrument(const QString& id);
    Q_INVOKABLE void setInstrumentParameter(const QString& trackId, const QString& key, double value);
    Q_INVOKABLE bool dropSample(const QString& trackId, const QString& fileName, double startBeats);
    Q_INVOKABLE void setSamplerSample(const QString& trackId, const QString& fileName);
    Q_INVOKABLE void setSamplerParameter(const QString& trackId, const QString& key, double value);
    Q_INVOKABLE void setPad(const QString& trackId, int note, const QString& fileName);
    Q_INVOKABLE void clearPad(const QString& trackId, int note);
    Q_INVOKABLE void setPadParameter(const QString& trackId, int note, const QString& key, double value);
    Q_INVOKABLE void setTrackMuted(const QString& id, bool muted);
    Q_INVOKABLE void setTrackSolo(const QString& id, bool solo);
    Q_INVOKABLE void setTrackVolume(const QString& id, double volume);
    Q_INVOKABLE void addPattern(const QString& id);
    // With an application object the export renders in the background and the result is
    // empty; without one it renders here and gives the written file's path, or empty.
    Q_INVOKABLE QString renderToWav();
    // The same export, saying whether it was written, queued or refused.
    WavExport exportWav();
    Q_INVOKABLE void undo();
    Q_INVOKABLE void redo();
    Q_INVOKABLE void newProject();
    // A document opened or saved once is saved to the same file again.
    Q_INVOKABLE bool save();
    // A bare file name in the projects folder.
    Q_INVOKABLE bool openProject(const QString& fileName);
    Q_INVOKABLE void refreshProjects();
    Q_INVOKABLE void openProjectsFolder();
    // One TrackMap, by id or by place in the song; an empty map when there is none. Built
    // once per change of that track and kept, like every map of `tracks`.
    Q_INVOKABLE QVariantMap track(const QString& id);
    Q_INVOKABLE QVariantMap trackAt(int index);
    // The clip's notes as one [pitch, start, length] list each, exact, in the clip's order;
    // empty for an unknown track or clip. Built at the first ask after the clip changed.
    Q_INVOKABLE QVariantList clipNoteList(const QString& trackId, const QString& clipId);

    // Stores both and signals messageChanged every time.
    void setMessage(const QString& text, bool problem);
    // Called by main every 40 ms: takes the background renders that finished (or, for
    // playback, started), reports them and returns everything it took, oldest first.
    std::vector<engine::RenderResult> onRenderFinished();

signals:
    void projectChanged();
    void historyChanged();
    void fileChanged();
    void projectFilesChanged();
    void samplesChanged();
    void messageChanged();
    void recordingChanged();

private:
    void resetDocument(model::Project project, const QString& filePath);
    bool confirmDiscard(const char* action);
    void onModelChange(const model::Change& change);
    void onTempoChanged();
    // Rounds and clamps; records one step when the result differs from the document's.
    void applyTempo(double bpm);
    void pushTempoToTransport();
    // Marks what the views keep between reads as behind the document, so the next read builds
    // again what an edit changed; every change of the document calls it.
    void documentTouched();
    std::int64_t nowMs() const;

    // Playback and rendering.
    void preparePlayback();
    void schedulePlaybackRebuild();
    void rebuildPlayback();
    void onLoopChanged();
    // The first frame a play from `beats` needs: there, or the loop's start when the loop
    // brings the playhead back before it.
    std::int64_t playbackFrom(double beats) const;
    // Has the song rendered from `from` into a new track; false (and a message) when the
    // render could not start. AtOnce: the engine plays the track at once (a play, a sound
    // card at another rate). Covered (an edit while playing): the renderer picks the start
    // near the playhead and the track goes to the engine once its render has started.
    bool startPlaybackRender(std::int64_t from, engine::TakeOver takeOver);
    // The song from `from` in a track the engine plays at once; no track when that fails.
    void renderAndPlay(std::int64_t from);
    // A reopened sound card at another rate while playing: the song again at that rate.
    void onStreamStarted();
    // Without an event loop: the same render, finished here.
    void renderPlaybackNow(std::int64_t from);
    void installBackingTrack(std::shared_ptr<engine::BackingTrack> track, std::int64_t from = 0);
    // A new render's track to the engine, kept for the next play when the song reads no
    // sound file (its warning, if any, said again then).
    void playNewTrack(std::shared_ptr<engine::BackingTrack> track, std::int64_t from,
                      const engine::RenderSettings& settings, const QString& warning);
    QString renderJob();
    engine::RenderSettings playbackSettings() const;
    engine::RenderSettings exportSettings() const;
    std::optional<SoundFileInfo> readSoundFile(const QString& fileName, QString* error = nullptr);
    // How long a clip of that sound is, in beats at the song's tempo.
    double clipBeatsOf(const SoundFileInfo& sound) const;

    // Recording: the transport stopping ends a take; its position is followed while recording.
    void onPlayingChanged();
    void followRecordPosition();
    // The take's clock: transport beats plus the loop passes and jumps back already gone by.
    double takeBeats() const { return lastPosition_ + passOffset_; }
    void finishRecording();

    // Views. Each track's map and each clip's map and note list are kept between reads and
    // made again only for what an edit stamped since (the model's EditStamp), so an edit of one
    // track costs that track's views, whatever the size of the song.
    struct ClipView {
        model::Uuid id;
        std::uint64_t stamp = 0;
        QVariantMap map;
        std::optional<QVariantList> notes;  // made at the first ask
    };
    struct TrackView {
        model::Uuid id;
        std::uint64_t stamp = 0;
        int index = 0;
        qint64 revision = 0;
        QVariantMap map;
        std::vector<ClipView> clips;  // in the track's clip order
    };
    // Brings the kept views in step with the document, if an edit came since.
    void syncViews();
    // Empties the kept views: another song, or sound files read again.
    void forgetViews();
    TrackView buildTrackView(const model::Track& track, int index, TrackView* previous);
    QVariantMap clipMap(const model::Clip& clip);
    QVariantMap deviceMap(const model::Device& device) const;
    const TrackView* findTrackView(const QString& id);

    // Lookups by id text; a text that does not parse is an unknown id.
    const model::Track* findTrack(const QString& id, model::Uuid* parsed = nullptr) const;
    const model::Clip* findClip(const model::Track& track, const QString& id, model::Uuid* parsed = nullptr) const;
    const model::Device* findDevice(const model::Track& track, const QString& id, model::Uuid* parsed = nullptr) const;

    TransportController& transport_;
    core::Logger& logger_;
    QString projectsDirectory_;
    QString exportsDirectory_;
    std::unique_ptr<model::Project> document_;
    std::unique_ptr<model::History> history_;
    model::Project savedCopy_;
    int listenerId_ = 0;
    QString filePath_;
    QStringList projectFiles_;
    QStringList sampleFiles_;
    QSet<QByteArray> samplesNamedBadly_;  // names not UTF-8 already warned about
    QString samplesDirectory_;
    SoundFileCache soundFiles_;
    QString message_;
    bool problem_ = false;
    bool tempoGuard_ = false;  // set while the controller itself moves the transport's tempo
    bool rebuildPending_ = false;
    // Every playback render gets the next number. Renders before playGeneration_ were made
    // for another play, song or sound card; the engine has the track of installedGeneration_.
    std::uint64_t renderGeneration_ = 0;
    std::uint64_t playGeneration_ = 0;
    std::uint64_t installedGeneration_ = 0;
    QString pendingDiscard_;
    std::int64_t discardStartedMs_ = -1;  // -1: the guard's timer has not been started
    bool recording_ = false;
    // One key press while recording. Song beats place it in the clip; take beats, which keep
    // running across a loop's wrap, measure how long it was held.
    struct PendingNote {
        int pitch = 0;  // as played; checked when the clip is written
        int velocity = 0;
        double startBeats = 0.0;
        double takeStartBeats = 0.0;
        double lengthBeats = 0.0;  // 0 until closed
        bool closed = false;
    };
    QString recordTrackId_;
    double recordStart_ = 0.0;
    std::vector<PendingNote> pendingNotes_;
    double lastPosition_ = 0.0;  // the transport's position when last seen playing
    double passOffset_ = 0.0;
    bool wrapped_ = false;  // the position went back at least once during the take
    // Kept exactly in step with the document: marked stale by every change, undo and redo,
    // emptied by an install and a sample refresh, so a read returns what a fresh build would.
    std::vector<TrackView> trackViews_;
    bool viewsStale_ = true;
    qint64 lastRevision_ = 0;
    std::optional<QVariantList> tracksCache_;
    std::optional<bool> dirtyCache_;
    // The last song rendered for playback, kept only for a song that reads no sound file
    // (no audio clip, no Sampler or Drum Rack), so that it depends on the document alone.
    // Its render is never stopped while it is kept.
    struct RenderedSong {
        double sampleRate = 0.0;
        int channels = 0;
        std::int64_t from = 0;  // the first frame it was rendered for
        std::shared_ptr<engine::BackingTrack> track;
        QString warning;  // the first render warning, or empty
    };
    std::optional<RenderedSong> renderedSong_;
    // The song can play from `from` without waiting longer than a new render would.
    bool servesPlayFrom(const RenderedSong& song, std::int64_t from, const engine::RenderSettings& settings) const;
    std::int64_t installedFrom_ = -1;  // the frame the engine's track was rendered from; -1: none
    double installedRate_ = 0.0;       // and the sample rate
    QElapsedTimer clockStart_;
    std::function<std::int64_t()> clock_;
    engine::BackgroundRenderer renderer_;          // exports
    engine::BackgroundRenderer playbackRenderer_;  // renders that play, never behind an export
};

}  // namespace ostrel::app
