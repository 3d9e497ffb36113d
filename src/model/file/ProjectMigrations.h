#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace ostrel::model {

// The project file's "format", and the version this program writes.
inline constexpr const char* kProjectFormatName = "ostrel-project";
inline constexpr std::int32_t kProjectFormatVersion = 1;

// One upgrade step: applies to a document whose "format_version" is fromVersion, rewrites
// it in place and raises its "format_version".
struct ProjectMigration {
    std::int32_t fromVersion;
    std::function<bool(nlohmann::json& document, std::string* error)> step;
};

// Brings a parsed project document of an older version up to the current one, step by
// step. A current document is left as it is. On failure the document may be partly
// upgraded and error receives the reason. error may be null.
[[nodiscard]] bool migrateProject(nlohmann::json& document, std::string* error);

// The registry: one step per source version, built once.
const std::vector<ProjectMigration>& projectMigrations();

// Version 0 named the tempo "bpm" and a device's knobs "knobs". Always succeeds.
[[nodiscard]] bool migrateProjectV0ToV1(nlohmann::json& document, std::string* error);

// The document's "format_version", 0 when missing; a fraction is cut toward zero.
// Fails, with a reason, for a value that is not a number or lies outside 32 bits.
[[nodiscard]] bool readProjectFormatVersion(const nlohmann::json& document, std::int32_t& version, std::string* error);

}  // namespace ostrel::model
