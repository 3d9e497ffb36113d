#include "app/settings/SettingsBridge.h"

#include "AppTestSupport.h"
#include "app/settings/SettingEntryMap.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "support/TempDir.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <limits>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

const core::SettingsRegistry& registryOfProgram() {
    static const core::SettingsRegistry built = core::buildSettingsRegistry();
    return built;
}

// A bridge saving into a temporary folder (or into settingsFile when given).
struct Bridge {
    explicit Bridge(const core::SettingsRegistry& reg = registryOfProgram(), QString settingsFile = {})
        : registry(reg), store(registry),
          settings(store, registry, settingsFile.isEmpty() ? qPath(dir / "settings.json") : settingsFile, log.logger) {}

    // The value the settings file holds for key, read back by a fresh store.
    core::SettingValue savedValue(const std::string& key) const {
        core::SettingsStore reader(registry);
        EXPECT_TRUE(reader.load(dir / "settings.json").empty());
        return reader.value(key);
    }
    bool fileExists() const { return std::filesystem::exists(dir / "settings.json"); }

    TempDir dir;
    RecordingLogger log;
    const core::SettingsRegistry& registry;
    core::SettingsStore store;
    SettingsBridge settings;
};

// A registry with one integer setting whose range holds negative numbers.
const core::SettingsRegistry& countRegistry() {
    static const core::SettingsRegistry built = [] {
        core::SettingsRegistry registry;
        registry.categories = {{"test", "Test"}};
        core::SettingDef def;
        def.key = "test.count";
        def.type = core::SettingType::integer;
        def.category = "test";
        def.label = "Count";
        def.help = "How many.";
        def.defaultValue = std::int64_t{0};
        def.min = -10;
        def.max = 10;
        registry.addSetting(def);
        return registry;
    }();
    return built;
}

QStringList idsOf(const QVariantList& entries) {
    QStringList ids;
    for (const QVariant& entry : entries) ids.append(entry.toMap().value("id").toString());
    return ids;
}

}  // namespace

TEST(SettingsBridgeValueTest, EveryKindIsStoredAsItsOwnTypeAndSavedAtOnce) {
    struct Case { const char* id; QVariant given; core::SettingValue saved; QVariant read; };
    const Case cases[] = {
        {"appearance.reduce_motion", true, true, true},
        {"appearance.ui_scale", 125, std::int64_t{125}, qint64{125}},
        {"instrument.level", 0.25, 0.25, 0.25},
        {"instrument.level", 1, 1.0, 1.0},
        {"appearance.custom_theme", QStringLiteral("nächte"), std::string("nächte"), QStringLiteral("nächte")},
        {"audio.sample_rate", 96000, std::string("96000"), QStringLiteral("96000")},
    };
    for (const Case& c : cases) {
        Bridge bridge;
        EXPECT_TRUE(bridge.settings.setValue(c.id, c.given)) << c.id;
        EXPECT_EQ(bridge.savedValue(c.id), c.saved) << c.id;
        EXPECT_EQ(bridge.settings.value(c.id), c.read) << c.id;
        EXPECT_EQ(bridge.settings.value(c.id).typeId(), c.read.typeId()) << c.id;
    }
}

TEST(SettingsBridgeValueTest, TextAndFractionsAreConvertedToTheSettingsType) {
    Bridge bridge(countRegistry());
    const std::pair<QVariant, qint64> counts[] = {
        {2.5, 3}, {-2.5, -3}, {QStringLiteral("7"), 7}, {QStringLiteral("many"), 0}};  // halves away from zero
    for (const auto& [given, stored] : counts) {
        EXPECT_TRUE(bridge.settings.setValue("test.count", given)) << given.toString().toStdString();
        EXPECT_EQ(bridge.settings.value("test.count"), QVariant(stored)) << given.toString().toStdString();
    }
    EXPECT_FALSE(bridge.settings.setValue("test.count", std::numeric_limits<double>::infinity()));
    EXPECT_EQ(bridge.settings.value("test.count"), QVariant(qint64{0}));

    // Text given to a switch follows Qt's truth.
    Bridge program;
    EXPECT_TRUE(program.settings.setValue("appearance.reduce_motion", QStringLiteral("yes")));
    EXPECT_TRUE(program.settings.reduceMotion());
    for (const QString& text : QStringList{"", "0", "FaLsE"}) {
        EXPECT_TRUE(program.settings.setValue("appearance.reduce_motion", QStringLiteral("on")));
        EXPECT_TRUE(program.settings.setValue("appearance.reduce_motion", text));
        EXPECT_FALSE(program.settings.reduceMotion()) << text.toStdString();
    }
}

TEST(SettingsBridgeRefusalTest, UnknownIdsAreSilent) {
    Bridge bridge;
    QSignalSpy changed(&bridge.settings, &SettingsBridge::valueChanged);
    EXPECT_FALSE(bridge.settings.setValue("no.such", 1));
    EXPECT_FALSE(bridge.settings.value("no.such").isValid());
    bridge.settings.resetToDefault("no.such");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(bridge.log.records().empty());
    EXPECT_FALSE(bridge.fileExists());
}

TEST(SettingsBridgeRefusalTest, RefusedValuesAreLoggedAndChangeNothing) {
    Bridge bridge;
    QSignalSpy changed(&bridge.settings, &SettingsBridge::valueChanged);
    QSignalSpy revision(&bridge.settings, &SettingsBridge::revisionChanged);
    EXPECT_FALSE(bridge.settings.setValue("audio.sample_rate", 12345));
    EXPECT_FALSE(bridge.settings.setValue("appearance.ui_scale", QStringLiteral("big")));
    EXPECT_FALSE(bridge.settings.setValue("appearance.ui_scale", 500));
    std::vector<std::string> warnings;
    for (const core::LogRecord& record : bridge.log.records()) {
        if (record.level == core::LogLevel::WARN) warnings.push_back(record.category + ": " + record.message);
    }
    EXPECT_EQ(warnings, (std::vector<std::string>{"settings: change refused: '12345' is not an option for audio.sample_rate",
                                                  "settings: change refused: appearance.ui_scale must be between 75 and 200",
                                                  "settings: change refused: appearance.ui_scale must be between 75 and 200"}));
    EXPECT_EQ(bridge.settings.value("audio.sample_rate"), QVariant(QStringLiteral("48000")));
    EXPECT_EQ(bridge.settings.revision(), 0);
    EXPECT_EQ(changed.count() + revision.count(), 0);
    EXPECT_FALSE(bridge.fileExists());
}

TEST(SettingsBridgeSignalTest, AnEffectiveChangeRaisesRevisionThenSignalsInOrder) {
    Bridge bridge;
    std::vector<std::string> order;
    QObject::connect(&bridge.settings, &SettingsBridge::valueChanged,
                     [&](const QString& id) { order.push_back("value " + id.toStdString()); });
    QObject::connect(&bridge.settings, &SettingsBridge::revisionChanged,
                     [&] { order.push_back("revision " + std::to_string(bridge.settings.revision())); });
    EXPECT_TRUE(bridge.settings.setValue("api.port", 9000));
    EXPECT_TRUE(bridge.settings.setValue("api.port", 9001));
    EXPECT_EQ(order, (std::vector<std::string>{"value api.port", "revision 1", "value api.port", "revision 2"}));

    std::vector<core::LogStep> steps;
    ASSERT_TRUE(bridge.log.logger.copyRecentSteps(steps));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps.back().category + ": " + steps.back().message, "settings: changed api.port");
    EXPECT_TRUE(bridge.log.records().empty());
}

TEST(SettingsBridgeSignalTest, TheSameValueAgainChangesNothing) {
    Bridge bridge;
    QSignalSpy changed(&bridge.settings, &SettingsBridge::valueChanged);
    EXPECT_TRUE(bridge.settings.setValue("audio.sample_rate", QStringLiteral("48000")));
    EXPECT_TRUE(bridge.settings.setValue("instrument.level", 0.7));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(bridge.settings.revision(), 0);
    EXPECT_FALSE(bridge.fileExists());

    EXPECT_TRUE(bridge.settings.setValue("instrument.level", 0.5));
    std::filesystem::remove(bridge.dir / "settings.json");
    EXPECT_TRUE(bridge.settings.setValue("instrument.level", 0.5));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(bridge.fileExists());
}

TEST(SettingsBridgeSignalTest, ARestartIsAnnouncedOnceAndStaysNeeded) {
    Bridge bridge;
    QSignalSpy restart(&bridge.settings, &SettingsBridge::restartNeededChanged);
    EXPECT_TRUE(bridge.settings.setValue("appearance.reduce_motion", true));
    EXPECT_FALSE(bridge.settings.restartNeeded());
    EXPECT_TRUE(bridge.settings.setValue("appearance.ui_scale", 150));
    EXPECT_TRUE(bridge.settings.setValue("appearance.ui_scale", 100));
    EXPECT_TRUE(bridge.settings.setValue("appearance.ui_scale", 125));
    EXPECT_TRUE(bridge.settings.restartNeeded());
    EXPECT_EQ(restart.count(), 1);
}

TEST(SettingsBridgeSignalTest, AFailedSaveIsLoggedButTheChangeHolds) {
    TempDir dir;
    writeBytes(qPath(dir / "file"), "x");
    Bridge bridge(registryOfProgram(), qPath(dir / "file" / "settings.json"));
    QSignalSpy changed(&bridge.settings, &SettingsBridge::valueChanged);
    QSignalSpy revision(&bridge.settings, &SettingsBridge::revisionChanged);

    EXPECT_TRUE(bridge.settings.setValue("appearance.reduce_motion", true));
    EXPECT_TRUE(bridge.settings.reduceMotion());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(revision.count(), 1);
    ASSERT_EQ(bridge.log.records().size(), 1u);
    const core::LogRecord& record = bridge.log.records()[0];
    EXPECT_EQ(record.level, core::LogLevel::ERROR);
    EXPECT_EQ(record.category, "settings");
    EXPECT_EQ(record.message.rfind("could not save settings: ", 0), 0u) << record.message;
}

TEST(SettingsBridgeSignalTest, ResetGoesThroughSetValue) {
    Bridge bridge;
    QSignalSpy changed(&bridge.settings, &SettingsBridge::valueChanged);
    bridge.settings.resetToDefault("audio.buffer_size");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_FALSE(bridge.fileExists());

    ASSERT_TRUE(bridge.settings.setValue("audio.buffer_size", QStringLiteral("128")));
    bridge.settings.resetToDefault("audio.buffer_size");
    EXPECT_EQ(bridge.settings.value("audio.buffer_size"), QVariant(QStringLiteral("512")));
    EXPECT_TRUE(bridge.store.isDefault("audio.buffer_size"));
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(bridge.settings.revision(), 2);
}

TEST(SettingsBridgeListTest, EntriesListOneCategoryWithoutHiddenSettings) {
    Bridge bridge;
    EXPECT_EQ(idsOf(bridge.settings.entries("appearance", true)),
              QStringList({"appearance.theme", "appearance.ui_scale", "appearance.reduce_motion",
                           "appearance.show_help_strip"}));
    EXPECT_EQ(idsOf(bridge.settings.entries("api", false)), QStringList({"api.enabled"}));
    EXPECT_EQ(idsOf(bridge.settings.entries("api", true)), QStringList({"api.enabled", "api.port", "api.osc.port"}));
    EXPECT_TRUE(bridge.settings.entries("instrument", true).isEmpty());
    EXPECT_TRUE(bridge.settings.entries("nope", true).isEmpty());
}

TEST(SettingsBridgeListTest, AnEntryDescribesTheSettingAndItsCurrentValue) {
    Bridge bridge;
    ASSERT_TRUE(bridge.settings.setValue("appearance.theme", QStringLiteral("light")));
    const QVariantList entries = bridge.settings.entries("appearance", false);
    QVariantMap theme = entries.first().toMap();
    EXPECT_TRUE(theme.take("help").toString().startsWith("The colours of the whole app."));
    const QVariantList choices = theme.take("choices").toList();
    ASSERT_EQ(choices.size(), 5);
    EXPECT_EQ(choices[4].toMap(), (QVariantMap{{"value", "high-contrast"}, {"label", "High Contrast"}}));
    EXPECT_EQ(theme, (QVariantMap{{"id", "appearance.theme"}, {"type", "choice"}, {"category", "appearance"},
                                  {"label", "Theme"}, {"value", "light"}, {"defaultValue", "graphite"},
                                  {"isDefault", false}, {"advanced", false}, {"restartRequired", false},
                                  {"min", theme.value("min")}, {"max", theme.value("max")}, {"note", ""}}));

    const QVariantMap scale = entries[1].toMap();
    EXPECT_EQ(scale.value("type"), QVariant(QStringLiteral("integer")));
    EXPECT_EQ(scale.value("value"), QVariant(qint64{100}));
    EXPECT_EQ(scale.value("min"), QVariant(75.0));
    EXPECT_EQ(scale.value("max"), QVariant(200.0));
    EXPECT_EQ(scale.value("restartRequired"), QVariant(true));
    EXPECT_TRUE(scale.value("choices").toList().isEmpty());
}

TEST(SettingsBridgeListTest, SearchMatchesLabelOrHelpIgnoringCase) {
    Bridge bridge;
    const QStringList motion{"appearance.reduce_motion"};
    EXPECT_TRUE(bridge.settings.search("   ", true).isEmpty());
    EXPECT_EQ(idsOf(bridge.settings.search("MOTION", false)), motion);
    EXPECT_EQ(idsOf(bridge.settings.search(" animations ", false)), motion);
    EXPECT_TRUE(bridge.settings.search("flight recorder", false).isEmpty());
    EXPECT_EQ(idsOf(bridge.settings.search("flight recorder", true)), QStringList({"logging.level"}));
    EXPECT_TRUE(bridge.settings.search("secret word", true).isEmpty());
    EXPECT_TRUE(bridge.settings.search("appearance.theme", true).isEmpty());
}

TEST(SettingsBridgeListTest, CategoriesSayWhichHaveAdvancedSettings) {
    Bridge bridge;
    const QVariantList categories = bridge.settings.categories();
    ASSERT_EQ(categories.size(), 6);
    EXPECT_EQ(categories[4].toMap(), (QVariantMap{{"id", "api"}, {"label", "Local API"}, {"hasAdvanced", true}}));
    EXPECT_TRUE(bridge.settings.hasAdvanced("logging"));
    for (const char* id : {"appearance", "instrument", "nope"}) EXPECT_FALSE(bridge.settings.hasAdvanced(id)) << id;
    EXPECT_EQ(settingTypeName(static_cast<core::SettingType>(42)), "text");
    EXPECT_EQ(settingValueToVariant(core::SettingValue(std::string("ü"))), QVariant(QStringLiteral("ü")));
}
