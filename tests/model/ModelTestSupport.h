#pragma once

#include <memory>
#include <optional>
#include <string>

#include "model/Command.h"
#include "model/History.h"
#include "model/Project.h"

namespace ostrel::test {

// Only a History makes EditKeys; tests that call primitives directly take one from it.
inline model::EditKey editKeyForTests() {
    class KeyGrab final : public model::Command {
    public:
        explicit KeyGrab(std::optional<model::EditKey>& slot) : slot_(slot) {}
        void apply(model::Project&, model::EditKey key) override { slot_ = key; }
        void revert(model::Project&, model::EditKey) override {}
        std::string description() const override { return "grab"; }

    private:
        std::optional<model::EditKey>& slot_;
    };
    std::optional<model::EditKey> slot;
    model::Project scratch;
    model::History history(scratch, 0);
    history.execute(std::make_unique<KeyGrab>(slot));
    return *slot;
}

inline model::Uuid idFromText(const std::string& text) {
    model::Uuid id;
    model::Uuid::parse(text, id);
    return id;
}

// Three tracks; the first two hold clips with notes and a device chain.
inline model::Project sampleProject() {
    using namespace model;
    std::vector<Track> tracks;
    for (int t = 0; t < 3; ++t) {
        Track track;
        track.id = Uuid::generate();
        track.name = "Track " + std::to_string(t + 1);
        if (t < 2) {
            for (int c = 0; c < 2; ++c) {
                Clip clip;
                clip.id = Uuid::generate();
                clip.name = "Clip";
                clip.startBeats = 4.0 * c;
                for (int n = 0; n < 3; ++n) {
                    Note note;
                    note.id = Uuid::generate();
                    note.pitch = 60 + n;
                    note.startBeats = n * 0.5;
                    clip.notes.push_back(note);
                }
                track.clips.push_back(clip);
            }
            for (const char* type : {"ostrel.delay", "ostrel.chorus", "ostrel.reverb"}) {
                Device device;
                device.id = Uuid::generate();
                device.typeId = type;
                device.parameters["mix"] = 0.5;
                track.devices.push_back(device);
            }
        }
        tracks.push_back(track);
    }
    return makeProject(Uuid::generate(), "Song", 120.0, std::move(tracks), JsonValue{});
}

}  // namespace ostrel::test
