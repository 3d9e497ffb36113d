#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/commands/Command.h"
#include "model/commands/History.h"
#include "model/document/Project.h"

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

// A record with a fresh id and every other field at its default.
template <typename T>
T withFreshId() {
    T record;
    record.id = model::Uuid::generate();
    return record;
}

inline model::Note makeNote(std::int32_t pitch, double startBeats, std::int32_t velocity = 100) {
    auto note = withFreshId<model::Note>();
    note.pitch = pitch;
    note.startBeats = startBeats;
    note.velocity = velocity;
    return note;
}

// Runs action, expects exception E with exactly message, and the project unchanged.
template <typename E>
void expectRefused(model::Project& project, const std::function<void()>& action, const std::string& message) {
    const model::Project before = project;
    try {
        action();
        ADD_FAILURE() << "expected a throw with \"" << message << "\"";
    } catch (const E& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
    EXPECT_EQ(project, before) << "a refused edit must change nothing";
}

// "Song" at 120 BPM with three tracks ("Track 1" to "Track 3"); the first two hold two
// clips of three notes (pitches 60 to 62) and three devices whose "mix" is 0.5.
inline model::Project sampleProject() {
    using namespace model;
    std::vector<Track> tracks(3);
    for (std::size_t t = 0; t < tracks.size(); ++t) {
        Track& track = tracks[t];
        track.id = Uuid::generate();
        track.name = "Track " + std::to_string(t + 1);
        if (t == 2) continue;
        for (int c = 0; c < 2; ++c) {
            auto clip = withFreshId<Clip>();
            clip.name = "Clip";
            clip.startBeats = 4.0 * c;
            for (int n = 0; n < 3; ++n) clip.notes.push_back(makeNote(60 + n, n * 0.5));
            track.clips.push_back(clip);
        }
        for (const char* type : {"ostrel.delay", "ostrel.chorus", "ostrel.reverb"}) {
            auto device = withFreshId<Device>();
            device.typeId = type;
            device.parameters["mix"] = 0.5;
            track.devices.push_back(device);
        }
    }
    return makeProject(Uuid::generate(), "Song", 120.0, std::move(tracks), JsonValue{});
}

}  // namespace ostrel::test
