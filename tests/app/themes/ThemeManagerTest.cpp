#include "app/themes/ThemeManager.h"

#include "AppTestSupport.h"
#include "support/TempDir.h"

#include "support/HostileFiles.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace ostrel::app;
using namespace ostrel::test;

namespace {

const QString kBuiltIn = QStringLiteral(":/themes");

// A theme that passes every strict rule: the high-contrast colours.
QJsonObject validTheme(const QString& id = QStringLiteral("mine"), const QString& name = QStringLiteral("Mine")) {
    QJsonObject colours{
        {"background", "#000000"}, {"surface", "#000000"},  {"surfaceRaised", "#1A1A1A"}, {"text", "#FFFFFF"},
        {"textMuted", "#E0E0E0"},  {"accent", "#FFD400"},   {"onAccent", "#000000"},      {"accent2", "#00E5FF"},
        {"border", "#FFFFFF"},     {"error", "#FF8080"},    {"warning", "#FFD400"},       {"success", "#66FF99"},
    };
    return QJsonObject{{"id", id}, {"name", name}, {"colors", colours}};
}

QJsonObject withColour(QJsonObject theme, const QString& key, const QJsonValue& value) {
    QJsonObject colours = theme.value("colors").toObject();
    if (value.isUndefined()) colours.remove(key); else colours.insert(key, value);
    theme.insert("colors", colours);
    return theme;
}

QJsonObject with(const QString& key, const QJsonValue& value, QJsonObject theme = validTheme()) {
    if (value.isUndefined()) theme.remove(key); else theme.insert(key, value);
    return theme;
}

QByteArray bytesOf(const QJsonObject& object) { return QJsonDocument(object).toJson(); }

// A manager with the built-in themes and its two folders in a temporary folder.
struct ThemeFolders {
    ThemeFolders() {
        themes.loadThemeFolder(kBuiltIn);
        themes.setDirectories(userFolder(), exportFolder());
    }
    QString userFolder() const { return qPath(dir / "themes"); }
    QString exportFolder() const { return qPath(dir / "exports"); }
    void put(const QString& folder, const QString& name, const QByteArray& bytes) const {
        QDir().mkpath(folder);
        writeBytes(folder + "/" + name, bytes);
    }

    TempDir dir;
    ThemeManager themes;
};

}  // namespace

TEST(ThemeFileTest, EveryValidationRuleHasItsMessage) {
    const QString range = "font size (10-24), spacing (4-16) or radius (0-24) is out of range";
    const auto badId = [](const char* id) {
        return QStringLiteral("the theme id \"%1\" may only use lower-case letters, digits, - and _ (up to 40 "
                              "characters)").arg(QLatin1String(id));
    };
    const QString passed = "(passed)";
    struct Case { QByteArray bytes; ThemeCheck check; QString error; };
    const auto strict = [](const QJsonObject& o, const QString& e) { return Case{bytesOf(o), ThemeCheck::Strict, e}; };
    const auto trusted = [](const QJsonObject& o, const QString& e) { return Case{bytesOf(o), ThemeCheck::Trusted, e}; };
    const QString missing = "theme needs id, name and colours (missing: %1)";
    // #8E8E8E on #282828 measures 4.5002; #9A9A9A on #333333 measures 4.4900.
    const QJsonObject atLimit = withColour(withColour(validTheme(), "textMuted", "#8E8E8E"), "surfaceRaised", "#282828");
    const QJsonObject below = withColour(withColour(validTheme(), "textMuted", "#9A9A9A"), "surfaceRaised", "#333333");
    const Case cases[] = {
        // Regression: valid JSON of another kind read "not valid JSON (no error occurred)".
        {"[1, 2]", ThemeCheck::Strict, "not a JSON object (a theme file holds one object in { })"},
        trusted(with("id", QJsonValue::Undefined), missing.arg("")),
        trusted(validTheme("mine", ""), missing.arg("")),
        trusted(withColour(withColour(validTheme(), "success", QJsonValue::Undefined), "surface", QJsonValue::Undefined),
                missing.arg("surface, success")),
        strict(validTheme("a"), passed),
        strict(validTheme("my-theme_2"), passed),
        strict(validTheme(QString(40, u'x')), passed),
        strict(validTheme("Dark"), badId("Dark")),
        strict(validTheme("-dark"), badId("-dark")),
        strict(validTheme("dark theme"), badId("dark theme")),
        strict(validTheme(QString(41, u'x')), badId(QByteArray(41, 'x').constData())),
        trusted(validTheme("Dark"), passed),
        strict(validTheme("mine", QString(60, u'n')), passed),
        strict(validTheme("mine", QString(61, u'n')), "the theme name is longer than 60 characters"),
        strict(withColour(validTheme(), "accent", 5), "the colour \"accent\" is not a valid colour (use #RRGGBB)"),
        strict(withColour(validTheme(), "border", "notacolour"), "the colour \"border\" is not a valid colour (use #RRGGBB)"),
        strict(withColour(validTheme(), "border", "red"), passed),
        strict(withColour(validTheme(), "border", "#FFF"), passed),
        strict(with("radius", 0), passed),
        strict(with("radius", 24), passed),
        strict(with("radius", -1), range),
        strict(with("radius", 25), range),
        trusted(with("radius", 25), passed),
        strict(with("spacing", 8.5), passed),
        strict(with("spacing", 3), range),
        strict(with("font", QJsonObject{{"baseSize", 9}}), range),
        strict(with("font", QJsonObject{{"baseSize", 24}}), passed),
        strict(atLimit, passed),
        strict(below, "\"textMuted\" on \"surfaceRaised\" is hard to read (contrast 4.49:1, needs 4.5:1)"),
        trusted(below, passed),
        strict(withColour(validTheme(), "onAccent", "#FFFFFF"),
               "\"onAccent\" on \"accent\" is hard to read (contrast 1.43:1, needs 4.5:1)"),
    };
    for (const Case& c : cases) {
        Theme theme;
        QString error;
        const bool ok = ThemeManager::parseTheme(c.bytes, theme, &error, c.check);
        EXPECT_EQ(ok ? passed : error, c.error) << c.bytes.toStdString();
    }
    for (const QByteArray& broken : {QByteArray("{\"id\": "), QByteArray("")}) {
        Theme theme;
        QString error;
        EXPECT_FALSE(ThemeManager::parseTheme(broken, theme, &error, ThemeCheck::Strict));
        EXPECT_TRUE(error.startsWith("not valid JSON (")) << error.toStdString();
    }
}

TEST(ThemeFileTest, ValuesOfAnotherTypeReadAsTheirDefaults) {
    QJsonObject object = withColour(validTheme(), "accent", 5);
    object.insert("spacing", 8.5);
    object.insert("radius", "12");
    object.insert("font", QJsonObject{{"family", 3}, {"baseSize", 16}});
    Theme theme;
    ASSERT_TRUE(ThemeManager::parseTheme(bytesOf(object), theme, nullptr, ThemeCheck::Trusted));
    EXPECT_EQ(theme.colors.value("accent").toString(), "");
    EXPECT_EQ(theme.spacing, 8);
    EXPECT_EQ(theme.radius, 10);
    EXPECT_EQ(theme.order, 100);
    EXPECT_EQ(theme.fontFamily, "");
    EXPECT_EQ(theme.baseFontSize, 16);
    EXPECT_FALSE(theme.user);
}

TEST(ThemeFileTest, WrittenFilesKeepKnownKeysAndEveryColourInAscendingOrder) {
    QJsonObject object = with("order", 7, with("unknown", 1, withColour(validTheme(), "track1", "#123456")));
    Theme theme;
    ASSERT_TRUE(ThemeManager::parseTheme(bytesOf(object), theme, nullptr, ThemeCheck::Strict));
    const QByteArray written = QJsonDocument(ThemeManager::themeToJson(theme)).toJson(QJsonDocument::Indented);
    const QJsonObject back = QJsonDocument::fromJson(written).object();
    EXPECT_EQ(back.keys(), QStringList({"colors", "font", "id", "name", "order", "radius", "spacing"}));
    EXPECT_EQ(back.value("colors").toObject().value("track1").toString(), "#123456");
    EXPECT_EQ(back.value("colors").toObject().size(), 13);
    EXPECT_EQ(back.value("order").toInt(), 7);
    EXPECT_TRUE(written.startsWith("{\n    \"colors\": {\n        \"accent\": \"#FFD400\",\n"));
    EXPECT_TRUE(written.endsWith("}\n"));
}

TEST(BuiltInThemesTest, FiveStrictThemesLoadInOrderWithGraphiteCurrent) {
    for (const QString& name : QDir(kBuiltIn).entryList({"*.json"}, QDir::Files)) {
        Theme theme;
        QString error;
        EXPECT_TRUE(ThemeManager::parseTheme(readBytes(kBuiltIn + "/" + name), theme, &error, ThemeCheck::Strict))
            << name.toStdString() << ": " << error.toStdString();
        EXPECT_EQ(theme.id + ".json", name);
    }
    ThemeManager themes;
    QSignalSpy changed(&themes, &ThemeManager::themeChanged);
    QSignalSpy listed(&themes, &ThemeManager::themesChanged);
    EXPECT_EQ(themes.loadThemeFolder(kBuiltIn), 5);
    EXPECT_EQ(themes.themeIds(), QStringList({"graphite", "dark", "steel", "light", "high-contrast"}));
    EXPECT_EQ(themes.currentName(), "Ostrel Graphite");
    EXPECT_EQ(themes.colors().value("background").toString(), "#1A1A1C");
    EXPECT_EQ(themes.colors().size(), 24);
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(themes.warnings().isEmpty());
    EXPECT_FALSE(themes.isUserTheme("graphite"));

    themes.setCurrentId("high-contrast");
    EXPECT_EQ(themes.baseFontSize(), 15);
    EXPECT_EQ(themes.radius(), 6);
    EXPECT_EQ(themes.spacing(), 8);
    EXPECT_EQ(themes.fontFamily(), "Segoe UI");
    EXPECT_EQ(themes.nameForId("high-contrast"), "High Contrast");
    EXPECT_EQ(themes.nameForId("nope"), "nope");
}

TEST(ThemeSelectionTest, OnlyALoadedOtherIdChangesTheTheme) {
    ThemeManager themes;
    EXPECT_TRUE(themes.colors().isEmpty());  // nothing loaded: defaults, no crash
    EXPECT_EQ(themes.baseFontSize(), 14);
    themes.loadThemeFolder(kBuiltIn);
    QSignalSpy changed(&themes, &ThemeManager::themeChanged);
    themes.setCurrentId("graphite");
    themes.setCurrentId("nope");
    themes.setCurrentId("");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(themes.currentId(), "graphite");
    EXPECT_EQ(themes.warnings(), QStringList({"unknown theme id 'nope'", "unknown theme id ''"}));
    themes.setCurrentId("light");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(themes.colors().value("background").toString(), "#F4F5FA");
}

TEST(UserThemesTest, AreReadStrictlyMarkedAsTheUsersAndSkipTakenIds) {
    EXPECT_EQ(ThemeManager().loadUserThemes(), 0);  // no folder set
    ThemeFolders folders;
    EXPECT_EQ(folders.themes.loadUserThemes(), 0);  // the folder does not exist yet
    const QString user = folders.userFolder();
    folders.put(user, "a-mine.json", bytesOf(validTheme("mine", "Mine")));
    folders.put(user, "b-mine.json", bytesOf(validTheme("mine", "Second")));
    folders.put(user, "light-copy.json", bytesOf(validTheme("light", "Copy")));
    folders.put(user, "murky.json", bytesOf(withColour(validTheme("murky"), "text", "#111111")));
    folders.put(user, "notes.txt", "not a theme");
    folders.put(user, ".hidden.json", bytesOf(validTheme("hidden")));

    EXPECT_EQ(folders.themes.loadUserThemes(), 1);
    EXPECT_TRUE(folders.themes.isUserTheme("mine"));
    EXPECT_EQ(folders.themes.nameForId("mine"), "Mine");
    EXPECT_EQ(folders.themes.themeIds().last(), "mine");
    EXPECT_EQ(folders.themes.warnings(),
              QStringList({"b-mine.json: a theme with the id \"mine\" already exists; skipped",
                           "light-copy.json: a theme with the id \"light\" already exists; skipped",
                           "murky.json: \"text\" on \"background\" is hard to read (contrast 1.11:1, needs 4.5:1)"}));
}

// Regression: the folder listing followed links and read with readAll, so a link to
// /dev/zero read until memory ran out, a FIFO hung the start and a sparse file took its size.
TEST(UserThemesTest, DevicesPipesAndHugeFilesAreSkippedWithAWarningNamingThem) {
    ThemeFolders folders;
    const QString user = folders.userFolder();
    folders.put(user, "good.json", bytesOf(validTheme("good")));
    const std::filesystem::path folder = folders.dir / "themes";
    std::filesystem::create_symlink("/dev/zero", folder / "zero.json");
    makeFifo(folder / "pipe.json");
    makeSparseFile(folder / "sparse.json", 3ull << 30);
    std::filesystem::create_directory(folder / "folder.json");
    std::filesystem::create_symlink(folder / "gone", folder / "dangling.json");

    int added = -1;
    EXPECT_TRUE(returnsWithoutAWriter(folder / "pipe.json", [&] {
        runWithinMemory(1024, [&] { added = folders.themes.loadUserThemes(); });
    }));
    EXPECT_EQ(added, 1);
    EXPECT_TRUE(folders.themes.isUserTheme("good"));
    const QString notRegular = ": not a regular file (a device, a pipe, a folder or a link to one); skipped";
    EXPECT_EQ(folders.themes.warnings(),
              QStringList({"dangling.json: cannot be opened (No such file or directory); skipped",
                           "folder.json" + notRegular, "pipe.json" + notRegular,
                           "sparse.json: larger than 256 KiB, too large to be a theme file; skipped",
                           "zero.json" + notRegular}));
}

// Regression: QDir turned a name that is not UTF-8 into one that names no file, and the
// theme vanished without a word.
TEST(UserThemesTest, ANameThatIsNotUtf8IsSkippedWithOneWarning) {
    ThemeFolders folders;
    folders.put(folders.userFolder(), "good.json", bytesOf(validTheme("good")));
    std::ofstream(folders.dir / "themes" / "caf\xE9.json") << bytesOf(validTheme("cafe")).toStdString();
    EXPECT_EQ(folders.themes.loadUserThemes(), 1);
    EXPECT_EQ(folders.themes.warnings(),
              QStringList({QStringLiteral("caf\uFFFD.json: the file name is not valid UTF-8; skipped (rename the file)")}));
}

TEST(ThemeImportTest, APipeInTheExportFolderIsRefusedWithoutWaiting) {
    ThemeFolders folders;
    QDir().mkpath(folders.exportFolder());
    makeFifo(folders.dir / "exports" / "pipe.json");
    bool imported = true;
    EXPECT_TRUE(returnsWithoutAWriter(folders.dir / "exports" / "pipe.json",
                                      [&] { imported = folders.themes.importTheme("pipe.json"); }));
    EXPECT_FALSE(imported);
    EXPECT_EQ(folders.themes.fileMessage(), "pipe.json is not a regular file.");
}

// Regression: 4.498:1 was shown as "4.50:1, needs 4.5:1".
TEST(ThemeFileTest, ARefusedContrastIsShownRoundedDown) {
    // #0B8640 on black: 4.4983:1.
    Theme theme;
    QString error;
    EXPECT_FALSE(ThemeManager::parseTheme(bytesOf(withColour(validTheme(), "textMuted", "#0B8640")), theme, &error,
                                          ThemeCheck::Strict));
    EXPECT_EQ(error, "\"textMuted\" on \"background\" is hard to read (contrast 4.49:1, needs 4.5:1)");
}

TEST(ThemeExportTest, WritesTheThemeListsTheFileOnceAndReportsFailures) {
    ThemeFolders folders;
    QSignalSpy listed(&folders.themes, &ThemeManager::importFilesChanged);
    QSignalSpy messages(&folders.themes, &ThemeManager::fileMessageChanged);

    const QString path = folders.themes.exportTheme("graphite");
    EXPECT_EQ(path, folders.exportFolder() + "/graphite.json");
    // The built-in file is written in the same layout, so the copy is byte for byte the same.
    EXPECT_EQ(readBytes(path), readBytes(kBuiltIn + "/graphite.json"));
    EXPECT_EQ(folders.themes.importFiles(), QStringList({"graphite.json"}));
    EXPECT_EQ(folders.themes.fileMessage(), QStringLiteral("Saved “Ostrel Graphite” to %1").arg(path));
    EXPECT_FALSE(folders.themes.fileProblem());

    writeBytes(path, "old");
    EXPECT_EQ(folders.themes.exportTheme("graphite"), path);
    EXPECT_EQ(readBytes(path), readBytes(kBuiltIn + "/graphite.json"));
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(messages.count(), 2);

    const QString taken = folders.exportFolder() + "/dark.json";
    std::filesystem::create_directories(taken.toStdString() + "/inside");
    EXPECT_EQ(folders.themes.exportTheme("dark"), "");
    EXPECT_EQ(folders.themes.fileMessage(),
              QStringLiteral("Ostrel could not write %1 (cannot replace %1: Is a directory).").arg(taken));
    std::filesystem::remove_all(taken.toStdString());

    EXPECT_EQ(folders.themes.exportTheme("nope"), "");
    EXPECT_EQ(folders.themes.fileMessage(), "There is no theme called \"nope\".");
    EXPECT_TRUE(folders.themes.fileProblem());

    writeBytes(qPath(folders.dir / "file"), "x");
    folders.themes.setDirectories(folders.userFolder(), qPath(folders.dir / "file" / "exports"));
    EXPECT_EQ(folders.themes.exportTheme("dark"), "");
    EXPECT_EQ(folders.themes.fileMessage(), "Ostrel could not create the export folder (cannot create folder " +
                                                qPath(folders.dir / "file" / "exports") + ": Not a directory).");

    ThemeManager unset;
    unset.loadThemeFolder(kBuiltIn);
    EXPECT_EQ(unset.exportTheme("dark"), "");
    EXPECT_EQ(unset.fileMessage(), "Ostrel could not create the export folder (no folder is set for it).");
}

TEST(ThemeImportTest, AddsTheRewrittenThemeAfterTheBuiltInOnesAndRemovesItAgain) {
    ThemeFolders folders;
    const QJsonObject object = with("extra", true, with("order", 5, withColour(validTheme("night", "Night"), "track1", "#123456")));
    folders.put(folders.exportFolder(), "night.json", bytesOf(object));
    QSignalSpy listed(&folders.themes, &ThemeManager::themesChanged);
    QSignalSpy changed(&folders.themes, &ThemeManager::themeChanged);

    EXPECT_TRUE(folders.themes.importTheme("night.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "Added the theme “Night”. Pick it in the top bar.");
    EXPECT_FALSE(folders.themes.fileProblem());
    EXPECT_EQ(folders.themes.themeIds().last(), "night");
    EXPECT_TRUE(folders.themes.isUserTheme("night"));
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(changed.count(), 0);

    const QJsonObject saved = readJsonObject(folders.userFolder() + "/night.json");
    EXPECT_EQ(saved.value("order").toInt(), 100);
    EXPECT_FALSE(saved.contains("extra"));
    EXPECT_EQ(saved.value("colors").toObject().value("track1").toString(), "#123456");
    EXPECT_EQ(saved.value("font").toObject().value("baseSize").toInt(), 14);
    EXPECT_TRUE(QFile::exists(folders.exportFolder() + "/night.json"));

    // Only the user's themes can be removed; the current one falls back to the first.
    folders.themes.setCurrentId("night");
    changed.clear();
    listed.clear();
    EXPECT_FALSE(folders.themes.removeTheme("dark"));
    EXPECT_EQ(folders.themes.fileMessage(), "Only your own themes can be removed.");
    EXPECT_FALSE(folders.themes.removeTheme("nope"));
    EXPECT_EQ(listed.count(), 0);
    EXPECT_TRUE(folders.themes.removeTheme("night"));
    EXPECT_EQ(folders.themes.fileMessage(), "Removed the theme “Night”.");
    EXPECT_FALSE(folders.themes.fileProblem());
    EXPECT_FALSE(QFile::exists(folders.userFolder() + "/night.json"));
    EXPECT_TRUE(QFile::exists(folders.exportFolder() + "/night.json"));
    EXPECT_EQ(folders.themes.currentId(), "graphite");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(listed.count(), 1);
    EXPECT_FALSE(folders.themes.themeIds().contains("night"));
}

TEST(ThemeImportTest, RefusedFilesAreProblemsThatAddNothing) {
    ThemeFolders folders;
    const QString exports = folders.exportFolder();
    folders.put(exports, "x.json", bytesOf(validTheme("x")));
    folders.put(exports, "text.json", "just words");
    folders.put(exports, "list.json", "[]");
    folders.put(exports, "dark.json", bytesOf(validTheme("dark", "Mine")));
    QByteArray big = bytesOf(validTheme("big"));
    big.append(QByteArray(ThemeManager::kMaxThemeFileBytes - big.size(), ' '));
    folders.put(exports, "exact.json", big);
    folders.put(exports, "over.json", big + " ");
    QSignalSpy messages(&folders.themes, &ThemeManager::fileMessageChanged);

    const QString notInFolder = "That is not a file in the export folder.";
    const std::pair<QString, QString> cases[] = {
        {"", notInFolder},
        {"../x.json", notInFolder},
        {"sub/x.json", notInFolder},
        {".x.json", notInFolder},
        {"x.json/", notInFolder},
        {"absent.json", "Ostrel could not open absent.json (No such file or directory)."},
        {"over.json", "over.json is too large to be a theme file."},
        {"list.json", "list.json cannot be used: not a JSON object (a theme file holds one object in { })"},
        {"dark.json", "A theme with the id \"dark\" already exists. Change the \"id\" in the file and try again."},
        {"dark.json", "A theme with the id \"dark\" already exists. Change the \"id\" in the file and try again."},
    };
    for (const auto& [name, message] : cases) {
        EXPECT_FALSE(folders.themes.importTheme(name)) << name.toStdString();
        EXPECT_EQ(folders.themes.fileMessage(), message) << name.toStdString();
        EXPECT_TRUE(folders.themes.fileProblem());
    }
    EXPECT_FALSE(folders.themes.importTheme("text.json"));
    EXPECT_TRUE(folders.themes.fileMessage().startsWith("text.json cannot be used: not valid JSON ("));
    EXPECT_EQ(messages.count(), static_cast<qsizetype>(std::size(cases)) + 1);  // the same report again is still announced
    EXPECT_EQ(folders.themes.themeIds().size(), 5);
    EXPECT_TRUE(folders.themes.importTheme("exact.json"));  // the size limit itself is allowed

    const QString taken = folders.userFolder() + "/x.json";
    std::filesystem::create_directories(taken.toStdString() + "/inside");
    EXPECT_FALSE(folders.themes.importTheme("x.json"));
    EXPECT_EQ(folders.themes.fileMessage(),
              QStringLiteral("Ostrel could not save the theme (cannot replace %1: Is a directory).").arg(taken));

    writeBytes(qPath(folders.dir / "file"), "x");
    folders.themes.setDirectories(qPath(folders.dir / "file" / "themes"), exports);
    EXPECT_FALSE(folders.themes.importTheme("x.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "Ostrel could not create the themes folder (cannot create folder " +
                                                qPath(folders.dir / "file" / "themes") + ": Not a directory).");
    EXPECT_FALSE(folders.themes.themeIds().contains("x"));
}

TEST(ThemeFoldersTest, SettingTheFoldersListsTheExportFolder) {
    TempDir dir;
    QDir().mkpath(qPath(dir / "exports"));
    for (const char* name : {"b.json", "A.json", "c.txt"}) writeBytes(qPath(dir / "exports" / name), "{}");
    ThemeManager themes;
    QSignalSpy folders(&themes, &ThemeManager::directoriesChanged);
    QSignalSpy listed(&themes, &ThemeManager::importFilesChanged);
    themes.setDirectories(qPath(dir / "themes"), qPath(dir / "exports"));
    EXPECT_EQ(themes.exportDirectory(), qPath(dir / "exports"));
    EXPECT_EQ(themes.importFiles(), QStringList({"A.json", "b.json"}));
    EXPECT_EQ(folders.count(), 1);
    EXPECT_EQ(listed.count(), 1);
    themes.refreshImportFiles();
    EXPECT_EQ(listed.count(), 1);
}
