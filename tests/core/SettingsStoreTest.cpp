#include "core/SettingsStore.h"

#include "core/BuildInfo.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <variant>

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using namespace ostrel::core;
using ostrel::test::readFile;
using ostrel::test::TempDir;
using ostrel::test::writeFile;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const SettingsRegistry& registry() {
    static const SettingsRegistry built = buildSettingsRegistry();
    return built;
}

std::string version() { return std::string(buildInfo().version); }

// A settings file exactly as the store writes it, with the given "values" body lines.
std::string fileWithValues(const std::string& valuesBody) {
    const std::string values = valuesBody.empty() ? "{}" : "{\n" + valuesBody + "\n  }";
    return "{\n  \"app_version\": \"" + version() + "\",\n  \"format_version\": 1,\n  \"values\": " + values + "\n}\n";
}

void expectAllDefaults(const SettingsStore& store) {
    for (const SettingDef& def : registry().settings) {
        EXPECT_TRUE(store.isDefault(def.key)) << def.key;
        EXPECT_EQ(store.value(def.key), def.defaultValue) << def.key;
    }
}

const std::string kUnreadableWarning = "settings file was unreadable; kept as settings.json.bad and defaults were used";

}  // namespace

TEST(SettingsStoreValuesTest, FreshStoreReadsDefaults) {
    const SettingsStore store(registry());
    expectAllDefaults(store);
    EXPECT_EQ(store.getInt("api.port"), 8642);
    EXPECT_TRUE(store.getBool("appearance.show_help_strip"));
    EXPECT_EQ(store.getString("logging.level"), "info");
}

TEST(SettingsStoreValuesTest, UnknownKeyThrowsOutOfRange) {
    const SettingsStore store(registry());
    try {
        store.value("no.such");
        FAIL() << "no exception";
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "unknown setting: no.such");
    }
    EXPECT_TRUE(store.isDefault("no.such"));
}

TEST(SettingsStoreValuesTest, WrongAlternativeThrowsWithoutConversion) {
    const SettingsStore store(registry());
    EXPECT_THROW(store.getBool("api.port"), std::bad_variant_access);
    EXPECT_THROW(store.getInt("transport.tempo"), std::bad_variant_access);
    EXPECT_THROW(store.getString("api.enabled"), std::bad_variant_access);
}

TEST(SettingsStoreValuesTest, SettingBackToDefaultRemovesOverride) {
    SettingsStore store(registry());
    ASSERT_TRUE(store.set("api.port", std::int64_t{9000}, nullptr));
    EXPECT_FALSE(store.isDefault("api.port"));
    EXPECT_EQ(store.getInt("api.port"), 9000);
    ASSERT_TRUE(store.set("api.port", std::int64_t{8642}, nullptr));
    EXPECT_TRUE(store.isDefault("api.port"));
}

TEST(SettingsStoreValuesTest, RealSettingStoresAnIntegerAsDouble) {
    SettingsStore store(registry());
    ASSERT_TRUE(store.set("instrument.level", std::int64_t{1}, nullptr));
    EXPECT_EQ(store.value("instrument.level"), SettingValue(1.0));
}

TEST(SettingsStoreValuesTest, RefusedSetLeavesStoreUnchanged) {
    SettingsStore store(registry());
    std::string error;
    EXPECT_FALSE(store.set("logging.level", std::string("verbose"), &error));
    EXPECT_EQ(error, "'verbose' is not an option for logging.level");
    EXPECT_FALSE(store.set("no.such", true, &error));
    EXPECT_EQ(error, "unknown setting: no.such");
    EXPECT_FALSE(store.set("appearance.ui_scale", std::int64_t{300}, nullptr));
    expectAllDefaults(store);
}

TEST(SettingsStoreValuesTest, SuccessfulSetLeavesErrorUntouched) {
    SettingsStore store(registry());
    std::string error = "untouched";
    EXPECT_TRUE(store.set("api.enabled", true, &error));
    EXPECT_TRUE(store.set("api.enabled", true, &error));
    EXPECT_EQ(error, "untouched");
}

TEST(SettingsFileFormatTest, FreshStoreWritesEmptyValues) {
    TempDir dir;
    const SettingsStore store(registry());
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues(""));
}

TEST(SettingsFileFormatTest, OneSwitchWritesOneMember) {
    SettingsStore store(registry());
    ASSERT_TRUE(store.set("api.enabled", true, nullptr));
    EXPECT_EQ(store.toJsonText(), fileWithValues("    \"api.enabled\": true"));
}

TEST(SettingsFileFormatTest, FileRoundTripsByteForByteWithUnknownKeys) {
    const std::string original = fileWithValues(
        "    \"a.future\": {\n"
        "      \"nested\": [\n"
        "        1,\n"
        "        2.5,\n"
        "        null\n"
        "      ]\n"
        "    },\n"
        "    \"api.enabled\": true,\n"
        "    \"api.port\": 9000,\n"
        "    \"instrument.level\": 1.0,\n"
        "    \"instrument.patch\": \"Glöckchen \\\"Nº 5\\\" ✓\",\n"
        "    \"logging.level\": \"debug\",\n"
        "    \"transport.tempo\": 133.33333333333334,\n"
        "    \"zz.older\": \"kept\"");
    TempDir dir;
    writeFile(dir / "settings.json", original);
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());
    EXPECT_EQ(store.getString("instrument.patch"), "Glöckchen \"Nº 5\" ✓");
    EXPECT_EQ(std::get<double>(store.value("transport.tempo")), 400.0 / 3.0);
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(readFile(dir / "settings.json"), original);
}

TEST(SettingsFileFormatTest, SavedValuesLoadIntoAnEqualStore) {
    TempDir dir;
    SettingsStore written(registry());
    ASSERT_TRUE(written.set("appearance.theme", std::string("high-contrast"), nullptr));
    ASSERT_TRUE(written.set("appearance.ui_scale", std::int64_t{75}, nullptr));
    ASSERT_TRUE(written.set("appearance.show_help_strip", false, nullptr));
    ASSERT_TRUE(written.set("transport.tempo", 0.1 + 20.2, nullptr));
    ASSERT_TRUE(written.set("instrument.level", 0.0, nullptr));
    ASSERT_TRUE(written.set("api.token", std::string("0123456789abcdef0123456789abcdef"), nullptr));
    ASSERT_TRUE(written.save(dir / "settings.json", nullptr));

    SettingsStore read(registry());
    ASSERT_TRUE(read.set("api.port", std::int64_t{9999}, nullptr));  // replaced by the load
    EXPECT_THAT(read.load(dir / "settings.json"), IsEmpty());
    for (const SettingDef& def : registry().settings) {
        EXPECT_EQ(read.value(def.key), written.value(def.key)) << def.key;
        EXPECT_EQ(read.isDefault(def.key), written.isDefault(def.key)) << def.key;
    }
    EXPECT_EQ(read.toJsonText(), written.toJsonText());
}

TEST(SettingsFileFormatTest, EntryEqualToDefaultIsDroppedOnSave) {
    TempDir dir;
    writeFile(dir / "settings.json", fileWithValues("    \"api.port\": 8642"));
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());
    EXPECT_TRUE(store.isDefault("api.port"));
    EXPECT_EQ(store.toJsonText(), fileWithValues(""));
}

TEST(SettingsFileFormatTest, IntegerOneForRealSettingIsStoredAsDouble) {
    TempDir dir;
    writeFile(dir / "settings.json", R"({"values": {"instrument.level": 1}})");
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());
    EXPECT_EQ(store.value("instrument.level"), SettingValue(1.0));
    EXPECT_FALSE(store.isDefault("instrument.level"));
}

TEST(SettingsLoadTest, MissingFileGivesDefaultsAndNoWarnings) {
    TempDir dir;
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"), IsEmpty());
    EXPECT_EQ(store.getInt("api.port"), 8642);
    EXPECT_FALSE(fs::exists(dir / "settings.json.bad"));
}

TEST(SettingsLoadTest, NewerFileKeepsUnknownSettings) {
    TempDir dir;
    writeFile(dir / "settings.json",
              R"({"format_version": 2, "values": {"future.option": [1, 2], "api.enabled": true}})");
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"),
                ElementsAre("settings file was written by a newer version of Ostrel; unknown settings are kept as "
                            "they are"));
    EXPECT_TRUE(store.getBool("api.enabled"));
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    const auto saved = nlohmann::json::parse(readFile(dir / "settings.json"));
    EXPECT_EQ(saved["values"]["future.option"], nlohmann::json::array({1, 2}));
    EXPECT_EQ(saved["format_version"], 1);
    EXPECT_EQ(saved["app_version"], version());
}

TEST(SettingsLoadTest, FormatVersionOfOddKindsIsReadAsAnInteger) {
    const std::string newer =
        "settings file was written by a newer version of Ostrel; unknown settings are kept as they are";
    const struct {
        const char* version;
        std::vector<std::string> warnings;
    } cases[] = {
        {"1.9", {}},
        {"2.0", {newer}},
        {"1e300", {newer}},
        {"18446744073709551615", {newer}},
        {"-4", {}},
        {"true", {}},
        {"\"2\"", {"settings file has a format_version that is not a number; it was read as version 1"}},
        {"null", {"settings file has a format_version that is not a number; it was read as version 1"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        writeFile(dir / "settings.json",
                  std::string("{\"format_version\": ") + c.version + R"(, "values": {"api.port": 9000}})");
        SettingsStore store(registry());
        EXPECT_EQ(store.load(dir / "settings.json"), c.warnings) << c.version;
        EXPECT_EQ(store.getInt("api.port"), 9000) << c.version;
    }
}

TEST(SettingsLoadTest, WrongJsonKindIsIgnoredWithoutThrowing) {
    // nlohmann's value(key, default) would throw on these; every one must come back as a warning.
    TempDir dir;
    writeFile(dir / "settings.json", R"({"values": {
        "api.enabled": "yes", "api.port": "9000", "api.osc.port": 9000.0, "appearance.theme": ["dark"],
        "audio.output_device": {"id": 1}, "logging.level": 3, "transport.tempo": null,
        "transport.metronome": 1, "appearance.ui_scale": 100.0}})");
    SettingsStore store(registry());
    std::vector<std::string> warnings;
    ASSERT_NO_THROW(warnings = store.load(dir / "settings.json"));
    EXPECT_THAT(warnings, ElementsAre("ignored invalid value for api.enabled", "ignored invalid value for api.osc.port",
                                      "ignored invalid value for api.port", "ignored invalid value for appearance.theme",
                                      "ignored invalid value for appearance.ui_scale",
                                      "ignored invalid value for audio.output_device",
                                      "ignored invalid value for logging.level",
                                      "ignored invalid value for transport.metronome",
                                      "ignored invalid value for transport.tempo"));
    expectAllDefaults(store);
    EXPECT_EQ(store.toJsonText(), fileWithValues(""));
}

TEST(SettingsLoadTest, ValueOutsideItsRangeGivesTheValidatorsReason) {
    TempDir dir;
    writeFile(dir / "settings.json",
              R"({"values": {"appearance.ui_scale": 300, "logging.level": "Info", "instrument.level": -0.5}})");
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"),
                ElementsAre("ignored invalid value for appearance.ui_scale (appearance.ui_scale must be between 75 "
                            "and 200)",
                            "ignored invalid value for instrument.level (instrument.level is outside its allowed "
                            "range)",
                            "ignored invalid value for logging.level ('Info' is not an option for logging.level)"));
    expectAllDefaults(store);
}

TEST(SettingsLoadTest, IntegerBeyondInt64IsNotWrappedRound) {
    // 2^64 - 1 would wrap to -1 if narrowed.
    TempDir dir;
    writeFile(dir / "settings.json",
              R"({"values": {"api.port": 18446744073709551615, "api.osc.port": -9223372036854775808}})");
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"),
                ElementsAre("ignored invalid value for api.osc.port (api.osc.port must be between 1024 and 65535)",
                            "ignored invalid value for api.port"));
    EXPECT_TRUE(store.isDefault("api.port"));
}

TEST(SettingsLoadTest, ConversionTakesOnlyItsKind) {
    using nlohmann::json;
    SettingValue out = std::string("untouched");
    EXPECT_FALSE(settingValueFromJson(*registry().findDefinition("api.port"), json(1.0), out));
    EXPECT_FALSE(settingValueFromJson(*registry().findDefinition("api.enabled"), json(0), out));
    EXPECT_FALSE(settingValueFromJson(*registry().findDefinition("api.token"), json(nullptr), out));
    EXPECT_EQ(out, SettingValue(std::string("untouched")));
    EXPECT_TRUE(settingValueFromJson(*registry().findDefinition("transport.tempo"), json(120u), out));
    EXPECT_EQ(out, SettingValue(120.0));
    EXPECT_TRUE(settingValueFromJson(*registry().findDefinition("api.port"), json(70000u), out));
    EXPECT_EQ(out, SettingValue(std::int64_t{70000}));  // converted; the range is validation's business
}

TEST(SettingsUnreadableFileTest, DamagedFilesAreMovedAsideAndDefaultsUsed) {
    const std::string damaged[] = {
        R"({"values": {"api.port": 9000)",  // truncated
        "",
        R"([{"values": {}}])",
        R"({"format_version": 1})",
        R"({"values": [1, 2]})",
        R"({"values": {} /* no comments */})",
        "{\"values\": {\"api.token\": \"\xff\"}}",  // not UTF-8
        // nested deeper than the writer's recursion could take
        R"({"values": {"x": )" + std::string(100000, '[') + std::string(100000, ']') + "}}",
    };
    for (const std::string& bytes : damaged) {
        TempDir dir;
        writeFile(dir / "settings.json", bytes);
        SettingsStore store(registry());
        EXPECT_THAT(store.load(dir / "settings.json"), ElementsAre(kUnreadableWarning)) << bytes.substr(0, 40);
        expectAllDefaults(store);
        EXPECT_FALSE(fs::exists(dir / "settings.json"));
        EXPECT_EQ(readFile(dir / "settings.json.bad"), bytes);
    }
}

TEST(SettingsUnreadableFileTest, EarlierBadFileIsReplaced) {
    TempDir dir;
    writeFile(dir / "settings.json.bad", "from last week");
    writeFile(dir / "settings.json", "garbage");
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"), ElementsAre(kUnreadableWarning));
    EXPECT_EQ(readFile(dir / "settings.json.bad"), "garbage");
}

TEST(SettingsUnreadableFileTest, NextSaveWritesFreshFileBesideTheBadOne) {
    TempDir dir;
    writeFile(dir / "settings.json", "garbage");
    SettingsStore store(registry());
    store.load(dir / "settings.json");
    ASSERT_TRUE(store.set("api.enabled", true, nullptr));
    ASSERT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues("    \"api.enabled\": true"));
    EXPECT_EQ(readFile(dir / "settings.json.bad"), "garbage");
}

TEST(SettingsUnreadableFileTest, FolderInPlaceOfTheFileIsMovedAside) {
    TempDir dir;
    fs::create_directory(dir / "settings.json");
    SettingsStore store(registry());
    EXPECT_THAT(store.load(dir / "settings.json"), ElementsAre(kUnreadableWarning));
    EXPECT_TRUE(fs::is_directory(dir / "settings.json.bad"));
    EXPECT_TRUE(store.save(dir / "settings.json", nullptr));
}

// Regression: a file that could be neither read nor moved aside was overwritten with
// defaults by the next save, losing every setting the user had.
TEST(SettingsUnreadableFileTest, FileThatCannotBeMovedAsideIsNeverOverwritten) {
    TempDir dir;
    writeFile(dir / "settings.json", R"({"values": {"api.port": 9000, )");
    fs::create_directories(dir / "settings.json.bad/blocker");  // a full folder: neither removable nor replaceable
    SettingsStore store(registry());
    const std::vector<std::string> warnings = store.load(dir / "settings.json");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("settings file was unreadable and could not be moved aside (", 0), 0u) << warnings[0];
    EXPECT_NE(warnings[0].find("); defaults were used and it will not be overwritten"), std::string::npos);
    expectAllDefaults(store);

    ASSERT_TRUE(store.set("api.enabled", true, nullptr));
    std::string error;
    EXPECT_FALSE(store.save(dir / "settings.json", &error));
    EXPECT_EQ(error.rfind("cannot save over " + (dir / "settings.json").string() +
                              ": it could not be read and could not be moved aside (",
                          0),
              0u)
        << error;
    EXPECT_EQ(readFile(dir / "settings.json"), R"({"values": {"api.port": 9000, )");

    // Another file is not protected.
    EXPECT_TRUE(store.save(dir / "other.json", nullptr));

    // Once the way is clear the damaged file is kept aside and the save goes through.
    fs::remove_all(dir / "settings.json.bad");
    ASSERT_TRUE(store.save(dir / "settings.json", &error)) << error;
    EXPECT_EQ(readFile(dir / "settings.json.bad"), R"({"values": {"api.port": 9000, )");
    EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues("    \"api.enabled\": true"));
}

TEST(SettingsUnreadableFileTest, ProtectedFileRemovedByTheUserIsWrittenAfresh) {
    TempDir dir;
    writeFile(dir / "settings.json", "garbage");
    fs::create_directories(dir / "settings.json.bad/blocker");
    SettingsStore store(registry());
    store.load(dir / "settings.json");
    fs::remove(dir / "settings.json");
    EXPECT_TRUE(store.save(dir / "settings.json", nullptr));
    EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues(""));
}

// Regression: nlohmann's strict dump threw type_error out of save and toJsonText for a
// text setting holding bytes that are not UTF-8, such as a Linux port name.
TEST(SettingsSaveTest, TextThatIsNotUtf8FailsWithAReason) {
    TempDir dir;
    writeFile(dir / "settings.json", fileWithValues("    \"api.enabled\": true"));
    SettingsStore store(registry());
    store.load(dir / "settings.json");
    ASSERT_TRUE(store.set("midi.input_device", std::string("USB MIDI \xC3\x28", 11), nullptr));

    std::string error;
    bool saved = true;
    ASSERT_NO_THROW(saved = store.save(dir / "settings.json", &error));
    EXPECT_FALSE(saved);
    EXPECT_EQ(error, "the value of midi.input_device is not valid UTF-8 text");
    EXPECT_EQ(readFile(dir / "settings.json"), fileWithValues("    \"api.enabled\": true"));

    std::string text = "x";
    std::string reason;
    ASSERT_NO_THROW(text = store.toJsonText(&reason));
    EXPECT_EQ(text, "");
    EXPECT_EQ(reason, "the value of midi.input_device is not valid UTF-8 text");
    ASSERT_NO_THROW(store.toJsonText());

    ASSERT_TRUE(store.set("midi.input_device", std::string("USB MIDI"), nullptr));
    EXPECT_TRUE(store.save(dir / "settings.json", &error));
}

TEST(SettingsSaveTest, WriterFailureIsPassedOn) {
    TempDir dir;
    fs::create_directories(dir / "settings.json/inside");
    const SettingsStore store(registry());
    std::string error;
    EXPECT_FALSE(store.save(dir / "settings.json", &error));
    EXPECT_EQ(error.rfind("cannot replace " + (dir / "settings.json").string() + ": ", 0), 0u) << error;
    EXPECT_FALSE(fs::exists(dir / "settings.json.tmp"));
}
