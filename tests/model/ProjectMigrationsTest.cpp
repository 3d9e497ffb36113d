#include "model/ProjectMigrations.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/ProjectFile.h"

namespace ostrel::model {
namespace {

using nlohmann::json;

TEST(ProjectMigrationRegistry, HoldsOneStepFromVersionZero) {
    ASSERT_EQ(projectMigrations().size(), 1u);
    EXPECT_EQ(projectMigrations()[0].fromVersion, 0);
}

TEST(ProjectMigrationTempo, BpmBecomesTempoBpm) {
    json document = {{"bpm", 96}};
    ASSERT_TRUE(migrateProject(document, nullptr));
    EXPECT_EQ(document, (json{{"tempo_bpm", 96.0}, {"format_version", 1}}));
    EXPECT_TRUE(document["tempo_bpm"].is_number_float());
}

TEST(ProjectMigrationTempo, ABpmThatIsNotANumberGivesTheDefault) {
    json document = {{"bpm", "fast"}};
    ASSERT_TRUE(migrateProject(document, nullptr));
    EXPECT_EQ(document["tempo_bpm"], 120.0);
    document = {{"bpm", true}};
    ASSERT_TRUE(migrateProject(document, nullptr));
    EXPECT_EQ(document["tempo_bpm"], 120.0);
}

TEST(ProjectMigrationTempo, AnExistingTempoWinsAndBpmIsKeptAsAnUnknownMember) {
    const std::string text = R"({"format": "ostrel-project", "bpm": 90, "tempo_bpm": 100, "tracks": []})";
    Project project;
    ASSERT_TRUE(parseProject(text, project, nullptr, nullptr));
    EXPECT_EQ(project.tempoBpm(), 100.0);
    EXPECT_EQ(project.extra().get(), (json{{"bpm", 90}}));
    EXPECT_NE(projectToJsonText(project).find("\"bpm\": 90,"), std::string::npos);
}

TEST(ProjectMigrationKnobs, KnobsBecomeParametersWhateverTheirKind) {
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

TEST(ProjectMigrationKnobs, ArrayKnobsReadAsNoParameters) {
    const std::string text = R"({"format": "ostrel-project", "tracks": [{"devices": [
        {"device_id": "ostrel.delay", "knobs": [1, 2]},
        {"device_id": "ostrel.eq", "knobs": {"a": 1}, "parameters": {"b": 2}}]}]})";
    Project project;
    std::string error;
    ASSERT_TRUE(parseProject(text, project, &error, nullptr)) << error;
    EXPECT_TRUE(project.tracks()[0].devices[0].parameters.empty());
    EXPECT_EQ(project.tracks()[0].devices[1].parameters.at("b"), 2.0);
    EXPECT_EQ(project.tracks()[0].devices[1].extra.get(), (json{{"knobs", {{"a", 1}}}}));
}

TEST(ProjectMigrationSteps, AVersionZeroDocumentWithoutTracksStillAdvances) {
    json document = {{"format", "ostrel-project"}};
    ASSERT_TRUE(migrateProject(document, nullptr));
    EXPECT_EQ(document["format_version"], 1);

    Project project;
    std::string error;
    EXPECT_FALSE(parseProject(R"({"format": "ostrel-project", "format_version": 0})", project, &error, nullptr));
    EXPECT_EQ(error, "the project has no list of tracks");
}

TEST(ProjectMigrationSteps, NegativeVersionsHaveNoStep) {
    json document = {{"format_version", -3}};
    std::string error;
    EXPECT_FALSE(migrateProject(document, &error));
    EXPECT_EQ(error, "don't know how to upgrade a project file from format version -3");
}

TEST(ProjectMigrationSteps, ACurrentDocumentIsLeftUnchanged) {
    json document = {{"format_version", 1}, {"bpm", 90}, {"tracks", {{{"devices", {{{"knobs", 1}}}}}}}};
    const json before = document;
    std::string error = "untouched";
    EXPECT_TRUE(migrateProject(document, &error));
    EXPECT_EQ(document, before);
    EXPECT_EQ(error, "untouched");
}

TEST(ProjectMigrationSteps, ANewerDocumentIsRefused) {
    json document = {{"format_version", 7}};
    std::string error;
    EXPECT_FALSE(migrateProject(document, &error));
    EXPECT_EQ(error, "this project was saved by a newer version of Ostrel (format 7)");
}

TEST(ProjectMigrationSteps, UnreadableVersionsAreRefusedNotThrown) {
    std::string error;
    json text = {{"format_version", "zero"}};
    EXPECT_FALSE(migrateProject(text, &error));
    EXPECT_EQ(error, "the format version of the file is not a number");
    json huge = {{"format_version", -1e300}};
    EXPECT_FALSE(migrateProject(huge, &error));
    EXPECT_EQ(error, "the format version of the file is out of range");
    json array = json::array({1});
    EXPECT_FALSE(migrateProject(array, &error));
    EXPECT_EQ(error, "the project file is not a JSON object");
}

TEST(ProjectMigrationSteps, TheStepChangesNothingElse) {
    json document = json::parse(R"({"name": "x", "tracks": [{"id": "b"}, {"id": "a", "devices": [{"z": 1}]}]})");
    json expected = document;
    expected["format_version"] = 1;
    ASSERT_TRUE(migrateProjectV0ToV1(document, nullptr));
    EXPECT_EQ(document, expected);
}

}  // namespace
}  // namespace ostrel::model
