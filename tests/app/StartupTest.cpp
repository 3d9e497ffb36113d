#include "AppTestSupport.h"
#include "app/ApiToken.h"
#include "app/CommandLineOptions.h"
#include "app/DataFolders.h"
#include "app/LiveSettings.h"
#include "app/SettingsBridge.h"
#include "app/StartupTheme.h"
#include "app/ThemeManager.h"
#include "app/UiScale.h"
#include "core/SettingsRegistry.h"
#include "core/SettingsStore.h"
#include "support/TempDir.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <set>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

QString dataDirOf(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "ostrel");
    return dataDirArgument(static_cast<int>(arguments.size()), arguments.data());
}

const DataFolderEnvironment kNoAppData{"", "", "/home/ada"};

struct Parsed {
    explicit Parsed(QStringList arguments) {
        addCommandLineOptions(parser);
        arguments.prepend("ostrel");
        ok = parser.parse(arguments);
    }
    QCommandLineParser parser;
    bool ok = false;
};

// The environment variable restored when the test ends.
struct SavedVariable {
    explicit SavedVariable(const char* name) : name(name), had(qEnvironmentVariableIsSet(name)), value(qgetenv(name)) {}
    ~SavedVariable() { had ? qputenv(name, value) : qunsetenv(name); }
    const char* name;
    bool had;
    QByteArray value;
};

struct SettingsWithThemes {
    SettingsWithThemes() { themes.loadThemeFolder(QStringLiteral(":/themes")); }

    TempDir dir;
    RecordingLogger log;
    const core::SettingsRegistry registry = core::buildSettingsRegistry();
    core::SettingsStore store{registry};
    SettingsBridge settings{store, registry, qPath(dir / "settings.json"), log.logger};
    ThemeManager themes;
};

}  // namespace

TEST(DataFolderTest, TheOptionIsFoundInBothFormsBeforeParsing) {
    EXPECT_EQ(dataDirOf({"--data-dir", "/d/one"}), "/d/one");
    EXPECT_EQ(dataDirOf({"--data-dir=/d/one"}), "/d/one");
    EXPECT_EQ(dataDirOf({"--theme", "dark", "--data-dir=/d/one", "--data-dir", "/d/two"}), "/d/one");
    EXPECT_EQ(dataDirOf({"--data-dir", ""}), "");
    EXPECT_EQ(dataDirOf({"--data-dir="}), "");
    EXPECT_EQ(dataDirOf({"--data-dir"}), "");
    EXPECT_EQ(dataDirOf({"--data-directory", "/d"}), "");
    EXPECT_EQ(dataDirOf({}), "");
}

TEST(DataFolderTest, AGivenFolderIsUsedAsItIs) {
    EXPECT_EQ(dataFolderFor("/d/one", {"/appdata", "/xdg", "/home/ada"}), "/d/one");
}

TEST(DataFolderTest, AppDataWinsWhenSet) {
    EXPECT_EQ(dataFolderFor("", {"/appdata", "/xdg", "/home/ada"}), "/appdata/Ostrel/Ostrel");
}

// Regression: without APPDATA the folder was "home/AppData/Roaming", a folder of another system.
TEST(DataFolderTest, WithoutAppDataTheXdgRuleHolds) {
    EXPECT_EQ(dataFolderFor("", {"", "/xdg/data", "/home/ada"}), "/xdg/data/Ostrel/Ostrel");
    EXPECT_EQ(dataFolderFor("", kNoAppData), "/home/ada/.local/share/Ostrel/Ostrel");
    EXPECT_EQ(dataFolderFor("", {"", "relative/data", "/home/ada"}), "/home/ada/.local/share/Ostrel/Ostrel");
    EXPECT_FALSE(dataFolderFor("", kNoAppData).contains("AppData"));
}

TEST(DataFolderTest, TheSystemEnvironmentIsRead) {
    SavedVariable appData("APPDATA");
    SavedVariable xdg("XDG_DATA_HOME");
    qunsetenv("APPDATA");
    qputenv("XDG_DATA_HOME", "/xdg/here");
    EXPECT_EQ(dataFolderFor("", systemDataFolderEnvironment()), "/xdg/here/Ostrel/Ostrel");
    qputenv("APPDATA", "");
    EXPECT_EQ(dataFolderFor("", systemDataFolderEnvironment()), "/xdg/here/Ostrel/Ostrel");
    qputenv("APPDATA", "/roaming");
    EXPECT_EQ(dataFolderFor("", systemDataFolderEnvironment()), "/roaming/Ostrel/Ostrel");
}

TEST(DataFolderTest, WithTheOptionEveryFolderIsUnderTheDataFolder) {
    const AppFolders folders = appFolders("/d", DataDirOption::Given, "/home/ada/Documents");
    for (const QString& path : {folders.settingsFile, folders.logFile, folders.crashes, folders.patches, folders.themes,
                                folders.exports, folders.projects, folders.samples}) {
        EXPECT_TRUE(path.startsWith("/d/")) << path.toStdString();
    }
    EXPECT_EQ(folders.settingsFile, "/d/settings.json");
    EXPECT_EQ(folders.logFile, "/d/logs/ostrel.log");
    EXPECT_EQ(folders.exports, "/d/exports");
    EXPECT_EQ(folders.projects, "/d/projects");
    EXPECT_EQ(folders.samples, "/d/samples");
}

TEST(DataFolderTest, WithoutTheOptionDocumentsGoToTheDocumentsFolder) {
    const AppFolders folders = appFolders("/data", DataDirOption::Absent, "/home/ada/Documents");
    EXPECT_EQ(folders.crashes, "/data/crashes");
    EXPECT_EQ(folders.themes, "/data/themes");
    EXPECT_EQ(folders.patches, "/data/patches");
    EXPECT_EQ(folders.exports, "/home/ada/Documents/Ostrel/Exports");
    EXPECT_EQ(folders.projects, "/home/ada/Documents/Ostrel/Projects");
    EXPECT_EQ(folders.samples, "/home/ada/Documents/Ostrel/Samples");
}

TEST(CommandLineTest, TwentyTwoOptionsInTheirOrderWithTheirTexts) {
    const QList<CommandLineOptionSpec>& options = commandLineOptions();
    ASSERT_EQ(options.size(), 22);
    std::set<std::string> names;
    for (const CommandLineOptionSpec& option : options) {
        names.insert(option.name);
    }
    EXPECT_EQ(names.size(), 22u);
    EXPECT_STREQ(options[0].name, "screenshot");
    EXPECT_STREQ(options[0].valueName, "file");
    EXPECT_STREQ(options[0].description, "Save a screenshot of the window to <file> and quit.");
    EXPECT_STREQ(options[2].description,
                 "Start with theme <id> (graphite, dark, steel, light, high-contrast) without saving it.");
    EXPECT_STREQ(options[3].name, "data-dir");
    EXPECT_STREQ(options[3].description, "Keep settings and logs in <folder> (tests, portable use).");
    EXPECT_STREQ(options[5].description, "Open the menu number <n> (0 = File, 1 = Edit, 2 = View, 3 = Options, 4 = "
                                         "Help) at start (for documentation pictures).");
    EXPECT_STREQ(options[6].valueName, "");
    EXPECT_STREQ(options[21].name, "demo-fm");
    EXPECT_STREQ(options[21].description,
                 "Add an FM E-Piano track with a pattern and show its operator card (for documentation pictures).");
}

TEST(CommandLineTest, BothDataDirFormsParseAlike) {
    Parsed spaced({"--data-dir", "/d", "--quit-after-ms", "1500"});
    Parsed joined({"--data-dir=/d", "--quit-after-ms=1500"});
    ASSERT_TRUE(spaced.ok);
    ASSERT_TRUE(joined.ok);
    EXPECT_EQ(spaced.parser.value("data-dir"), "/d");
    EXPECT_EQ(joined.parser.value("data-dir"), "/d");
    EXPECT_EQ(quitAfterMilliseconds(joined.parser.value("quit-after-ms")), 1500);
}

TEST(CommandLineTest, AnEmptyDataDirIsStillGiven) {
    Parsed parsed({"--data-dir", ""});
    ASSERT_TRUE(parsed.ok);
    EXPECT_TRUE(parsed.parser.isSet("data-dir"));
    EXPECT_EQ(parsed.parser.value("data-dir"), "");
}

TEST(CommandLineTest, ADataDirWithoutValueIsAParseError) {
    Parsed parsed({"--data-dir"});
    EXPECT_FALSE(parsed.ok);
    EXPECT_EQ(parsed.parser.errorText(), "Missing value after '--data-dir'.");
}

TEST(CommandLineTest, SwitchesAndValuesAreRecognised) {
    Parsed parsed({"--demo-error", "--theme", "light", "--screenshot", "a.png", "--demo-fm"});
    ASSERT_TRUE(parsed.ok) << parsed.parser.errorText().toStdString();
    EXPECT_TRUE(parsed.parser.isSet("demo-error"));
    EXPECT_TRUE(parsed.parser.isSet("demo-fm"));
    EXPECT_FALSE(parsed.parser.isSet("demo-crash"));
    EXPECT_EQ(parsed.parser.value("theme"), "light");
    EXPECT_EQ(parsed.parser.value("screenshot"), "a.png");
}

// Regression: a negative time armed a timer that never fired, so the program never quit.
TEST(CommandLineTest, QuitAfterMsIsBaseTenAndNeverNegative) {
    EXPECT_EQ(quitAfterMilliseconds("1500"), 1500);
    EXPECT_EQ(quitAfterMilliseconds("0"), 0);
    EXPECT_EQ(quitAfterMilliseconds("-5"), 0);
    EXPECT_EQ(quitAfterMilliseconds("soon"), 0);
    EXPECT_EQ(quitAfterMilliseconds("0x10"), 0);
    EXPECT_EQ(quitAfterMilliseconds(""), 0);
}

TEST(UiScaleTest, OnlyAScaleOtherThanAHundredSetsTheFactor) {
    EXPECT_EQ(scaleFactorFor(100, ""), std::nullopt);
    EXPECT_EQ(scaleFactorFor(125, ""), QByteArray("1.25"));
    EXPECT_EQ(scaleFactorFor(75, ""), QByteArray("0.75"));
    EXPECT_EQ(scaleFactorFor(200, ""), QByteArray("2"));
    EXPECT_EQ(scaleFactorFor(133, ""), QByteArray("1.33"));
}

TEST(UiScaleTest, AFactorAlreadySetIsNeverOverwritten) {
    EXPECT_EQ(scaleFactorFor(150, "1.1"), std::nullopt);
    SavedVariable factor("QT_SCALE_FACTOR");
    qputenv("QT_SCALE_FACTOR", "1.1");
    applyUiScale(150);
    EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), "1.1");
    qunsetenv("QT_SCALE_FACTOR");
    applyUiScale(100);
    EXPECT_FALSE(qEnvironmentVariableIsSet("QT_SCALE_FACTOR"));
    applyUiScale(150);
    EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), "1.5");
    qputenv("QT_SCALE_FACTOR", "");
    applyUiScale(125);
    EXPECT_EQ(qgetenv("QT_SCALE_FACTOR"), "1.25");
}

TEST(StartupThemeTest, TheOptionWinsOverBothSettings) {
    const QStringList loaded{"graphite", "dark", "mine"};
    EXPECT_EQ(startupThemeId({QStringLiteral("light"), "mine", "dark"}, loaded), "light");
    EXPECT_EQ(startupThemeId({QStringLiteral("nope"), "mine", "dark"}, loaded), "nope");
}

TEST(StartupThemeTest, ALoadedCustomThemeWinsOverTheBuiltInSetting) {
    const QStringList loaded{"graphite", "dark", "mine"};
    EXPECT_EQ(startupThemeId({std::nullopt, "mine", "dark"}, loaded), "mine");
    EXPECT_EQ(startupThemeId({std::nullopt, "Mine", "dark"}, loaded), "dark");
    EXPECT_EQ(startupThemeId({std::nullopt, "gone", "dark"}, loaded), "dark");
    EXPECT_EQ(startupThemeId({std::nullopt, "", "dark"}, loaded), "dark");
}

TEST(ApiTokenTest, TokensAreThirtyTwoLowerCaseHexDigits) {
    const QRegularExpression hex("^[0-9a-f]{32}$");
    const QString first = makeApiToken();
    EXPECT_TRUE(hex.match(first).hasMatch()) << first.toStdString();
    EXPECT_NE(makeApiToken(), first);
}

TEST(ApiTokenTest, NoTokenIsMadeWhileTheApiIsOff) {
    SettingsWithThemes fixture;
    EXPECT_EQ(ensureApiToken(fixture.settings), "");
    EXPECT_EQ(fixture.settings.value("api.token"), QVariant(QString()));
    EXPECT_FALSE(std::filesystem::exists(fixture.dir / "settings.json"));
}

TEST(ApiTokenTest, ATokenIsMadeAndSavedOnceAndThenKept) {
    SettingsWithThemes fixture;
    ASSERT_TRUE(fixture.settings.setValue("api.enabled", true));
    const QString token = ensureApiToken(fixture.settings);
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(token).hasMatch());
    const QJsonObject saved = readJsonObject(qPath(fixture.dir / "settings.json")).value("values").toObject();
    EXPECT_EQ(saved.value("api.token").toString(), token);
    EXPECT_EQ(ensureApiToken(fixture.settings), token);

    ASSERT_TRUE(fixture.settings.setValue("api.token", QStringLiteral("chosen-by-hand")));
    EXPECT_EQ(ensureApiToken(fixture.settings), "chosen-by-hand");
}

TEST(LiveSettingsTest, ChoosingABuiltInThemeClearsTheCustomOne) {
    SettingsWithThemes fixture;
    QObject::connect(&fixture.settings, &SettingsBridge::valueChanged, [&](const QString& id) {
        applySettingChange(id, fixture.settings, fixture.themes, fixture.log.logger);
    });
    ASSERT_TRUE(fixture.settings.setValue("appearance.custom_theme", QStringLiteral("dark")));
    EXPECT_EQ(fixture.themes.currentId(), "dark");
    ASSERT_TRUE(fixture.settings.setValue("appearance.theme", QStringLiteral("light")));
    EXPECT_EQ(fixture.themes.currentId(), "light");
    EXPECT_EQ(fixture.settings.value("appearance.custom_theme"), QVariant(QString()));
    const QJsonObject saved = readJsonObject(qPath(fixture.dir / "settings.json")).value("values").toObject();
    EXPECT_FALSE(saved.contains("appearance.custom_theme"));
    EXPECT_EQ(saved.value("appearance.theme").toString(), "light");
}

TEST(LiveSettingsTest, ACustomThemeThatIsNotLoadedFallsBackToTheBuiltInOne) {
    SettingsWithThemes fixture;
    QObject::connect(&fixture.settings, &SettingsBridge::valueChanged, [&](const QString& id) {
        applySettingChange(id, fixture.settings, fixture.themes, fixture.log.logger);
    });
    ASSERT_TRUE(fixture.settings.setValue("appearance.theme", QStringLiteral("steel")));
    ASSERT_TRUE(fixture.settings.setValue("appearance.custom_theme", QStringLiteral("gone")));
    EXPECT_EQ(fixture.themes.currentId(), "steel");
    EXPECT_EQ(fixture.settings.value("appearance.custom_theme"), QVariant(QStringLiteral("gone")));
}

TEST(LiveSettingsTest, TheLogLevelActsAtOnce) {
    SettingsWithThemes fixture;
    QObject::connect(&fixture.settings, &SettingsBridge::valueChanged, [&](const QString& id) {
        applySettingChange(id, fixture.settings, fixture.themes, fixture.log.logger);
    });
    ASSERT_TRUE(fixture.settings.setValue("logging.level", QStringLiteral("warn")));
    EXPECT_EQ(fixture.log.logger.level(), core::LogLevel::WARN);
    ASSERT_TRUE(fixture.settings.setValue("logging.level", QStringLiteral("debug")));
    EXPECT_EQ(fixture.log.logger.level(), core::LogLevel::DEBUG);
}
