#include "app/SettingsBridge.h"

#include "AppTestSupport.h"
#include "app/SettingEntryMap.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "support/TempDir.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <optional>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

// A bridge over the program's registry, saving into a temporary folder.
struct Bridge {
    explicit Bridge(const core::SettingsRegistry& reg = registryOfProgram())
        : registry(reg), store(registry), settings(store, registry, qPath(dir / "settings.json"), log.logger) {}

    static const core::SettingsRegistry& registryOfProgram() {
        static const core::SettingsRegistry built = core::buildSettingsRegistry();
        return built;
    }
    // The value the settings file holds for key, read back by a fresh store.
    core::SettingValue savedValue(const std::string& key) const {
        core::SettingsStore reader(registry);
        const std::vector<std::string> warnings = reader.load(dir / "settings.json");
        EXPECT_TRUE(warnings.empty());
        return reader.value(key);
    }
    bool fileExists() const { return std::filesystem::exists(dir / "settings.json"); }
    std::vector<std::string> messages(core::LogLevel level) const {
        std::vector<std::string> found;
        for (const core::LogRecord& record : log.records()) {
            if (record.level == level) {
                found.push_back(record.category + ": " + record.message);
            }
        }
        return found;
    }

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
    for (const QVariant& entry : entries) {
        ids.append(entry.toMap().value("id").toString());
    }
    return ids;
}

}  // namespace

TEST(SettingsBridgeValueTest, EveryKindIsStoredAsItsOwnTypeAndSavedAtOnce) {
    Bridge bridge;
    EXPECT_TRUE(bridge.settings.setValue("appearance.reduce_motion", true));
    EXPECT_EQ(bridge.savedValue("appearance.reduce_motion"), core::SettingValue(true));
    EXPECT_TRUE(bridge.settings.setValue("appearance.ui_scale", 125));
    EXPECT_EQ(bridge.savedValue("appearance.ui_scale"), core::SettingValue(std::int64_t{125}));
    EXPECT_TRUE(bridge.settings.setValue("instrument.level", 0.25));
    EXPECT_EQ(bridge.savedValue("instrument.level"), core::SettingValue(0.25));
    EXPECT_TRUE(bridge.settings.setValue("instrument.level", 1));
    EXPECT_EQ(bridge.savedValue("instrument.level"), core::SettingValue(1.0));
    EXPECT_TRUE(bridge.settings.setValue("appearance.custom_theme", QStringLiteral("nächte")));
    EXPECT_EQ(bridge.savedValue("appearance.custom_theme"), core::SettingValue(std::string("nächte")));
    EXPECT_TRUE(bridge.settings.setValue("audio.sample_rate", 96000));
    EXPECT_EQ(bridge.savedValue("audio.sample_rate"), core::SettingValue(std::string("96000")));

    EXPECT_EQ(bridge.settings.value("appearance.reduce_motion").typeId(), QMetaType::Bool);
    EXPECT_EQ(bridge.settings.value("appearance.ui_scale").typeId(), QMetaType::LongLong);
    EXPECT_EQ(bridge.settings.value("instrument.level").typeId(), QMetaType::Double);
    EXPECT_EQ(bridge.settings.value("audio.sample_rate"), QVariant(QStringLiteral("96000")));
    EXPECT_EQ(bridge.settings.value("appearance.custom_theme"), QVariant(QStringLiteral("nächte")));
    EXPECT_TRUE(bridge.settings.reduceMotion());
}

TEST(SettingsBridgeValueTest, WholeNumbersRoundHalvesAwayFromZero) {
    Bridge bridge(countRegistry());
    EXPECT_TRUE(bridge.settings.setValue("test.count", 2.5));
    EXPECT_EQ(bridge.settings.value("test.count"), QVariant(qint64{3}));
    EXPECT_TRUE(bridge.settings.setValue("test.count", -2.5));
    EXPECT_EQ(bridge.settings.value("test.count"), QVariant(qint64{-3}));
    EXPECT_TRUE(bridge.settings.setValue("test.count", QStringLiteral("7")));
    EXPECT_EQ(bridge.settings.value("test.count"), QVariant(qint64{7}));
    EXPECT_TRUE(bridge.settings.setValue("test.count", QStringLiteral("many")));
    EXPECT_EQ(bridge.settings.value("test.count"), QVariant(qint64{0}));
    EXPECT_FALSE(bridge.settings.setValue("test.count", std::numeric_limits<double>::infinity()));
    EXPECT_EQ(bridge.settings.value("test.count"), QVariant(qint64{0}));
}

TEST(SettingsBridgeValueTest, TextGivenToASwitchFollowsQtsTruth) {
    Bridge bridge;
    EXPECT_TRUE(bridge.settings.setValue("appearance.reduce_motion", QStringLiteral("yes")));
    EXPECT_TRUE(bridge.settings.reduceMotion());
    for (const QString& text : QStringList{"", "0", "FaLsE"}) {
        EXPECT_TRUE(bridge.settings.setValue("appearance.reduce_motion", QStringLiteral("on")));
        EXPECT_TRUE(bridge.settings.setValue("appearance.reduce_motion", text));
        EXPECT_FALSE(bridge.settings.reduceMotion()) << text.toStdString();
    }
}

TEST(SettingsBridgeValueTest, UnknownIdsAreSilent) {
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
    EXPECT_EQ(bridge.messages(core::LogLevel::WARN),
              (std::vector<std::string>{"settings: change refused: '12345' is not an option for audio.sample_rate",
                                        "settings: change refused: appearance.ui_scale must be between 75 and 200",
                                        "settings: change refused: appearance.ui_scale must be between 75 and 200"}));
    EXPECT_EQ(bridge.settings.value("audio.sample_rate"), QVariant(QStringLiteral("48000")));
    EXPECT_EQ(bridge.settings.revision(), 0);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(revision.count(), 0);
    EXPECT_FALSE(bridge.fileExists());
}

TEST(SettingsBridgeSignalTest, AnEffectiveChangeRaisesRevisionThenSignalsInOrder) {
    Bridge bridge;
    std::vector<std::string> order;
    QObject::connect(&bridge.settings, &SettingsBridge::valueChanged,
                     [&](const QString& id) { order.push_back("value " + id.toStdString()); });
    QObject::connect(&bridge.settings, &SettingsBridge::revisionChanged, [&] {
        order.push_back("revision " + std::to_string(bridge.settings.revision()));
    });
    EXPECT_TRUE(bridge.settings.setValue("api.port", 9000));
    EXPECT_TRUE(bridge.settings.setValue("api.port", 9001));
    EXPECT_EQ(order, (std::vector<std::string>{"value api.port", "revision 1", "value api.port", "revision 2"}));

    std::vector<core::LogStep> steps;
    ASSERT_TRUE(bridge.log.logger.copyRecentSteps(steps));
    ASSERT_EQ(steps.size(), 2u);
    EXPECT_EQ(steps.back().category, "settings");
    EXPECT_EQ(steps.back().message, "changed api.port");
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
    EXPECT_TRUE(bridge.settings.restartNeeded());
    EXPECT_TRUE(bridge.settings.setValue("appearance.ui_scale", 100));
    EXPECT_TRUE(bridge.settings.setValue("appearance.ui_scale", 125));
    EXPECT_TRUE(bridge.settings.restartNeeded());
    EXPECT_EQ(restart.count(), 1);
}

TEST(SettingsBridgeSignalTest, AFailedSaveIsLoggedButTheChangeHolds) {
    TempDir dir;
    writeBytes(qPath(dir / "file"), "x");
    const core::SettingsRegistry& registry = Bridge::registryOfProgram();
    core::SettingsStore store(registry);
    RecordingLogger log;
    SettingsBridge settings(store, registry, qPath(dir / "file" / "settings.json"), log.logger);
    QSignalSpy changed(&settings, &SettingsBridge::valueChanged);
    QSignalSpy revision(&settings, &SettingsBridge::revisionChanged);

    EXPECT_TRUE(settings.setValue("appearance.reduce_motion", true));
    EXPECT_TRUE(settings.reduceMotion());
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(revision.count(), 1);
    ASSERT_EQ(log.records().size(), 1u);
    EXPECT_EQ(log.records()[0].level, core::LogLevel::ERROR);
    EXPECT_EQ(log.records()[0].category, "settings");
    EXPECT_EQ(log.records()[0].message.rfind("could not save settings: ", 0), 0u) << log.records()[0].message;
}

TEST(SettingsBridgeResetTest, ResetGoesThroughSetValue) {
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
    const QVariantMap entry = bridge.settings.entries("appearance", false).first().toMap();
    EXPECT_EQ(entry.size(), 13);
    EXPECT_EQ(entry.value("id"), QVariant(QStringLiteral("appearance.theme")));
    EXPECT_EQ(entry.value("type"), QVariant(QStringLiteral("choice")));
    EXPECT_EQ(entry.value("category"), QVariant(QStringLiteral("appearance")));
    EXPECT_EQ(entry.value("label"), QVariant(QStringLiteral("Theme")));
    EXPECT_TRUE(entry.value("help").toString().startsWith("The colours of the whole app."));
    EXPECT_EQ(entry.value("value"), QVariant(QStringLiteral("light")));
    EXPECT_EQ(entry.value("defaultValue"), QVariant(QStringLiteral("graphite")));
    EXPECT_EQ(entry.value("isDefault"), QVariant(false));
    EXPECT_EQ(entry.value("advanced"), QVariant(false));
    EXPECT_EQ(entry.value("restartRequired"), QVariant(false));
    const QVariantList choices = entry.value("choices").toList();
    ASSERT_EQ(choices.size(), 5);
    EXPECT_EQ(choices[4].toMap(), (QVariantMap{{"value", "high-contrast"}, {"label", "High Contrast"}}));

    const QVariantMap scale = bridge.settings.entries("appearance", false)[1].toMap();
    EXPECT_EQ(scale.value("type"), QVariant(QStringLiteral("integer")));
    EXPECT_EQ(scale.value("value"), QVariant(qint64{100}));
    EXPECT_EQ(scale.value("min"), QVariant(75.0));
    EXPECT_EQ(scale.value("max"), QVariant(200.0));
    EXPECT_EQ(scale.value("restartRequired"), QVariant(true));
    EXPECT_TRUE(scale.value("choices").toList().isEmpty());
}

TEST(SettingsBridgeListTest, SearchMatchesLabelOrHelpIgnoringCase) {
    Bridge bridge;
    EXPECT_TRUE(bridge.settings.search("   ", true).isEmpty());
    EXPECT_EQ(idsOf(bridge.settings.search("MOTION", false)), QStringList({"appearance.reduce_motion"}));
    EXPECT_EQ(idsOf(bridge.settings.search(" animations ", false)), QStringList({"appearance.reduce_motion"}));
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
    EXPECT_EQ(categories[0].toMap().value("label"), QVariant(QStringLiteral("Appearance")));
    EXPECT_FALSE(bridge.settings.hasAdvanced("appearance"));
    EXPECT_TRUE(bridge.settings.hasAdvanced("logging"));
    EXPECT_FALSE(bridge.settings.hasAdvanced("instrument"));
    EXPECT_FALSE(bridge.settings.hasAdvanced("nope"));
}

TEST(SettingEntryMapTest, TypeNamesAndValuesFollowTheAlternative) {
    EXPECT_EQ(settingTypeName(core::SettingType::boolean), "boolean");
    EXPECT_EQ(settingTypeName(core::SettingType::real), "real");
    EXPECT_EQ(settingTypeName(static_cast<core::SettingType>(42)), "text");
    EXPECT_EQ(settingValueToVariant(core::SettingValue(std::int64_t{5})).typeId(), QMetaType::LongLong);
    EXPECT_EQ(settingValueToVariant(core::SettingValue(std::string("ü"))), QVariant(QStringLiteral("ü")));
}
