#include "AppTestSupport.h"
#include "app/api/ApiToken.h"
#include "app/settings/LiveSettings.h"
#include "app/settings/SettingsBridge.h"
#include "app/startup/CommandLineOptions.h"
#include "app/startup/DataFolders.h"
#include "app/startup/UiScale.h"
#include "app/themes/StartupTheme.h"
#include "app/themes/ThemeManager.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "support/TempDir.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <tuple>
#include <set>
#include <string>
#include <string_view>
#include <vector>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

DataDirArgument dataDirOf(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "ostrel");
    return dataDirArgument(static_cast<int>(arguments.size()), arguments.data());
}

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

const QRegularExpression kTokenPattern("^[0-9a-f]{32}$");

// The program's settings with the built-in themes, applied live as the program does.
struct LiveFixture {
    LiveFixture() {
        themes.loadThemeFolder(QStringLiteral(":/themes"));
        QObject::connect(&settings, &SettingsBridge::valueChanged,
                         [this](const QString& id) { applySettingChange(id, settings, themes, log.logger); });
    }
    QJsonObject savedValues() const { return readJsonObject(qPath(dir / "settings.json")).value("values").toObject(); }

    TempDir dir;
    RecordingLogger log;
    const core::SettingsRegistry registry = core::buildSettingsRegistry();
    core::SettingsStore store{registry};
    SettingsBridge settings{store, registry, qPath(dir / "settings.json"), log.logger};
    ThemeManager themes;
};

}  // namespace

// Regression: a byte that is not UTF-8 became U+FFFD and so named another folder; an empty
// value and a missing one both meant the default folder.
TEST(DataFolderTest, TheOptionIsFoundInBothFormsBeforeParsingAsItsBytes) {
    using Kind = DataDirArgument::Kind;
    const std::tuple<std::vector<const char*>, Kind, std::string> cases[] = {
        {{"--data-dir", "/d/one"}, Kind::Given, "/d/one"},
        {{"--data-dir=/d/one"}, Kind::Given, "/d/one"},
        {{"--theme", "dark", "--data-dir=/d/one", "--data-dir", "/d/two"}, Kind::Given, "/d/one"},
        {{"--data-dir", "/d/caf\xe9"}, Kind::Given, "/d/caf\xe9"},
        {{"--data-dir", ""}, Kind::Empty, ""},
        {{"--data-dir="}, Kind::Empty, ""},
        {{"--data-dir"}, Kind::MissingValue, ""},
        {{"--data-directory", "/d"}, Kind::Absent, ""},
        {{}, Kind::Absent, ""},
    };
    for (const auto& [arguments, kind, value] : cases) {
        const DataDirArgument found = dataDirOf(arguments);
        EXPECT_EQ(found.kind, kind) << arguments.size();
        EXPECT_EQ(found.value.native(), value);
    }
    EXPECT_EQ(dataFolderPath(dataDirOf({"--data-dir", "/d/caf\xe9"}), {}).native(), "/d/caf\xe9");
    EXPECT_EQ(dataFolderPath(dataDirOf({"--data-dir="}), {"", "/xdg", "/home/ada"}).native(), "/xdg/Ostrel/Ostrel");
}

// Regression: without APPDATA the folder was "home/AppData/Roaming", a folder of another system.
TEST(DataFolderTest, GivenFolderElseAppDataElseTheXdgRule) {
    const std::tuple<const char*, DataFolderEnvironment, const char*> cases[] = {
        {"/d/one", {"/appdata", "/xdg", "/home/ada"}, "/d/one"},
        {"", {"/appdata", "/xdg", "/home/ada"}, "/appdata/Ostrel/Ostrel"},
        {"", {"", "/xdg/data", "/home/ada"}, "/xdg/data/Ostrel/Ostrel"},
        {"", {"", "", "/home/ada"}, "/home/ada/.local/share/Ostrel/Ostrel"},
        {"", {"", "relative/data", "/home/ada"}, "/home/ada/.local/share/Ostrel/Ostrel"},
    };
    for (const auto& [given, environment, folder] : cases) EXPECT_EQ(dataFolderFor(given, environment), folder);

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

TEST(DataFolderTest, DocumentsGoToTheDocumentsFolderUnlessTheOptionIsGiven) {
    const AppFolders given = appFolders("/d", DataDirOption::Given, "/home/ada/Documents");
    for (const QString& path : {given.settingsFile, given.logFile, given.crashes, given.patches, given.themes}) {
        EXPECT_TRUE(path.startsWith("/d/")) << path.toStdString();
    }
    EXPECT_EQ(given.logFile, "/d/logs/ostrel.log");
    EXPECT_EQ(QStringList({given.exports, given.projects, given.samples}),
              QStringList({"/d/exports", "/d/projects", "/d/samples"}));

    const AppFolders absent = appFolders("/data", DataDirOption::Absent, "/home/ada/Documents");
    EXPECT_EQ(QStringList({absent.settingsFile, absent.crashes, absent.themes, absent.patches}),
              QStringList({"/data/settings.json", "/data/crashes", "/data/themes", "/data/patches"}));
    EXPECT_EQ(QStringList({absent.exports, absent.projects, absent.samples}),
              QStringList({"/home/ada/Documents/Ostrel/Exports", "/home/ada/Documents/Ostrel/Projects",
                           "/home/ada/Documents/Ostrel/Samples"}));
}

TEST(CommandLineTest, TwentyTwoOptionsInTheirOrderWithTheirTexts) {
    const QList<CommandLineOptionSpec>& options = commandLineOptions();
    ASSERT_EQ(options.size(), 22);
    std::set<std::string> names;
    for (const CommandLineOptionSpec& option : options) names.insert(option.name);
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
    EXPECT_STREQ(options[21].description, "With --demo-project, add an FM E-Piano track with a pattern and show its "
                                          "operator card (for documentation pictures).");
}

const CommandLineOptionSpec& optionNamed(std::string_view name) {
    const QList<CommandLineOptionSpec>& options = commandLineOptions();
    const auto found = std::find_if(options.begin(), options.end(), [&](const auto& o) { return o.name == name; });
    EXPECT_NE(found, options.end()) << name;
    return *found;
}

TEST(CommandLineTest, TheSettingsPageOptionNamesEveryPageOfTheSheet) {
    const std::string help = optionNamed("settings-page").description;
    std::vector<std::string> pages;
    for (const core::SettingCategory& category : core::buildSettingsRegistry().categories) pages.push_back(category.id);
    pages.push_back("about");
    std::string listed;
    for (const std::string& page : pages) listed += (listed.empty() ? "" : ", ") + page;
    EXPECT_NE(help.find("(" + listed + ")"), std::string::npos) << help;
}

TEST(CommandLineTest, TheViewDemonstrationsSayTheyNeedTheDemoProject) {
    for (const char* name : {"demo-devices", "demo-step", "demo-fm", "demo-sampler", "demo-audio"}) {
        EXPECT_TRUE(std::string_view(optionNamed(name).description).starts_with("With --demo-project, ")) << name;
    }
}

TEST(CommandLineTest, OptionsParseInBothFormsAndAnEmptyDataDirIsStillGiven) {
    Parsed spaced({"--data-dir", "/d", "--quit-after-ms", "1500", "--demo-error", "--theme", "light", "--demo-fm"});
    Parsed joined({"--data-dir=/d", "--quit-after-ms=1500", "--screenshot", "a.png"});
    ASSERT_TRUE(spaced.ok && joined.ok) << spaced.parser.errorText().toStdString() << joined.parser.errorText().toStdString();
    EXPECT_EQ(spaced.parser.value("data-dir"), "/d");
    EXPECT_EQ(joined.parser.value("data-dir"), "/d");
    EXPECT_EQ(quitAfterMilliseconds(joined.parser.value("quit-after-ms")), std::optional<int>(1500));
    EXPECT_TRUE(spaced.parser.isSet("demo-error") && spaced.parser.isSet("demo-fm"));
    EXPECT_FALSE(spaced.parser.isSet("demo-crash"));
    EXPECT_EQ(spaced.parser.value("theme"), "light");
    EXPECT_EQ(joined.parser.value("screenshot"), "a.png");

    Parsed empty({"--data-dir", ""});
    ASSERT_TRUE(empty.ok);
    EXPECT_TRUE(empty.parser.isSet("data-dir"));
    EXPECT_EQ(empty.parser.value("data-dir"), "");

    Parsed missing({"--data-dir"});
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.parser.errorText(), "Missing value after '--data-dir'.");
}

// Decided before the application object exists, so that help and a wrong command line are
// answered without a display and without touching the data folder; Qt's own options are
// Qt's, never taken for a wrong command line.
TEST(CommandLineTest, HelpTheVersionAndAWrongCommandLineAreAnsweredWithoutStarting) {
    const std::pair<QStringList, bool> cases[] = {
        {{}, false},
        {{"--data-dir", "/d", "--quit-after-ms", "0"}, false},
        {{"--data-dir", ""}, false},
        {{"--help"}, true},
        {{"-h"}, true},
        {{"-?"}, true},
        {{"--help-all"}, true},
        {{"--version"}, true},
        {{"-v"}, true},
        {{"--no-such-flag"}, true},
        {{"--quit-after-ms", "0", "--data-dir"}, true},
        {{"-platform", "offscreen", "--quit-after-ms", "0"}, false},
        {{"--platform", "offscreen", "-reverse", "-qmljsdebugger=port:1234", "--demo-fm"}, false},
        {{"-qwindowgeometry", "640x480", "-platform", "offscreen", "--help"}, true},
        {{"-platform", "offscreen", "--bogus"}, true},
        {{"extra-arg"}, true},
        {{"-platform", "offscreen", "--demo-fm", "extra-arg"}, true},
        {{"--quit-after-ms", "soon"}, true},
        {{"--quit-after-ms", "20000", "--quit-after-ms=-5"}, true},
    };
    for (const auto& [arguments, answered] : cases) {
        EXPECT_EQ(answersWithoutStarting(QStringList{"ostrel"} + arguments), answered) << arguments.join(' ').toStdString();
    }
    EXPECT_TRUE(choosesPlatform({"ostrel", "-platform", "offscreen"}));
    EXPECT_TRUE(choosesPlatform({"ostrel", "--platform", "minimal", "--demo-fm"}));
    EXPECT_FALSE(choosesPlatform({"ostrel", "--demo-fm", "-platform"}));
}

// Regression: a negative time armed a timer that never fired, so the program never quit;
// then text that was no number quit at once, so a picture asked for was never taken.
TEST(CommandLineTest, QuitAfterMsIsDecimalDigitsOnlyAndFitsAnInt) {
    const std::pair<const char*, std::optional<int>> cases[] = {
        {"1500", 1500},        {"0", 0},         {"007", 7},           {"2147483647", 2147483647},
        {"2147483648", {}},    {"-5", {}},       {"+5", {}},           {" 5", {}},
        {"soon", {}},          {"0x10", {}},     {"1e3", {}},          {"", {}},
        {"\u0665", {}},  // an Arabic-Indic five
    };
    for (const auto& [text, ms] : cases) EXPECT_EQ(quitAfterMilliseconds(QString::fromUtf8(text)), ms) << text;
}

TEST(UiScaleTest, OnlyAScaleOtherThanAHundredSetsAFactorNotAlreadySet) {
    const std::pair<int, const char*> cases[] = {{125, "1.25"}, {75, "0.75"}, {200, "2"}, {133, "1.33"}};
    for (const auto& [percent, factor] : cases) EXPECT_EQ(scaleFactorFor(percent, ""), QByteArray(factor));
    EXPECT_EQ(scaleFactorFor(100, ""), std::nullopt);
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

TEST(StartupThemeTest, OptionThenLoadedCustomThemeThenBuiltInSetting) {
    const QStringList loaded{"graphite", "dark", "light", "mine"};
    EXPECT_EQ(startupThemeId({QStringLiteral("light"), "mine", "dark"}, loaded), "light");
    // An option naming no loaded theme gives way to the settings, as if it were not given.
    EXPECT_EQ(startupThemeId({QStringLiteral("nope"), "mine", "dark"}, loaded), "mine");
    EXPECT_EQ(startupThemeId({QStringLiteral("Light"), "", "dark"}, loaded), "dark");
    EXPECT_EQ(startupThemeId({std::nullopt, "mine", "dark"}, loaded), "mine");
    for (const char* custom : {"Mine", "gone", ""}) {
        EXPECT_EQ(startupThemeId({std::nullopt, custom, "dark"}, loaded), "dark") << custom;
    }
}

// The token in force, "<unsaved>" when it could not be saved.
QString tokenOf(SettingsBridge& settings) {
    QString token = QStringLiteral("<untouched>");
    return ensureApiToken(settings, token, nullptr) ? token : QStringLiteral("<unsaved>");
}

TEST(ApiTokenTest, ATokenIsMadeOnlyWhileTheApiIsOnSavedOnceAndThenKept) {
    LiveFixture fixture;
    EXPECT_EQ(tokenOf(fixture.settings), "");
    EXPECT_FALSE(std::filesystem::exists(fixture.dir / "settings.json"));

    ASSERT_TRUE(fixture.settings.setValue("api.enabled", true));
    const QString token = tokenOf(fixture.settings);
    EXPECT_TRUE(kTokenPattern.match(token).hasMatch()) << token.toStdString();
    EXPECT_EQ(fixture.savedValues().value("api.token").toString(), token);
    EXPECT_EQ(tokenOf(fixture.settings), token);
    EXPECT_NE(makeApiToken(), token);

    ASSERT_TRUE(fixture.settings.setValue("api.token", QStringLiteral("chosen-by-hand")));
    EXPECT_EQ(tokenOf(fixture.settings), "chosen-by-hand");
}

TEST(LiveSettingsTest, ChoosingABuiltInThemeClearsTheCustomOne) {
    LiveFixture fixture;
    ASSERT_TRUE(fixture.settings.setValue("appearance.custom_theme", QStringLiteral("dark")));
    EXPECT_EQ(fixture.themes.currentId(), "dark");
    ASSERT_TRUE(fixture.settings.setValue("appearance.theme", QStringLiteral("light")));
    EXPECT_EQ(fixture.themes.currentId(), "light");
    EXPECT_EQ(fixture.settings.value("appearance.custom_theme"), QVariant(QString()));
    EXPECT_FALSE(fixture.savedValues().contains("appearance.custom_theme"));
    EXPECT_EQ(fixture.savedValues().value("appearance.theme").toString(), "light");

    // A custom theme that is not loaded falls back to the built-in one, and is kept.
    ASSERT_TRUE(fixture.settings.setValue("appearance.theme", QStringLiteral("steel")));
    ASSERT_TRUE(fixture.settings.setValue("appearance.custom_theme", QStringLiteral("gone")));
    EXPECT_EQ(fixture.themes.currentId(), "steel");
    EXPECT_EQ(fixture.settings.value("appearance.custom_theme"), QVariant(QStringLiteral("gone")));
}

TEST(LiveSettingsTest, TheLogLevelActsAtOnce) {
    LiveFixture fixture;
    ASSERT_TRUE(fixture.settings.setValue("logging.level", QStringLiteral("warn")));
    EXPECT_EQ(fixture.log.logger.level(), core::LogLevel::WARN);
    ASSERT_TRUE(fixture.settings.setValue("logging.level", QStringLiteral("debug")));
    EXPECT_EQ(fixture.log.logger.level(), core::LogLevel::DEBUG);
}
