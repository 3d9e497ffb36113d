#pragma once

// Small songs for the playback tests, and a sound card that never calls back.

#include <string>
#include <utility>
#include <vector>

#include "devices/DeviceHarness.h"
#include "model/document/Project.h"

namespace ostrel::engine::harness {

// A sound card that never calls back by itself: the test renders through the engine on
// its own thread, which so plays the audio thread.
class TestBackend final : public IAudioBackend {
public:
    std::string backendName() override { return "Test"; }
    std::vector<AudioDeviceInfo> listDevices() override { return {}; }
    bool open(const AudioConfig&, RenderCallback, void*, std::string*) override { return running_ = true; }
    void close() override { running_ = false; }
    BackendState state() const override { return running_ ? BackendState::Running : BackendState::Closed; }
    LoadStats loadStats() const override { return {}; }

private:
    bool running_ = false;
};

// Small songs.
inline model::Note songNote(int pitch, double start, double length, int velocity = 100) {
    model::Note n;
    n.id = model::Uuid::generate();
    n.pitch = pitch;
    n.velocity = velocity;
    n.startBeats = start;
    n.lengthBeats = length;
    return n;
}

inline model::Clip midiClip(double start, double length, std::vector<model::Note> notes) {
    model::Clip c;
    c.id = model::Uuid::generate();
    c.startBeats = start;
    c.lengthBeats = length;
    c.notes = std::move(notes);
    return c;
}

inline model::Clip audioClip(const std::string& file, double start, double length, double offsetSeconds = 0.0) {
    model::Clip c = midiClip(start, length, {});
    c.audioSource = file;
    c.audioOffsetSeconds = offsetSeconds;
    return c;
}

inline model::Track instrumentTrack(const std::string& name, std::vector<model::Clip> clips,
                                    const std::string& instrument = "Modular Lead") {
    model::Track t;
    t.id = model::Uuid::generate();
    t.name = name;
    t.instrumentPatch = instrument;
    t.clips = std::move(clips);
    return t;
}

inline model::Track audioTrack(const std::string& name, std::vector<model::Clip> clips) {
    model::Track t = instrumentTrack(name, std::move(clips), "");
    t.kind = "audio";
    return t;
}

// One beat of middle C on a built-in: 24000 frames at 120 BPM, then the release.
inline model::Track oneNote(int pitch = 60) { return instrumentTrack("Lead", {midiClip(0, 4, {songNote(pitch, 0, 1)})}); }

inline model::Project song(std::vector<model::Track> tracks, double bpm = 120.0) {
    return model::makeProject(model::Uuid::generate(), "Song", bpm, std::move(tracks), model::JsonValue{});
}

}  // namespace ostrel::engine::harness
