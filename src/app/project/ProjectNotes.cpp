// The note members, the ready-made pattern and recording. Like every edit, an unknown id, a
// refused value or an edit that changes nothing records nothing and shows no message.

#include "app/project/ProjectController.h"

#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "core/log/Logger.h"
#include "model/commands/Commands.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::app {
namespace {

constexpr int kMaxPitch = 127;
constexpr int kMaxVelocity = 127;
constexpr double kQuantizeSteps = 4.0;  // a sixteenth note: four to the beat
constexpr double kQuantizeEpsilon = 1e-9;
constexpr double kBeatsPerBar = 4.0;
constexpr double kPatternBars = 4.0;
constexpr double kMinRecordedBeats = 0.0625;
constexpr double kMinRecordingBeats = 4.0;

QString idText(const model::Uuid& id) { return QString::fromStdString(id.toString()); }

int clampVelocity(int velocity) { return std::clamp(velocity, 1, kMaxVelocity); }

bool validPitch(int pitch) { return pitch >= 0 && pitch <= kMaxPitch; }

bool withinSong(double beats) { return ProjectController::checkBeats(beats, "beats", nullptr); }

// A note as the note members build it: nothing kept from an earlier version of it.
model::Note freshNote(model::Uuid id, int pitch, int velocity, double startBeats, double lengthBeats) {
    model::Note note;
    note.id = id;
    note.pitch = pitch;
    note.velocity = clampVelocity(velocity);
    note.startBeats = startBeats;
    note.lengthBeats = lengthBeats;
    return note;
}

// The note's place in its clip and its length when both may enter the song: a length above 0,
// each value finite and the note's end at most kMaxBeats into the song. A start before the clip
// becomes its start.
std::optional<std::pair<double, double>> notePlace(const model::Clip& clip, double startBeats, double lengthBeats) {
    if (!ProjectController::checkBeats(startBeats, "start", nullptr) ||
        !ProjectController::checkBeats(lengthBeats, "length", nullptr) || !(lengthBeats > 0.0)) {
        return std::nullopt;
    }
    const double start = std::max(0.0, startBeats);
    if (!withinSong(clip.startBeats + start + lengthBeats)) {
        return std::nullopt;
    }
    return std::pair(start, lengthBeats);
}

const model::Note* findNote(const model::Clip& clip, const model::Uuid& id) {
    const auto found =
        std::find_if(clip.notes.begin(), clip.notes.end(), [&](const model::Note& note) { return note.id == id; });
    return found != clip.notes.end() ? &*found : nullptr;
}

void executeAsOneStep(model::History& history, std::string name, std::vector<std::unique_ptr<model::Command>> steps) {
    history.execute(std::make_unique<model::CompositeCommand>(std::move(name), std::move(steps)));
}

enum class PatternKind { Drums, Bass, Arpeggio };

PatternKind patternFor(const model::Track& track) {
    const QString name = QString::fromStdString(track.name);
    if (name.contains(QStringLiteral("drum"), Qt::CaseInsensitive) || track.instrumentPatch == "Modular Drums") {
        return PatternKind::Drums;
    }
    return name.contains(QStringLiteral("bass"), Qt::CaseInsensitive) ? PatternKind::Bass : PatternKind::Arpeggio;
}

// Four bars of kick, snare and eighth hi-hats on the General MIDI drum map, the last hi-hat open.
std::vector<model::Note> drumPattern() {
    struct Hit {
        int pitch;
        int velocity;
        double start;
    };
    constexpr Hit kHits[] = {{36, 115, 0.0}, {36, 100, 2.0}, {36, 90, 2.5}, {38, 110, 1.0}, {38, 110, 3.0}};
    constexpr int kClosedHat = 42;
    constexpr int kOpenHat = 46;
    constexpr int kEighths = 8;
    std::vector<model::Note> notes;
    for (int bar = 0; bar < static_cast<int>(kPatternBars); ++bar) {
        const double barStart = kBeatsPerBar * bar;
        for (const Hit& hit : kHits) {
            notes.push_back(freshNote(model::Uuid::generate(), hit.pitch, hit.velocity, barStart + hit.start, 0.25));
        }
        for (int i = 0; i < kEighths; ++i) {
            const bool lastOfAll = bar == static_cast<int>(kPatternBars) - 1 && i == kEighths - 1;
            notes.push_back(freshNote(model::Uuid::generate(), lastOfAll ? kOpenHat : kClosedHat, i % 2 == 0 ? 95 : 70,
                                      barStart + i * 0.5, 0.25));
        }
    }
    return notes;
}

// 32 eighths over a minor seventh chord, accented on each beat.
std::vector<model::Note> linePattern(int root) {
    constexpr int kSteps[] = {0, 3, 7, 10, 12, 10, 7, 3};
    constexpr int kEighths = 32;
    std::vector<model::Note> notes;
    for (int i = 0; i < kEighths; ++i) {
        notes.push_back(
            freshNote(model::Uuid::generate(), root + kSteps[i % 8], i % 4 == 0 ? 115 : 90, i * 0.5, 0.45));
    }
    return notes;
}

}  // namespace

// ---- Notes ------------------------------------------------------------------------------

QString ProjectController::addNote(const QString& trackId, const QString& clipId, int pitch, int velocity,
                                   double startBeats, double lengthBeats) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr || !validPitch(pitch)) {
        return {};
    }
    const auto place = notePlace(*clip, startBeats, lengthBeats);
    if (!place) {
        return {};
    }
    const model::Note note = freshNote(model::Uuid::generate(), pitch, velocity, place->first, place->second);
    history_->execute(std::make_unique<model::AddNoteCommand>(trackUuid, clip->id, note));
    return idText(note.id);
}

// A note id the clip does not hold is refused like any unknown id: the views pass only ids
// they have just read, and a caller that must tell the difference checks the clip first.
void ProjectController::editNote(const QString& trackId, const QString& clipId, const QString& noteId, int pitch,
                                 int velocity, double startBeats, double lengthBeats) {
    model::Uuid trackUuid;
    model::Uuid noteUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr || !validPitch(pitch) || !model::Uuid::parse(noteId.toStdString(), noteUuid)) {
        return;
    }
    const model::Note* current = findNote(*clip, noteUuid);
    const auto place = notePlace(*clip, startBeats, lengthBeats);
    if (current == nullptr || !place) {
        return;
    }
    model::Note edited = freshNote(noteUuid, pitch, velocity, place->first, place->second);
    if (edited == *current) {
        return;
    }
    history_->execute(std::make_unique<model::UpdateNoteCommand>(trackUuid, clip->id, noteUuid, std::move(edited)));
}

void ProjectController::removeNote(const QString& trackId, const QString& clipId, const QString& noteId) {
    model::Uuid trackUuid;
    model::Uuid noteUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr || !model::Uuid::parse(noteId.toStdString(), noteUuid) || findNote(*clip, noteUuid) == nullptr) {
        return;
    }
    history_->execute(std::make_unique<model::RemoveNoteCommand>(trackUuid, clip->id, noteUuid));
}

int ProjectController::quantizeClip(const QString& trackId, const QString& clipId) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(trackId, &trackUuid);
    const model::Clip* clip = track != nullptr ? findClip(*track, clipId) : nullptr;
    if (clip == nullptr) {
        return 0;
    }
    std::vector<std::unique_ptr<model::Command>> moves;
    for (const model::Note& note : clip->notes) {
        // Halves away from zero; a note never leaves the clip by being snapped.
        const double bound = std::max(0.0, clip->lengthBeats - note.lengthBeats);
        const double q = std::clamp(std::round(note.startBeats * kQuantizeSteps) / kQuantizeSteps, 0.0, bound);
        if (!std::isfinite(q) || !(std::abs(q - note.startBeats) >= kQuantizeEpsilon)) {
            continue;
        }
        moves.push_back(std::make_unique<model::UpdateNoteCommand>(
            trackUuid, clip->id, note.id, freshNote(note.id, note.pitch, note.velocity, q, note.lengthBeats)));
    }
    const int moved = static_cast<int>(moves.size());
    if (moved > 0) {
        executeAsOneStep(*history_, "Quantize clip", std::move(moves));
    }
    return moved;
}

// ---- Patterns ---------------------------------------------------------------------------

void ProjectController::addPattern(const QString& id) {
    model::Uuid trackUuid;
    const model::Track* track = findTrack(id, &trackUuid);
    if (track == nullptr || model::isAudioTrack(*track)) {
        return;
    }
    double start = 0.0;
    for (const model::Clip& clip : track->clips) {
        start = std::max(start, clip.startBeats + clip.lengthBeats);
    }
    const double length = kPatternBars * kBeatsPerBar;
    if (!withinSong(start + length)) {
        return;
    }
    const PatternKind kind = patternFor(*track);
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = "Pattern";
    clip.startBeats = start;
    clip.lengthBeats = length;
    switch (kind) {
        case PatternKind::Drums: clip.notes = drumPattern(); break;
        case PatternKind::Bass: clip.notes = linePattern(36); break;
        case PatternKind::Arpeggio: clip.notes = linePattern(60); break;
    }
    std::vector<std::unique_ptr<model::Command>> steps;
    steps.push_back(std::make_unique<model::AddClipCommand>(trackUuid, std::move(clip)));
    if (track->instrumentPatch.empty()) {
        const char* patch = kind == PatternKind::Drums ? "Modular Drums"
                            : kind == PatternKind::Bass ? "Modular Bass"
                                                        : "Modular Lead";
        steps.push_back(std::make_unique<model::SetTrackInstrumentCommand>(trackUuid, patch));
    }
    executeAsOneStep(*history_, "Add pattern", std::move(steps));
    setMessage(kind == PatternKind::Drums ? tr("Added a 4-bar drum beat. Press Render to hear it.")
                                          : tr("Added a 4-bar pattern. Press Render to hear it."),
               false);
}

// ---- Recording --------------------------------------------------------------------------

void ProjectController::startRecording(const QString& trackId) {
    const core::ActionScope action("Project > record", logger_);
    if (recording_) {
        return;
    }
    const model::Track* track = findTrack(trackId);
    if (track == nullptr) {
        setMessage(tr("Choose a track to record onto first."), true);
        return;
    }
    if (model::isAudioTrack(*track)) {
        setMessage(tr("Playing is recorded onto a MIDI track: pick one (recording audio from a microphone comes "
                      "later)."),
                   true);
        return;
    }
    double start = transport_.positionBeats();
    if (!transport_.playing()) {
        transport_.play();
        if (!transport_.playing()) {
            const QString why = transport_.audio().status();
            setMessage(why.isEmpty() ? tr("Recording did not start: the song could not play.")
                                     : tr("Recording did not start: the song could not play. %1").arg(why),
                       true);
            return;
        }
        // The audio thread may not have taken the play yet; the song starts at the start beat.
        start = transport_.startBeat();
    }
    recording_ = true;
    recordTrackId_ = trackId;
    recordStart_ = start;
    pendingNotes_.clear();
    lastPosition_ = start;
    passOffset_ = 0.0;
    wrapped_ = false;
    setMessage(tr("Recording\u2026 play the instrument, then press Record again to keep it."), false);
    emit recordingChanged();
}

void ProjectController::stopRecording() {
    if (recording_) {
        followRecordPosition();
        finishRecording();
    }
}

// A position lower than the last one seen is a loop's wrap (or play started over): the take's
// clock goes on from where it was, so a note held across the wrap keeps its length.
void ProjectController::followRecordPosition() {
    if (!recording_ || !transport_.playing()) {
        return;
    }
    const double position = transport_.positionBeats();
    if (position < lastPosition_) {
        const bool looped = transport_.loopEnabled() && transport_.loopEnd() > transport_.loopStart() &&
                            lastPosition_ <= transport_.loopEnd();
        passOffset_ += looped ? transport_.loopEnd() - transport_.loopStart() : lastPosition_ - position;
        wrapped_ = true;
    }
    lastPosition_ = position;
}

void ProjectController::recordNote(int pitch, int velocity) {
    if (!recording_) {
        return;
    }
    followRecordPosition();
    const double now = takeBeats();
    for (PendingNote& note : pendingNotes_) {
        if (!note.closed && note.pitch == pitch) {
            note.lengthBeats = std::max(kMinRecordedBeats, now - note.takeStartBeats);
            note.closed = true;
        }
    }
    // After a wrap a note lies where it was played in that pass of the loop.
    PendingNote played;
    played.pitch = pitch;
    played.velocity = clampVelocity(velocity);
    played.startBeats = wrapped_ ? lastPosition_ : std::max(recordStart_, lastPosition_);
    played.takeStartBeats = now;
    pendingNotes_.push_back(played);
}

void ProjectController::recordNoteOff(int pitch) {
    if (!recording_) {
        return;
    }
    followRecordPosition();
    for (PendingNote& note : pendingNotes_) {
        if (!note.closed && note.pitch == pitch) {
            note.lengthBeats = std::max(kMinRecordedBeats, takeBeats() - note.takeStartBeats);
            note.closed = true;
            return;
        }
    }
}

// The transport has already gone back to 0 when it says it stopped: the take ends where it
// was last seen playing.
void ProjectController::onPlayingChanged() {
    if (recording_ && !transport_.playing()) {
        finishRecording();
    } else {
        followRecordPosition();
    }
}

void ProjectController::finishRecording() {
    recording_ = false;
    emit recordingChanged();
    const QString trackText = std::exchange(recordTrackId_, QString());
    std::vector<PendingNote> played = std::exchange(pendingNotes_, {});

    model::Uuid trackUuid;
    if (findTrack(trackText, &trackUuid) == nullptr) {
        setMessage(tr("Recording finished, but the track is gone."), true);
        return;
    }
    const double now = takeBeats();
    std::vector<const PendingNote*> kept;
    double clipStart = recordStart_;
    for (PendingNote& note : played) {
        if (!note.closed) {
            note.lengthBeats = std::max(kMinRecordedBeats, now - note.takeStartBeats);
            note.closed = true;
        }
        if (!(note.lengthBeats > 0.0) || !validPitch(note.pitch) || !withinSong(note.startBeats + note.lengthBeats)) {
            continue;
        }
        kept.push_back(&note);
        clipStart = std::min(clipStart, note.startBeats);
    }
    if (kept.empty()) {
        setMessage(tr("Recording stopped \u2014 nothing was played, so no clip was added."), false);
        return;
    }
    double end = clipStart;
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.name = tr("Recording").toStdString();
    clip.startBeats = clipStart;
    for (const PendingNote* note : kept) {
        clip.notes.push_back(
            freshNote(model::Uuid::generate(), note->pitch, note->velocity, note->startBeats - clipStart, note->lengthBeats));
        end = std::max(end, note->startBeats + note->lengthBeats);
    }
    // Up to the first bar line at or after the last note, and never before beat 4.
    clip.lengthBeats = std::max(kMinRecordingBeats, kBeatsPerBar * std::ceil(end / kBeatsPerBar)) - clipStart;
    std::vector<std::unique_ptr<model::Command>> steps;
    steps.push_back(std::make_unique<model::AddClipCommand>(trackUuid, std::move(clip)));
    executeAsOneStep(*history_, "Record performance", std::move(steps));
    setMessage(tr("Recorded %1 notes into a clip. It can be undone.").arg(kept.size()), false);
}

}  // namespace ostrel::app
