// The editing members. Each checks and normalises its arguments and hands commands to the
// history; an unknown id, a refused value or an edit that changes nothing records nothing,
// shows no message and gives the empty result. Members whose rules are not built yet keep
// their places in the QML interface and behave like an edit with an unknown id.

#include "app/project/ProjectController.h"

#include "devices/instruments/InstrumentConfig.h"
#include "model/Commands.h"

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
constexpr double kMinEmptyClipBeats = 1.0;
constexpr double kMinClipBeats = 0.25;       // an audio clip, a resized clip, each part of a split
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
    model::Uuid trackId;
    if (findTrack(id, &trackId) == nullptr) {
        return;
    }
    history_->execute(std::make_unique<model::RemoveTrackCommand>(trackId));
}

void ProjectController::renameTrack(const QString& id, const QString& name) {
    model::Uuid trackId;
    const model::Track* track = findTrack(id, &trackId);
    const std::string trimmed = utf8(name.trimmed());
    if (track == nullptr || trimmed.empty() || trimmed == track->name) {
        return;
    }
    history_->execute(std::make_unique<model::RenameTrackCommand>(trackId, trimmed));
}

void ProjectController::setTrackMuted(const QString& id, bool muted) {
    model::Uuid trackId;
    const model::Track* track = findTrack(id, &trackId);
    if (track == nullptr || track->muted == muted) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackMutedCommand>(trackId, muted));
}

void ProjectController::setTrackSolo(const QString& id, bool solo) {
    model::Uuid trackId;
    const model::Track* track = findTrack(id, &trackId);
    if (track == nullptr || track->solo == solo) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackSoloCommand>(trackId, solo));
}

void ProjectController::setTrackVolume(const QString& id, double volume) {
    model::Uuid trackId;
    const model::Track* track = findTrack(id, &trackId);
    if (track == nullptr || std::isnan(volume)) {
        return;
    }
    const double v = std::clamp(std::round(volume * 100.0) / 100.0, 0.0, kMaxTrackVolume);
    if (track->volume == v) {
        return;
    }
    history_->execute(std::make_unique<model::SetTrackVolumeCommand>(trackId, v));
}

// ---- Clips -----------------------------------------------------------------------------

QString ProjectController::addEmptyClip(const QString& track_id, double start_beats, double length_beats) {
    model::Uuid trackId;
    const std::optional<double> start = clipStart(start_beats);
    const std::optional<double> length = songBeats(length_beats);
    if (findTrack(track_id, &trackId) == nullptr || !start || !length) {
        return {};
    }
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = "Clip";
    clip.startBeats = *start;
    clip.lengthBeats = std::max(kMinEmptyClipBeats, *length);
    const QString result = idText(clip.id);
    history_->execute(std::make_unique<model::AddClipCommand>(trackId, std::move(clip)));
    return result;
}

QString ProjectController::addAudioClip(const QString& track_id, const QString& file_name, double start_beats) {
    model::Uuid trackId;
    const model::Track* track = findTrack(track_id, &trackId);
    const std::optional<double> start = clipStart(start_beats);
    if (track == nullptr || !start) {
        return {};
    }
    if (!model::isAudioTrack(*track)) {
        setMessage(tr("Sound files go on an audio track: add one with Edit > Add audio track."), true);
        return {};
    }
    QString error;
    const std::optional<SoundFileInfo> sound = readSoundFile(file_name, &error);
    if (!sound) {
        setMessage(error, true);
        return {};
    }
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = utf8(QFileInfo(file_name).completeBaseName());
    clip.audioSource = utf8(file_name);
    clip.startBeats = *start;
    clip.lengthBeats =
        std::max(kMinClipBeats, onGrid(sound->seconds * document_->tempoBpm() / 60.0).value_or(kMinClipBeats));
    const QString result = idText(clip.id);
    history_->execute(std::make_unique<model::AddClipCommand>(trackId, std::move(clip)));
    return result;
}

bool ProjectController::dropSample(const QString& track_id, const QString& file_name, double start_beats) {
    model::Uuid trackId;
    const model::Track* track = findTrack(track_id, &trackId);
    if (track == nullptr) {
        return false;
    }
    QString error;
    if (!readSoundFile(file_name, &error)) {
        setMessage(error, true);
        return false;
    }
    if (model::isAudioTrack(*track)) {
        return !addAudioClip(track_id, file_name, start_beats).isEmpty();
    }
    if (track->instrumentPatch == "Drum Rack") {
        for (int note = kFirstPadNote; note < kFirstPadNote + kPadCount; ++note) {
            if (!padHasSound(track->instrumentConfig, note)) {
                setPad(track_id, note, file_name);
                return true;
            }
        }
        setMessage(tr("All 16 pads of this Drum Rack already have a sound: drop it on a pad to replace that one."),
                   true);
        return false;
    }
    if (track->instrumentPatch == "Sampler") {
        setSamplerSample(track_id, file_name);
        return true;
    }
    nlohmann::json config = engine::defaultInstrumentConfig("Sampler");
    config["sample"] = utf8(file_name);
    executeAsOneStep(*history_, "Drop sample",
                     steps(std::make_unique<model::SetTrackInstrumentCommand>(trackId, "Sampler"),
                           std::make_unique<model::SetTrackInstrumentConfigCommand>(trackId, std::move(config))));
    return true;
}

QString ProjectController::duplicateClip(const QString& track_id, const QString& clip_id) {
    model::Uuid trackId;
    const model::Track* track = findTrack(track_id, &trackId);
    const model::Clip* clip = track != nullptr ? findClip(*track, clip_id) : nullptr;
    if (clip == nullptr) {
        return {};
    }
    const std::optional<double> copyStart = songBeats(clip->startBeats + clip->lengthBeats);
    if (!copyStart) {
        return {};
    }
    model::Clip copy = *clip;
    copy.id = model::Uuid::generate();
    copy.startBeats = *copyStart;
    for (model::Note& note : copy.notes) {
        note.id = model::Uuid::generate();
    }
    const QString result = idText(copy.id);
    history_->execute(std::make_unique<model::AddClipCommand>(trackId, std::move(copy)));
    return result;
}

void ProjectController::moveClip(const QString& track_id, const QString& clip_id, const QString& to_track_id,
                                 double start_beats) {
    model::Uuid sourceId;
    model::Uuid targetId;
    const model::Track* source = findTrack(track_id, &sourceId);
    const model::Track* target = to_track_id.isEmpty() ? source : findTrack(to_track_id, &targetId);
    const model::Clip* clip = source != nullptr ? findClip(*source, clip_id) : nullptr;
    const std::optional<double> start = clipStart(start_beats);
    if (target == nullptr || clip == nullptr || !start) {
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

void ProjectController::resizeClip(const QString& track_id, const QString& clip_id, double length_beats) {
    model::Uuid trackId;
    const model::Track* track = findTrack(track_id, &trackId);
    const model::Clip* clip = track != nullptr ? findClip(*track, clip_id) : nullptr;
    const std::optional<double> length = songBeats(length_beats);
    if (clip == nullptr || !length) {
        return;
    }
    const double l = std::max(kMinClipBeats, *length);
    if (clip->lengthBeats == l) {
        return;
    }
    history_->execute(std::make_unique<model::UpdateClipCommand>(trackId, clip->id, clip->startBeats, l));
}

QString ProjectController::splitClip(const QString& track_id, const QString& clip_id, double at_beats) {
    model::Uuid trackId;
    const model::Track* track = findTrack(track_id, &trackId);
    const model::Clip* clip = track != nullptr ? findClip(*track, clip_id) : nullptr;
    if (clip == nullptr) {
        return {};
    }
    const std::optional<double> cut = onGrid(at_beats - clip->startBeats);
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
                     steps(std::make_unique<model::RemoveClipCommand>(trackId, clip->id),
                           std::make_unique<model::AddClipCommand>(trackId, std::move(left)),
                           std::make_unique<model::AddClipCommand>(trackId, std::move(right))));
    return result;
}

void ProjectController::removeClip(const QString& track_id, const QString& clip_id) {
    model::Uuid trackId;
    const model::Track* track = findTrack(track_id, &trackId);
    const model::Clip* clip = track != nullptr ? findClip(*track, clip_id) : nullptr;
    if (clip == nullptr) {
        return;
    }
    history_->execute(std::make_unique<model::RemoveClipCommand>(trackId, clip->id));
}

}  // namespace ostrel::app
