#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "model/document/Clip.h"
#include "model/document/Device.h"
#include "model/document/EditKey.h"
#include "model/document/JsonValue.h"
#include "model/document/Note.h"
#include "model/document/Track.h"
#include "model/document/Uuid.h"

namespace ostrel::model {

// The song document: a tempo and tracks. Positions and lengths are in beats, tempo in
// beats per minute. GUI thread only and never locked; other threads get an immutable copy
// (std::shared_ptr<const Project>).
//
// Every change goes through a primitive that takes an EditKey, so only commands run by
// the History can edit. A primitive that throws has changed nothing: a missing id throws
// std::invalid_argument, a bad index std::out_of_range. Values are stored as they come.
class Project {
public:
    // A fresh random id, "Untitled", 120 BPM, no tracks.
    Project();

    const Uuid& id() const { return id_; }
    const std::string& name() const { return name_; }
    double tempoBpm() const { return tempoBpm_; }
    const std::vector<Track>& tracks() const { return tracks_; }
    const JsonValue& extra() const { return extra_; }

    void insertTrack(EditKey key, std::size_t index, Track track);
    Track removeTrack(EditKey key, std::size_t index);
    void setTrackName(EditKey key, const Uuid& trackId, std::string name);
    void setTrackInstrument(EditKey key, const Uuid& trackId, std::string patchName);
    void setTrackInstrumentConfig(EditKey key, const Uuid& trackId, JsonValue config);
    void setTrackMuted(EditKey key, const Uuid& trackId, bool muted);
    void setTrackSolo(EditKey key, const Uuid& trackId, bool solo);
    void setTrackVolume(EditKey key, const Uuid& trackId, double volume);

    void insertClip(EditKey key, const Uuid& trackId, std::size_t index, Clip clip);
    Clip removeClip(EditKey key, const Uuid& trackId, std::size_t index);

    void insertNote(EditKey key, const Uuid& trackId, const Uuid& clipId, std::size_t index, Note note);
    Note removeNote(EditKey key, const Uuid& trackId, const Uuid& clipId, std::size_t index);
    // Puts note in the place of the one at index and returns that one; every other note
    // keeps its place. Throws like insertNote when another note of the clip has note's id.
    Note replaceNote(EditKey key, const Uuid& trackId, const Uuid& clipId, std::size_t index, Note note);

    void insertDevice(EditKey key, const Uuid& trackId, std::size_t index, Device device);
    Device removeDevice(EditKey key, const Uuid& trackId, std::size_t index);
    void setDeviceParameter(EditKey key, const Uuid& trackId, const Uuid& deviceId, std::string knob, double value);
    // An absent knob changes nothing.
    void eraseDeviceParameter(EditKey key, const Uuid& trackId, const Uuid& deviceId, const std::string& knob);

    void setName(EditKey key, std::string name);
    void setTempo(EditKey key, double bpm);

    // Every field; doubles with ==, so a NaN anywhere makes a project unequal to itself.
    bool operator==(const Project&) const = default;

private:
    friend Project makeProject(Uuid id, std::string name, double tempoBpm, std::vector<Track> tracks, JsonValue extra);

    Track& trackById(const Uuid& trackId);
    Clip& clipById(Track& track, const Uuid& clipId);
    Device& deviceById(Track& track, const Uuid& deviceId);

    Uuid id_;
    std::string name_ = "Untitled";
    double tempoBpm_ = 120.0;
    std::vector<Track> tracks_;
    JsonValue extra_;
};

// A project with these fields; an extra that is not a JSON object becomes an empty one.
// Used for a new project and by the file reader.
Project makeProject(Uuid id, std::string name, double tempoBpm, std::vector<Track> tracks, JsonValue extra);

}  // namespace ostrel::model
