#pragma once

// The large song of the project controller's benchmarks: 32 tracks x 64 clips x 64 notes
// (131072 notes), each track an FM instrument with three effects, as in the model's benchmark,
// opened by the program's controllers over a temporary data folder and the null output.

#include "BenchSupport.h"
#include "app/AudioController.h"
#include "app/ProjectController.h"
#include "app/SettingsBridge.h"
#include "app/TransportController.h"
#include "core/Logger.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "model/ProjectFile.h"
#include "platform/NullAudioBackend.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::bench {

inline constexpr int kTracks = 32;
inline constexpr int kClips = 64;
inline constexpr int kNotes = 64;

// The extra tracks follow the large song's own.
inline model::Project largeProject(std::vector<model::Track> extra = {}) {
    std::vector<model::Track> tracks;
    for (int t = 0; t < kTracks; ++t) {
        model::Track track;
        track.id = model::Uuid::generate();
        track.name = "Track " + std::to_string(t + 1);
        track.instrumentPatch = "FM E-Piano";
        for (int c = 0; c < kClips; ++c) {
            model::Clip clip;
            clip.id = model::Uuid::generate();
            clip.name = "Clip";
            clip.startBeats = 4.0 * c;
            for (int n = 0; n < kNotes; ++n) {
                model::Note note;
                note.id = model::Uuid::generate();
                note.pitch = 36 + (n * 7) % 48;
                note.velocity = 64 + n % 64;
                note.startBeats = n * 0.0625;
                note.lengthBeats = 0.25;
                clip.notes.push_back(note);
            }
            track.clips.push_back(std::move(clip));
        }
        for (const char* type : {"ostrel.eq", "ostrel.delay", "ostrel.reverb"}) {
            model::Device device;
            device.id = model::Uuid::generate();
            device.typeId = type;
            device.parameters = {{"mix", 0.3}, {"time_ms", 250.0}};
            track.devices.push_back(device);
        }
        tracks.push_back(std::move(track));
    }
    for (model::Track& track : extra) {
        tracks.push_back(std::move(track));
    }
    return model::makeProject(model::Uuid::generate(), "Large", 128.0, std::move(tracks), model::JsonValue{});
}

// The controllers of the program over a temporary data folder and the null output.
struct Program {
    explicit Program(model::Project song = largeProject())
        : registry(core::buildSettingsRegistry()),
          store(registry),
          settings(store, registry, data.filePath("settings.json"), logger),
          audio(std::make_unique<engine::NullAudioBackend>(), settings, logger),
          transport(audio, logger, &settings),
          project(transport, logger, data.filePath("projects"), QString(), QString()) {
        require(data.isValid(), "a temporary folder");
        require(QDir().mkpath(data.filePath("projects")), "the projects folder");
        std::string error;
        require(model::saveProjectFile(QFile::encodeName(data.filePath("projects/large.ostproj")).toStdString(),
                                              song, &error),
                       "the large project file");
        require(project.openProject("large.ostproj"), "opening the large project");
    }

    // An edit that keeps the song the same size: the tempo moves between two values.
    void edit() { project.setTempo(project.tempo() == 128.0 ? 129.0 : 128.0); }

    QTemporaryDir data;
    core::Logger logger;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::SettingsBridge settings;
    app::AudioController audio;
    app::TransportController transport;
    app::ProjectController project;
};

}  // namespace ostrel::bench
