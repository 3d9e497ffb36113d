#include "model/document/Lookup.h"

#include <stdexcept>

namespace ostrel::model {

namespace {

template <typename T>
std::size_t findIndex(const std::vector<T>& list, const Uuid& id, const char* message) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].id == id) return i;
    }
    throw std::invalid_argument(message);
}

}  // namespace

std::size_t findTrackIndex(const Project& project, const Uuid& trackId) {
    return findIndex(project.tracks(), trackId, "no track with that id");
}

std::size_t findClipIndex(const Track& track, const Uuid& clipId) {
    return findIndex(track.clips, clipId, "no clip with that id");
}

std::size_t findNoteIndex(const Clip& clip, const Uuid& noteId) {
    return findIndex(clip.notes, noteId, "no note with that id");
}

std::size_t findDeviceIndex(const Track& track, const Uuid& deviceId) {
    return findIndex(track.devices, deviceId, "no device with that id");
}

const Track& findTrack(const Project& project, const Uuid& trackId) {
    return project.tracks()[findTrackIndex(project, trackId)];
}

const Clip& findClip(const Project& project, const Uuid& trackId, const Uuid& clipId) {
    const Track& track = findTrack(project, trackId);
    return track.clips[findClipIndex(track, clipId)];
}

}  // namespace ostrel::model
