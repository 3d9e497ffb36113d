#include "model/document/Project.h"

#include <stdexcept>
#include <utility>

#include "model/document/Lookup.h"

namespace ostrel::model {

namespace {

void checkInsertIndex(std::size_t index, std::size_t count) {
    if (index > count) throw std::out_of_range("index out of range");
}

void checkIndex(std::size_t index, std::size_t count) {
    if (index >= count) throw std::out_of_range("index out of range");
}

template <typename T>
T takeAt(std::vector<T>& list, std::size_t index) {
    checkIndex(index, list.size());
    T removed = std::move(list[index]);
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(index));
    return removed;
}

// A second record with an id its list already holds would be saved into a file that the
// reader refuses whole, so the edit is refused instead.
template <typename T>
void putAt(std::vector<T>& list, std::size_t index, T item, const char* duplicateMessage) {
    checkInsertIndex(index, list.size());
    for (const T& existing : list) {
        if (existing.id == item.id) throw std::invalid_argument(duplicateMessage);
    }
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
}

// Swaps item into the place at index: no shifting, and the duplicate scan only when the
// id changes, since the ids of a list are unique.
template <typename T>
T replaceAt(std::vector<T>& list, std::size_t index, T item, const char* duplicateMessage) {
    checkIndex(index, list.size());
    if (list[index].id != item.id) {
        for (const T& existing : list) {
            if (existing.id == item.id) throw std::invalid_argument(duplicateMessage);
        }
    }
    std::swap(list[index], item);
    return item;
}

// What an edit changed gets a new stamp, after the change, so a refused edit leaves them.
void restamp(Track& track) { track.stamp = EditStamp::next(); }

void restamp(Track& track, Clip& clip) {
    clip.stamp = EditStamp::next();
    track.stamp = EditStamp::next();
}

}  // namespace

Project::Project() : id_(Uuid::generate()) {}

// The same first-match search and messages as the commands' lookups.
Track& Project::trackById(const Uuid& trackId) {
    return tracks_[findTrackIndex(*this, trackId)];
}

Clip& Project::clipById(Track& track, const Uuid& clipId) {
    return track.clips[findClipIndex(track, clipId)];
}

Device& Project::deviceById(Track& track, const Uuid& deviceId) {
    return track.devices[findDeviceIndex(track, deviceId)];
}

// A track comes in with new stamps on it and its clips, whatever they held before.
void Project::insertTrack(EditKey, std::size_t index, Track track) {
    putAt(tracks_, index, std::move(track), "a track with that id already exists");
    Track& inserted = tracks_[index];
    for (Clip& clip : inserted.clips) {
        clip.stamp = EditStamp::next();
    }
    restamp(inserted);
}

Track Project::removeTrack(EditKey, std::size_t index) {
    return takeAt(tracks_, index);
}

void Project::setTrackName(EditKey, const Uuid& trackId, std::string name) {
    Track& track = trackById(trackId);
    track.name = std::move(name);
    restamp(track);
}

void Project::setTrackInstrument(EditKey, const Uuid& trackId, std::string patchName) {
    Track& track = trackById(trackId);
    track.instrumentPatch = std::move(patchName);
    restamp(track);
}

void Project::setTrackInstrumentConfig(EditKey, const Uuid& trackId, JsonValue config) {
    Track& track = trackById(trackId);
    track.instrumentConfig = std::move(config);
    restamp(track);
}

void Project::setTrackMuted(EditKey, const Uuid& trackId, bool muted) {
    Track& track = trackById(trackId);
    track.muted = muted;
    restamp(track);
}

void Project::setTrackSolo(EditKey, const Uuid& trackId, bool solo) {
    Track& track = trackById(trackId);
    track.solo = solo;
    restamp(track);
}

void Project::setTrackVolume(EditKey, const Uuid& trackId, double volume) {
    Track& track = trackById(trackId);
    track.volume = volume;
    restamp(track);
}

void Project::insertClip(EditKey, const Uuid& trackId, std::size_t index, Clip clip) {
    Track& track = trackById(trackId);
    putAt(track.clips, index, std::move(clip), "a clip with that id already exists");
    restamp(track, track.clips[index]);
}

Clip Project::removeClip(EditKey, const Uuid& trackId, std::size_t index) {
    Track& track = trackById(trackId);
    Clip removed = takeAt(track.clips, index);
    restamp(track);
    return removed;
}

void Project::insertNote(EditKey, const Uuid& trackId, const Uuid& clipId, std::size_t index, Note note) {
    Track& track = trackById(trackId);
    Clip& clip = clipById(track, clipId);
    putAt(clip.notes, index, std::move(note), "a note with that id already exists");
    restamp(track, clip);
}

Note Project::removeNote(EditKey, const Uuid& trackId, const Uuid& clipId, std::size_t index) {
    Track& track = trackById(trackId);
    Clip& clip = clipById(track, clipId);
    Note removed = takeAt(clip.notes, index);
    restamp(track, clip);
    return removed;
}

Note Project::replaceNote(EditKey, const Uuid& trackId, const Uuid& clipId, std::size_t index, Note note) {
    Track& track = trackById(trackId);
    Clip& clip = clipById(track, clipId);
    Note replaced = replaceAt(clip.notes, index, std::move(note), "a note with that id already exists");
    restamp(track, clip);
    return replaced;
}

void Project::insertDevice(EditKey, const Uuid& trackId, std::size_t index, Device device) {
    Track& track = trackById(trackId);
    putAt(track.devices, index, std::move(device), "a device with that id already exists");
    restamp(track);
}

Device Project::removeDevice(EditKey, const Uuid& trackId, std::size_t index) {
    Track& track = trackById(trackId);
    Device removed = takeAt(track.devices, index);
    restamp(track);
    return removed;
}

void Project::setDeviceParameter(EditKey, const Uuid& trackId, const Uuid& deviceId, std::string knob,
                                 double value) {
    Track& track = trackById(trackId);
    deviceById(track, deviceId).parameters.insert_or_assign(std::move(knob), value);
    restamp(track);
}

void Project::eraseDeviceParameter(EditKey, const Uuid& trackId, const Uuid& deviceId, const std::string& knob) {
    Track& track = trackById(trackId);
    deviceById(track, deviceId).parameters.erase(knob);
    restamp(track);
}

void Project::setName(EditKey, std::string name) {
    name_ = std::move(name);
}

void Project::setTempo(EditKey, double bpm) {
    tempoBpm_ = bpm;
}

Project makeProject(Uuid id, std::string name, double tempoBpm, std::vector<Track> tracks, JsonValue extra) {
    Project project;
    project.id_ = id;
    project.name_ = std::move(name);
    project.tempoBpm_ = tempoBpm;
    project.tracks_ = std::move(tracks);
    project.extra_ = extra.isObject() ? std::move(extra) : JsonValue{};
    return project;
}

}  // namespace ostrel::model
