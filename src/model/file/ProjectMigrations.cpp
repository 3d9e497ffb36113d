#include "model/file/ProjectMigrations.h"

#include <nlohmann/json.hpp>

#include "model/file/FileReading.h"

namespace ostrel::model {

bool readProjectFormatVersion(const nlohmann::json& document, std::int32_t& version, std::string* error) {
    if (!document.is_object()) {
        core::fail(error, "the project file is not a JSON object");
        return false;
    }
    const auto it = document.find("format_version");
    if (it == document.end()) {
        version = 0;
        return true;
    }
    switch (readInt32(*it, version)) {
    case WholeNumber::Read:
        return true;
    case WholeNumber::OutOfRange:
        core::fail(error, "the format version of the file is out of range");
        return false;
    case WholeNumber::NotANumber:
        break;
    }
    core::fail(error, "the format version of the file is not a number");
    return false;
}

const std::vector<ProjectMigration>& projectMigrations() {
    static const std::vector<ProjectMigration> registry = {
        {0, migrateProjectV0ToV1},
    };
    return registry;
}

bool migrateProject(nlohmann::json& document, std::string* error) {
    std::int32_t version = 0;
    if (!readProjectFormatVersion(document, version, error)) return false;
    if (version > kProjectFormatVersion) {
        core::fail(error, "this project was saved by a newer version of Ostrel (format " + std::to_string(version) + ")");
        return false;
    }
    while (version < kProjectFormatVersion) {
        const auto& registry = projectMigrations();
        const ProjectMigration* migration = nullptr;
        for (const auto& entry : registry) {
            if (entry.fromVersion == version) {
                migration = &entry;
                break;
            }
        }
        if (!migration) {
            core::fail(error,
                     "don't know how to upgrade a project file from format version " + std::to_string(version));
            return false;
        }
        if (!migration->step(document, error)) return false;
        std::int32_t next = 0;
        if (!readProjectFormatVersion(document, next, error)) return false;
        if (next <= version) {
            core::fail(error, "internal error: the migration from version " + std::to_string(version) +
                                " did not advance the version");
            return false;
        }
        version = next;
    }
    return true;
}

bool migrateProjectV0ToV1(nlohmann::json& document, std::string*) {
    if (!document.is_object()) return true;  // nothing to upgrade; the reader refuses it
    if (document.contains("bpm") && !document.contains("tempo_bpm")) {
        const nlohmann::json& bpm = document["bpm"];
        document["tempo_bpm"] = bpm.is_number() ? bpm.get<double>() : 120.0;
        document.erase("bpm");
    }
    if (auto tracks = document.find("tracks"); tracks != document.end() && tracks->is_array()) {
        for (auto& track : *tracks) {
            if (!track.is_object()) continue;
            auto devices = track.find("devices");
            if (devices == track.end() || !devices->is_array()) continue;
            for (auto& device : *devices) {
                if (!device.is_object() || !device.contains("knobs") || device.contains("parameters")) continue;
                device["parameters"] = std::move(device["knobs"]);
                device.erase("knobs");
            }
        }
    }
    document["format_version"] = kProjectFormatVersion;
    return true;
}

}  // namespace ostrel::model
