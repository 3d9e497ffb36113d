#pragma once

#include <cstddef>

#include "model/document/Project.h"

namespace ostrel::model {

// Positions of records by id: the first match in list order. A missing id throws
// std::invalid_argument ("no track with that id", "no clip ...", "no note ...", "no device ...").
std::size_t findTrackIndex(const Project& project, const Uuid& trackId);
std::size_t findClipIndex(const Track& track, const Uuid& clipId);
std::size_t findNoteIndex(const Clip& clip, const Uuid& noteId);
std::size_t findDeviceIndex(const Track& track, const Uuid& deviceId);

// The records themselves, with the same checks and messages.
const Track& findTrack(const Project& project, const Uuid& trackId);
const Clip& findClip(const Project& project, const Uuid& trackId, const Uuid& clipId);

}  // namespace ostrel::model
