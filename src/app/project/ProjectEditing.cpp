// The editing members. Each checks and normalises its arguments and hands commands to the
// history; an unknown id, a refused value or an edit that changes nothing records nothing,
// shows no message and gives the empty result. Members whose rules are not built yet keep
// their places in the QML interface and behave like an edit with an unknown id.

#include "app/project/ProjectController.h"

#include "devices/instruments/InstrumentConfig.h"
#include "model/commands/Commands.h"

#include <QFileInfo>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::app {
namespace {

constexpr double kGrid = 1000.0;             // positions and lengths are kept to 0.001 beat
constexpr double kMaxTrackVolume = 1.5;
constexpr int kFirstPadNote = 36;
constexpr int kPadCount = 16;

QString idText(const model::Uuid& id) { return QString::fromStdString(id.toString()); }

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

// Rounded to the beat grid, halves away from zero. A value that is not a finite number, or
// that overflows on the way, gives none: it would leave a clip no file can hold.
std::optional<double> onGrid(double beats) {
    const double rounded = std::round(beats * kGrid) / kGrid;
    if (!std::isfinite(rounded)) {
        return std::nullopt;
    }
    return rounded;
}

// A position or length the song may hold: on the grid and not beyond the song's limit, so
// no door and no view can make a clip that no render survives.
std::optional<double> songBeats(double beats) {
    const std::optional<double> rounded = onGrid(beats);
    if (!rounded || !ProjectController::checkBeats(*rounded, "beats", nullptr)) {
        return std::nullopt;
    }
    return rounded;
}

// Whether a clip from start lasting length ends by the song's limit: every edit that sets a
// clip's end asks, so no door and no view makes a clip that runs past it.
bool endsWithinSong(double start, double length) {
    return ProjectController::checkBeats(start + length, "the clip's end", nullptr);
}

std::optional<double> clipStart(double beats) {
    const std::optional<double> start = songBeats(beats);
    return start ? std::optional<double>(std::max(0.0, *start)) : std::nullopt;
}

bool nameTaken(const model::Project& song, const std::string& name) {
    return std::any_of(song.tracks().begin(), song.tracks().end(),
                       [&](const model::Track& track) { return track.name == name; });
}

// "<prefix> n" for the first n from `first` that no track bears.
std::string freeTrackName(const model::Project& song, const char* prefix, std::size_t first) {
    for (std::size_t n = first;; ++n) {
        std::string candidate = std::string(prefix) + std::to_string(n);
        if (!nameTaken(song, candidate)) {
            return candidate;
        }
    }
}

std::string nextTrackName(const model::Project& song) { return freeTrackName(song, "Track ", song.tracks().size() + 1); }

// Several commands as one undo step. Executed as one composite, so a command that fails
// takes back those before it and nothing is recorded, where an open transaction would stay
// open and half applied.
void executeAsOneStep(model::History& history, std::string name, std::vector<std::unique_ptr<model::Command>> steps) {
    history.execute(std::make_unique<model::CompositeCommand>(std::move(name), std::move(steps)));
}

template <typename... Commands>
std::vector<std::unique_ptr<model::Command>> steps(std::unique_ptr<Commands>... commands) {
    std::vector<std::unique_ptr<model::Command>> all;
    (all.push_back(std::move(commands)), ...);
    return all;
}

// Whether the Drum Rack pad of this note has a sound. A "sample" that is not a text (only a
// hand-edited file holds one) plays nothing, so that pad counts as free.
bool padHasSound(const nlohmann::json& config, int note) {
    if (!config.is_object()) {
        return false;
    }
    const auto pads = config.find("pads");
    if (pads == config.end() || !pads->is_array()) {
        return false;
    }
    for (const nlohmann::json& pad : *pads) {
        if (!pad.is_object()) {
            continue;
        }
        const auto padNote = pad.find("note");
        if (padNote == pad.end() || !padNote->is_number() || padNote->get<double>() != note) {
            continue;
        }
        const auto sample = pad.find("sample");
        return sample != pad.end() && sample->is_string() && !sample->get_ref<const std::string&>().empty();
    }
    return false;
}

}  // namespace

// ---- Tracks ----------------------------------------------------------------------------

QString ProjectController::addTrack() {
    const model::Uuid id = model::Uuid::generate();
    history_->execute(std::make_unique<model::AddTrackCommand>(nextTrackName(*document_), id, model::kMidiTrackKind));
    return idText(id);
}

QString ProjectController::addAudioTrack() {
    const model::Uuid id = model::Uuid::generate();
    history_->execute(
        std::make_unique<model::AddTrackCommand>(freeTrackName(*document_, "Audio ", 1), id, model::kAudioTrackKind));
    return idText(id);
}

void ProjectController::removeTrack(const QString& id) {
    model::Uuid trackUuid;
    if (findTrack(id, &trackUuid) == nullptr) {
        return;
    }
    history_->execute(std::make_unique<model::RemoveTrackCommand>(trackUuid));
}

void ProjectController::renameTrack(const QString& id, const QString& name) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(id, &trackUuid);
    const std::string trimmed = utf8(name.trimmed());
    if (track == nullptr || trimmed.empty() || trimmed == track->name) {
        return;
    }
    history_->execute(std::make_unique<model::RenameTrackCommand>(trackUuid, trimmed));
}

void ProjectController::setTrackMuted(const QString& id, bool muted) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(id, &trackUuid);
    if (track == nullptr || track->muted == muted) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackMutedCommand>(trackUuid, muted));
}

void ProjectController::setTrackSolo(const QString& id, bool solo) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(id, &trackUuid);
    if (track == nullptr || track->solo == solo) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackSoloCommand>(trackUuid, solo));
}

void ProjectController::setTrackVolume(const QString& id, double volume) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(id, &trackUuid);
    if (track == nullptr || std::isnan(volume)) {
        return;
    }
    const double v = std::clamp(std::round(volume * 100.0) / 100.0, 0.0, kMaxTrackVolume);
    if (track->volume == v) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackVolumeCommand>(trackUuid, v));
}

// ---- Clips -----------------------------------------------------------------------------

QString ProjectController::addEmptyClip(const QString& trackId, double startBeats, double lengthBeats) {
    model::Uuid trackUuid;
    const std::optional<double> start = clipStart(startBeats);
    const std::optional<double> length = songBeats(lengthBeats);
    if (findTrack(trackId, &trackUuid) == nullptr || !start || !length ||
        !endsWithinSong(*start, std::max(kMinEmptyClipBeats, *length))) {
        return {};
    }
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = "Clip";
    clip.startBeats = *start;
    clip.lengthBeats = std::max(kMinEmptyClipBeats, *length);
    const QString result = idText(clip.id);
    history_->execute(std::make_unique<model::AddClipCommand>(trackUuid, std::move(clip)));
    return result;
}

QString ProjectController::addAudioClip(const QString& trackId, const QString& fileName, double startBeats) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const std::optional<double> start = clipStart(startBeats);
    if (track == nullptr || !start) {
        return {};
    }
    if (!model::isAudioTrack(*track)) {
        setMessage(tr("Sound files go on an audio track: add one with Edit > Add audio track."), true);
        return {};
    }
    QString error;
    const std::optional<SoundFileInfo> sound = readSoundFile(fileName, &error);
    if (!sound) {
        setMessage(error, true);
        return {};
    }
    const double length = clipBeatsOf(*sound);
    if (!endsWithinSong(*start, length)) {
        return {};
    }
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = utf8(QFileInfo(fileName).completeBaseName());
    clip.audioSource = utf8(fileName);
    clip.startBeats = *start;
    clip.lengthBeats = length;
    const QString result = idText(clip.id);
    history_->execute(std::make_unique<model::AddClipCommand>(trackUuid, std::move(clip)));
    return result;
}

std::optional<double> ProjectController::audioClipBeats(const QString& fileName) {
    const std::optional<SoundFileInfo> sound = readSoundFile(fileName);
    return sound ? std::optional<double>(clipBeatsOf(*sound)) : std::nullopt;
}

double ProjectController::clipBeatsOf(const SoundFileInfo& sound) const {
    return std::max(kMinClipBeats, onGrid(sound.seconds * document_->tempoBpm() / 60.0).value_or(kMinClipBeats));
}

bool ProjectController::dropSample(const QString& trackId, const QString& fileName, double startBeats) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    if (track == nullptr) {
        return false;
    }
    QString error;
    if (!readSoundFile(fileName, &error)) {
        setMessage(error, true);
        return false;
    }
    if (model::isAudioTrack(*track)) {
        return !addAudioClip(trackId, fileName, startBeats).isEmpty();
    }
    if (track->instrumentPatch == "Drum Rack") {
        for (int note = kFirstPadNote; note < kFirstPadNote + kPadCount; ++note) {
            if (!padHasSound(track->instrumentConfig, note)) {
                setPad(trackId, note, fileName);
                return true;
            }
        }
        setMessage(tr("All 16 pads of this Drum Rack already have a sound: drop it on a pad to replace that one."),
                   true);
        return false;
    }
    if (track->instrumentPatch == "Sampler") {
        setSamplerSample(trackId, fileName);
        return true;
    }
    nlohmann::json config = engine::defaultInstrumentConfig("Sampler");
    config["sample"] = utf8(fileName);
    executeAsOneStep(*history_, "Drop sample",
                     steps(std::make_unique<model::SetTrackInstrumentCommand>(trackUuid, "Sampler"),
                           std::make_unique<model::SetTrackInstrumentConfigCommand>(trackUuid, std::move(config))));
    return true;
}

QString ProjectController::duplicateClip(const QString& trackId, const QString& clipId) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr) {
        return {};
    }
    const std::optional<double> copyStart = songBeats(clip->startBeats + clip->lengthBeats);
    if (!copyStart || !endsWithinSong(*copyStart, clip->lengthBeats)) {
        return {};
    }
    model::Clip copy = *clip;
    copy.id = model::Uuid::generate();
    copy.startBeats = *copyStart;
    for (model::Note& note : copy.notes) {
        note.id = model::Uuid::generate();
    }
    const QString result = idText(copy.id);
    history_->execute(std::make_unique<model::AddClipCommand>(trackUuid, std::move(copy)));
    return result;
}

void ProjectController::moveClip(const QString& trackId, const QString& clipId, const QString& toTrackId,
                                 double startBeats) {
    model::Uuid sourceId;
    model::Uuid targetId;
    const model::Track* source = findTrack(trackId, &sourceId);
    const model::Track* target = toTrackId.isEmpty() ? source : findTrack(toTrackId, &targetId);
    const model::Clip* clip = source != nullptr ? findClip(*source, clipId) : nullptr;
    const std::optional<double> start = clipStart(startBeats);
    if (target == nullptr || clip == nullptr || !start || !endsWithinSong(*start, clip->lengthBeats)) {
        return;
    }
    if (target != source) {
        model::Clip moved = *clip;
        moved.startBeats = *start;
        executeAsOneStep(*history_, "Move clip",
                         steps(std::make_unique<model::RemoveClipCommand>(sourceId, clip->id),
                               std::make_unique<model::AddClipCommand>(targetId, std::move(moved))));
        return;
    }
    if (clip->startBeats == *start) {
        return;
    }
    history_->execute(std::make_unique<model::UpdateClipCommand>(sourceId, clip->id, *start, clip->lengthBeats));
}

void ProjectController::resizeClip(const QString& trackId, const QString& clipId, double lengthBeats) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    const std::optional<double> length = songBeats(lengthBeats);
    if (clip == nullptr || !length) {
        return;
    }
    const double l = std::max(kMinClipBeats, *length);
    if (clip->lengthBeats == l || !endsWithinSong(clip->startBeats, l)) {
        return;
    }
    history_->execute(std::make_unique<model::UpdateClipCommand>(trackUuid, clip->id, clip->startBeats, l));
}

QString ProjectController::splitClip(const QString& trackId, const QString& clipId, double atBeats) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr) {
        return {};
    }
    const std::optional<double> cut = onGrid(atBeats - clip->startBeats);
    // Each part keeps at least a quarter beat.
    if (!cut || *cut < kMinClipBeats || *cut > clip->lengthBeats - kMinClipBeats) {
        return {};
    }
    const double d = *cut;
    model::Clip left = *clip;
    model::Clip right = *clip;
    left.lengthBeats = d;
    left.notes.clear();
    right.id = model::Uuid::generate();
    right.startBeats = clip->startBeats + d;
    right.lengthBeats = clip->lengthBeats - d;
    right.notes.clear();
    if (!clip->audioSource.empty()) {
        right.audioOffsetSeconds += d * 60.0 / document_->tempoBpm();
    }
    for (const model::Note& note : clip->notes) {
        model::Note part = note;
        if (note.startBeats < d) {
            part.lengthBeats = std::min(note.lengthBeats, d - note.startBeats);
            left.notes.push_back(std::move(part));
        } else {
            part.startBeats = note.startBeats - d;
            right.notes.push_back(std::move(part));
        }
    }
    const QString result = idText(right.id);
    executeAsOneStep(*history_, "Split clip",
                     steps(std::make_unique<model::RemoveClipCommand>(trackUuid, clip->id),
                           std::make_unique<model::AddClipCommand>(trackUuid, std::move(left)),
                           std::make_unique<model::AddClipCommand>(trackUuid, std::move(right))));
    return result;
}

void ProjectController::removeClip(const QString& trackId, const QString& clipId) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr) {
        return;
    }
    history_->execute(std::make_unique<model::RemoveClipCommand>(trackUuid, clip->id));
}

}  // namespace ostrel::app
