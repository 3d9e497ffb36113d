#include "model/file/ProjectMigrations.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/file/ProjectFile.h"

namespace ostrel::model {
namespace {

using nlohmann::json;

TEST(ProjectMigrationTempo, BpmBecomesARealTempoBpmOrTheDefault) {
    for (const auto& [bpm, tempo] : {std::pair<json, double>{96, 96.0}, {"fast", 120.0}, {true, 120.0}}) {
        json document = {{"bpm", bpm}};
        ASSERT_TRUE(migrateProject(document, nullptr));
        EXPECT_EQ(document, (json{{"tempo_bpm", tempo}, {"format_version", 1}})) << bpm;
        EXPECT_TRUE(document["tempo_bpm"].is_number_float());
    }
}

TEST(ProjectMigrationTempo, AnExistingTempoWinsAndBpmIsKeptAsAnUnknownMember) {
    Project project;
    ASSERT_TRUE(parseProject(R"({"format": "ostrel-project", "bpm": 90, "tempo_bpm": 100, "tracks": []})", project,
                             nullptr, nullptr));
    EXPECT_EQ(project.tempoBpm(), 100.0);
    EXPECT_NE(projectToJsonText(project).find("\"bpm\": 90,"), std::string::npos);
}

TEST(ProjectMigrationKnobs, KnobsBecomeParametersUnlessParametersExist) {
    json document = json::parse(R"({"tracks": [
        {"devices": [{"knobs": {"time_ms": 250.0}}, {"knobs": [1, 2]}, 7, {"knobs": 1, "parameters": {}}]},
        "not a track", {"devices": "none"}]})");
    ASSERT_TRUE(migrateProject(document, nullptr));
    const json& devices = document["tracks"][0]["devices"];
    EXPECT_EQ(devices[0], (json{{"parameters", {{"time_ms", 250.0}}}}));
    EXPECT_EQ(devices[1], (json{{"parameters", {1, 2}}}));
    EXPECT_EQ(devices[2], 7);
    EXPECT_EQ(devices[3], (json{{"knobs", 1}, {"parameters", json::object()}}));
    EXPECT_EQ(document["tracks"][1], "not a track");
}

TEST(ProjectMigrationSteps, TheStepRaisesTheVersionAndChangesNothingElse) {
    json document = json::parse(R"({"name": "x", "tracks": [{"id": "b"}, {"id": "a", "devices": [{"z": 1}]}]})");
    json expected = document;
    expected["format_version"] = 1;
    ASSERT_TRUE(migrateProject(document, nullptr));
    EXPECT_EQ(document, expected);

    json current = {{"format_version", 1}, {"bpm", 90}, {"tracks", {{{"devices", {{{"knobs", 1}}}}}}}};
    const json before = current;
    std::string error = "untouched";
    EXPECT_TRUE(migrateProject(current, &error));
    EXPECT_EQ(current, before) << "a current document is left as it is";
    EXPECT_EQ(error, "untouched");
}

TEST(ProjectMigrationSteps, DocumentsWithoutAStepAreRefusedWithAReasonNotThrown) {
    const std::vector<std::pair<json, std::string>> refusals = {
        {{{"format_version", -3}}, "don't know how to upgrade a project file from format version -3"},
        {{{"format_version", 7}}, "this project was saved by a newer version of Ostrel (format 7)"},
        {{{"format_version", "zero"}}, "the format version of the file is not a number"},
        {{{"format_version", -1e300}}, "the format version of the file is out of range"},
        {json::array({1}), "the project file is not a JSON object"},
    };
    for (auto [document, message] : refusals) {
        std::string error;
        EXPECT_FALSE(migrateProject(document, &error)) << document;
        EXPECT_EQ(error, message);
    }
}

}  // namespace
}  // namespace ostrel::model
