#include "app/project/ProjectController.h"

#include "app/files/FileNames.h"

#include "app/project/SongFileName.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "core/Failure.h"
#include "core/log/Logger.h"
#include "model/commands/Commands.h"
#include "model/file/ProjectFile.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <utility>

namespace ostrel::app {
namespace {

std::filesystem::path localPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

QString fromUtf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Tenths of a beat per minute, halves away from zero, within the document's range. A value
// that is not finite gives none.
std::optional<double> normalTempo(double bpm) {
    if (!std::isfinite(bpm)) {
        return std::nullopt;
    }
    return std::clamp(std::round(bpm * 10.0) / 10.0, ProjectController::kMinTempo, ProjectController::kMaxTempo);
}

// A new empty song at the given tempo.
model::Project emptyProject(model::Uuid id, std::string name, double tempoBpm) {
    return model::makeProject(id, std::move(name), tempoBpm, {}, model::JsonValue{});
}

}  // namespace

ProjectController::ProjectController(TransportController& transport, core::Logger& logger, QString projectsDir,
                                     QString exportsDir, QString samplesDir, QObject* parent)
    : ProjectController(transport, logger, std::move(projectsDir), std::move(exportsDir), std::move(samplesDir),
                        ProjectControllerHooks{}, parent) {}

ProjectController::ProjectController(TransportController& transport, core::Logger& logger, QString projectsDir,
                                     QString exportsDir, QString samplesDir, ProjectControllerHooks hooks,
                                     QObject* parent)
    : QObject(parent),
      transport_(transport),
      logger_(logger),
      projectsDirectory_(std::move(projectsDir)),
      exportsDirectory_(exportsDir.isEmpty() ? QDir(projectsDirectory_).filePath(QStringLiteral("exports"))
                                             : std::move(exportsDir)),
      document_(std::make_unique<model::Project>()),
      samplesDirectory_(samplesDir.isEmpty() ? QDir(projectsDirectory_).filePath(QStringLiteral("samples"))
                                             : std::move(samplesDir)),
      clock_(std::move(hooks.clock)),
      renderer_(logger, std::move(hooks.render)),
      playbackRenderer_(logger, {}, std::move(hooks.playback)) {
    clockStart_.start();
    savedCopy_ = *document_;
    history_ = std::make_unique<model::History>(*document_, kUndoDepth);
    listenerId_ = history_->addListener([this](const model::Change& change) { onModelChange(change); });

    resetDocument(emptyProject(document_->id(), document_->name(), transport_.tempo()), QString());

    connect(&transport_, &TransportController::tempoChanged, this, &ProjectController::onTempoChanged);
    connect(&transport_, &TransportController::aboutToPlay, this, &ProjectController::preparePlayback);
    connect(&transport_, &TransportController::playingChanged, this, &ProjectController::onPlayingChanged);
    connect(&transport_, &TransportController::beatsChanged, this, &ProjectController::followRecordPosition);
    connect(&transport_, &TransportController::loopChanged, this, &ProjectController::onLoopChanged);
    connect(&transport_.audio(), &AudioController::streamStarted, this, &ProjectController::onStreamStarted);
    connect(this, &ProjectController::projectChanged, this, &ProjectController::schedulePlaybackRebuild);

    refreshProjects();
    refreshSamples();
}

ProjectController::~ProjectController() {
    history_->removeListener(listenerId_);
    playbackRenderer_.stop();
    renderer_.stop();
}

std::int64_t ProjectController::nowMs() const { return clock_ ? clock_() : clockStart_.elapsed(); }

// ---- Reading the document -------------------------------------------------------------

QString ProjectController::name() const { return fromUtf8(document_->name()); }

double ProjectController::tempo() const { return document_->tempoBpm(); }

bool ProjectController::canUndo() const { return history_->canUndo(); }

bool ProjectController::canRedo() const { return history_->canRedo(); }

QString ProjectController::undoText() const {
    const std::optional<std::string> text = history_->undoDescription();
    return text ? fromUtf8(*text) : QString();
}

QString ProjectController::redoText() const {
    const std::optional<std::string> text = history_->redoDescription();
    return text ? fromUtf8(*text) : QString();
}

bool ProjectController::dirty() {
    if (!dirtyCache_) {
        dirtyCache_ = !(*document_ == savedCopy_);
    }
    return *dirtyCache_;
}

void ProjectController::documentTouched() {
    viewsStale_ = true;
    tracksCache_.reset();
    dirtyCache_.reset();
    renderedSong_.reset();
}

// ---- Messages ---------------------------------------------------------------------------

void ProjectController::setMessage(const QString& text, bool problem) {
    message_ = text;
    problem_ = problem;
    emit messageChanged();
}

// ---- Installing a document and following its changes ------------------------------------

void ProjectController::resetDocument(model::Project project, const QString& filePath) {
    ++renderGeneration_;
    playGeneration_ = renderGeneration_;

    history_->removeListener(listenerId_);
    history_.reset();

    // A file may hold any tempo; the song opens at the one the transport can play, and that
    // is what counts as saved, so a freshly opened song is clean. Not an undo step.
    const double installed = normalTempo(project.tempoBpm()).value_or(model::Project().tempoBpm());
    if (!(project.tempoBpm() == installed)) {
        model::History normaliser(project, 1);
        normaliser.execute(std::make_unique<model::SetTempoCommand>(installed));
    }
    *document_ = std::move(project);
    savedCopy_ = *document_;
    forgetViews();
    documentTouched();

    history_ = std::make_unique<model::History>(*document_, kUndoDepth);
    listenerId_ = history_->addListener([this](const model::Change& change) { onModelChange(change); });
    filePath_ = filePath;

    pushTempoToTransport();

    emit projectChanged();
    emit historyChanged();
    emit fileChanged();
}

void ProjectController::pushTempoToTransport() {
    if (tempoGuard_) {
        return;
    }
    tempoGuard_ = true;
    transport_.setTempo(document_->tempoBpm());
    tempoGuard_ = false;
}

void ProjectController::onModelChange(const model::Change& change) {
    logger_.recordStep("project", "change: " + change.description);
    documentTouched();
    // After every change, so an undone or redone tempo reaches the transport too.
    pushTempoToTransport();
    emit projectChanged();
    emit historyChanged();
}

void ProjectController::onTempoChanged() {
    // The controller's own pushes come back here; the document already has that tempo.
    if (tempoGuard_) {
        return;
    }
    applyTempo(transport_.tempo());
}

void ProjectController::setTempo(double bpm) { applyTempo(bpm); }

bool ProjectController::checkFinite(double value, const char* name, std::string* error) {
    if (std::isfinite(value)) {
        return true;
    }
    return core::fail(error, std::string(name) + " must be a finite number");
}

bool ProjectController::checkBeats(double beats, const char* name, std::string* error) {
    if (std::isfinite(beats) && beats <= kMaxBeats) {
        return true;
    }
    return core::fail(error, std::string(name) + " must be a finite number of beats, at most 100000");
}

void ProjectController::applyTempo(double bpm) {
    const std::optional<double> t = normalTempo(bpm);
    if (!t || *t == document_->tempoBpm()) {
        return;
    }
    history_->execute(std::make_unique<model::SetTempoCommand>(*t));
}

void ProjectController::renameProject(const QString& name) {
    const QString trimmed = name.trimmed();
    const std::string text = trimmed.toUtf8().toStdString();
    if (text.empty() || text == document_->name()) {
        return;
    }
    history_->execute(std::make_unique<model::SetProjectNameCommand>(text));
}

void ProjectController::undo() {
    if (history_->canUndo()) {
        history_->undo();
    }
}

void ProjectController::redo() {
    if (history_->canRedo()) {
        history_->redo();
    }
}

// ---- New, open, save ----------------------------------------------------------------------

bool ProjectController::confirmDiscard(const char* action) {
    if (!dirty()) {
        return true;
    }
    const QString name = QString::fromLatin1(action);
    const std::int64_t now = nowMs();
    if (name == pendingDiscard_ && discardStartedMs_ >= 0 && now - discardStartedMs_ < kDiscardConfirmMs) {
        pendingDiscard_.clear();
        return true;
    }
    pendingDiscard_ = name;
    discardStartedMs_ = now;
    setMessage(tr("There are unsaved changes. Press the button again to discard them, or press Save first."), true);
    return false;
}

void ProjectController::newProject() {
    if (!confirmDiscard("new")) {
        return;
    }
    resetDocument(emptyProject(model::Uuid::generate(), "Untitled", transport_.tempo()), QString());
    setMessage(tr("New project."), false);
}

bool ProjectController::openProject(const QString& fileName) {
    if (fileName.isEmpty() || QFileInfo(fileName).fileName() != fileName) {
        setMessage(tr("That is not a file in the projects folder."), true);
        return false;
    }
    if (!confirmDiscard("open")) {
        return false;
    }
    const QString path = QDir(projectsDirectory_).filePath(fileName);
    const core::ActionScope action("Project > open " + path.toStdString(), logger_);

    model::Project project;
    std::string error;
    std::vector<std::string> warnings;
    if (!model::loadProjectFile(localPath(path), project, &error, &warnings)) {
        logger_.log(core::LogLevel::ERROR, "project", error);
        setMessage(tr("Could not open %1: %2").arg(fileName, fromUtf8(error)), true);
        return false;
    }
    for (const std::string& warning : warnings) {
        logger_.log(core::LogLevel::WARN, "project", fileName.toStdString() + ": " + warning);
    }
    resetDocument(std::move(project), path);
    if (warnings.empty()) {
        setMessage(tr("Opened %1").arg(fileName), false);
    } else {
        setMessage(tr("Opened %1 (%2 note(s) about newer parts of the file)")
                       .arg(fileName, QString::number(static_cast<qulonglong>(warnings.size()))),
                   false);
    }
    return true;
}

bool ProjectController::save() {
    QString target = filePath_;
    const QDir projects(projectsDirectory_);
    if (target.isEmpty()) {
        const QString base = songFileBase(name());
        target = projects.filePath(base.left(kFileBaseLength) + QStringLiteral(".ostproj"));
        if (QFileInfo::exists(target)) {
            QString numbered;
            for (int n = 2; n <= 999 && numbered.isEmpty(); ++n) {
                const QString candidate =
                    projects.filePath(QStringLiteral("%1 %2.ostproj").arg(base.left(kNumberedFileBaseLength), QString::number(n)));
                if (!QFileInfo::exists(candidate)) {
                    numbered = candidate;
                }
            }
            // Every numbered name taken: the song's own id makes a name no other song has, so
            // no other file is overwritten.
            target = numbered.isEmpty()
                         ? projects.filePath(QStringLiteral("%1 %2.ostproj")
                                                 .arg(base.left(kNumberedFileBaseLength),
                                                      QString::fromStdString(document_->id().toString())))
                         : numbered;
        }
    }
    if (std::string why; !makeFolderToWrite(projectsDirectory_, &why)) {
        setMessage(tr("Ostrel could not create the projects folder (%1).").arg(fromUtf8(why)), true);
        return false;
    }
    const core::ActionScope action("Project > save " + target.toStdString(), logger_);
    std::string error;
    if (!model::saveProjectFile(localPath(target), *document_, &error)) {
        logger_.log(core::LogLevel::ERROR, "project", error);
        setMessage(tr("Could not save: %1").arg(fromUtf8(error)), true);
        return false;
    }
    savedCopy_ = *document_;
    dirtyCache_ = false;
    filePath_ = target;
    refreshProjects();
    emit projectChanged();
    emit fileChanged();
    setMessage(tr("Saved %1").arg(QDir::toNativeSeparators(target)), false);
    return true;
}

// ---- File lists and folders ------------------------------------------------------------

void ProjectController::refreshProjects() {
    QStringList files;
    const QDir folder(projectsDirectory_);
    if (folder.exists()) {
        files = folder.entryList({QStringLiteral("*.ostproj")}, QDir::Files, QDir::NoSort);
        std::sort(files.begin(), files.end());
    }
    if (files == projectFiles_) {
        return;
    }
    projectFiles_ = files;
    emit projectFilesChanged();
}

void ProjectController::refreshSamples() {
    QStringList files;
    const QDir folder(samplesDirectory_);
    if (folder.exists()) {
        // Each entry once, whatever the case of its extension. Names that differ only in case
        // are different files here and both stay.
        files = folder.entryList({QStringLiteral("*.wav"), QStringLiteral("*.WAV")}, QDir::Files, QDir::NoSort);
        std::sort(files.begin(), files.end(), [](const QString& a, const QString& b) {
            const int folded = a.compare(b, Qt::CaseInsensitive);
            return folded != 0 ? folded < 0 : a.toUtf8() < b.toUtf8();
        });
        files.erase(std::unique(files.begin(), files.end()), files.end());
        warnNamesNotUtf8(samplesDirectory_, {".wav"}, "the sound file", "project", logger_, samplesNamedBadly_);
    }
    soundFiles_.clear();
    forgetViews();
    renderedSong_.reset();
    sampleFiles_ = files;
    emit samplesChanged();
}

void ProjectController::openProjectsFolder() {
    (void)makeFolderToWrite(projectsDirectory_);
    QDesktopServices::openUrl(QUrl::fromLocalFile(projectsDirectory_));
}

void ProjectController::openSamplesFolder() {
    (void)makeFolderToWrite(samplesDirectory_);
    QDesktopServices::openUrl(QUrl::fromLocalFile(samplesDirectory_));
}

// ---- Lookups ----------------------------------------------------------------------------

const model::Track* ProjectController::findTrack(const QString& id, model::Uuid* parsed) const {
    model::Uuid uuid;
    if (!model::Uuid::parse(id.toStdString(), uuid)) {
        return nullptr;
    }
    if (parsed != nullptr) {
        *parsed = uuid;
    }
    for (const model::Track& track : document_->tracks()) {
        if (track.id == uuid) {
            return &track;
        }
    }
    return nullptr;
}

const model::Clip* ProjectController::findClip(const model::Track& track, const QString& id,
                                               model::Uuid* parsed) const {
    model::Uuid uuid;
    if (!model::Uuid::parse(id.toStdString(), uuid)) {
        return nullptr;
    }
    if (parsed != nullptr) {
        *parsed = uuid;
    }
    for (const model::Clip& clip : track.clips) {
        if (clip.id == uuid) {
            return &clip;
        }
    }
    return nullptr;
}

const model::Device* ProjectController::findDevice(const model::Track& track, const QString& id,
                                                   model::Uuid* parsed) const {
    model::Uuid uuid;
    if (!model::Uuid::parse(id.toStdString(), uuid)) {
        return nullptr;
    }
    if (parsed != nullptr) {
        *parsed = uuid;
    }
    for (const model::Device& device : track.devices) {
        if (device.id == uuid) {
            return &device;
        }
    }
    return nullptr;
}

}  // namespace ostrel::app
