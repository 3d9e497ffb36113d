#include "app/ThemeManager.h"

#include "AppTestSupport.h"
#include "support/TempDir.h"

#include <QColor>
#include <QDir>
#include <QJsonArray>
#include <QSignalSpy>

#include <gtest/gtest.h>

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
    colours.insert(key, value);
    theme.insert("colors", colours);
    return theme;
}

QByteArray bytesOf(const QJsonObject& object) { return QJsonDocument(object).toJson(); }

// The error text of a theme that must fail, or "(passed)".
QString errorOf(const QByteArray& bytes, ThemeCheck check = ThemeCheck::Strict) {
    Theme theme;
    QString error;
    return ThemeManager::parseTheme(bytes, theme, &error, check) ? QStringLiteral("(passed)") : error;
}

QString errorOf(const QJsonObject& object, ThemeCheck check = ThemeCheck::Strict) {
    return errorOf(bytesOf(object), check);
}

// A manager with the built-in themes and its two folders in a temporary folder.
struct ThemeFolders {
    ThemeFolders() {
        themes.loadThemeFolder(kBuiltIn);
        themes.setDirectories(userFolder(), exportFolder());
    }
    QString userFolder() const { return qPath(dir / "themes"); }
    QString exportFolder() const { return qPath(dir / "exports"); }
    void putExport(const QString& name, const QByteArray& bytes) const {
        QDir().mkpath(exportFolder());
        writeBytes(exportFolder() + "/" + name, bytes);
    }
    void putUserTheme(const QString& name, const QByteArray& bytes) const {
        QDir().mkpath(userFolder());
        writeBytes(userFolder() + "/" + name, bytes);
    }

    TempDir dir;
    ThemeManager themes;
};

}  // namespace

TEST(ThemeFileTest, ATopLevelThatIsNotAnObjectIsNotValidJson) {
    EXPECT_EQ(errorOf(QByteArray("[1, 2]")), "not valid JSON (no error occurred)");
    EXPECT_TRUE(errorOf(QByteArray("{\"id\": ")).startsWith("not valid JSON ("));
    EXPECT_TRUE(errorOf(QByteArray("")).startsWith("not valid JSON ("));
}

TEST(ThemeFileTest, MissingIdNameOrColoursAreNamed) {
    QJsonObject noId = validTheme();
    noId.remove("id");
    EXPECT_EQ(errorOf(noId, ThemeCheck::Trusted), "theme needs id, name and colours (missing: )");
    EXPECT_EQ(errorOf(validTheme("mine", ""), ThemeCheck::Trusted), "theme needs id, name and colours (missing: )");

    QJsonObject fewColours = validTheme();
    QJsonObject colours = fewColours.value("colors").toObject();
    colours.remove("success");
    colours.remove("surface");
    fewColours.insert("colors", colours);
    EXPECT_EQ(errorOf(fewColours, ThemeCheck::Trusted), "theme needs id, name and colours (missing: surface, success)");
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

TEST(ThemeFileTest, StrictIdsAreShortLowerCaseWords) {
    for (const QString& id : QStringList{"a", "my-theme_2", QString(40, u'x')}) {
        EXPECT_EQ(errorOf(validTheme(id)), "(passed)") << id.toStdString();
    }
    for (const QString& id : QStringList{"Dark", "-dark", "dark theme", QString(41, u'x')}) {
        EXPECT_EQ(errorOf(validTheme(id)),
                  QStringLiteral("the theme id \"%1\" may only use lower-case letters, digits, - and _ (up to 40 "
                                 "characters)")
                      .arg(id))
            << id.toStdString();
    }
    EXPECT_EQ(errorOf(validTheme("Dark"), ThemeCheck::Trusted), "(passed)");
}

TEST(ThemeFileTest, StrictNamesHaveAtMostSixtyCharacters) {
    EXPECT_EQ(errorOf(validTheme("mine", QString(60, u'n'))), "(passed)");
    EXPECT_EQ(errorOf(validTheme("mine", QString(61, u'n'))), "the theme name is longer than 60 characters");
}

TEST(ThemeFileTest, StrictColoursMustBeColourNames) {
    EXPECT_EQ(errorOf(withColour(validTheme(), "accent", 5)),
              "the colour \"accent\" is not a valid colour (use #RRGGBB)");
    EXPECT_EQ(errorOf(withColour(validTheme(), "border", "notacolour")),
              "the colour \"border\" is not a valid colour (use #RRGGBB)");
    EXPECT_EQ(errorOf(withColour(validTheme(), "border", "red")), "(passed)");
    EXPECT_EQ(errorOf(withColour(validTheme(), "border", "#FFF")), "(passed)");
}

TEST(ThemeFileTest, StrictSizesStayInTheirRanges) {
    const QString rangeError = "font size (10-24), spacing (4-16) or radius (0-24) is out of range";
    const auto with = [](const QString& key, const QJsonValue& value) {
        QJsonObject object = validTheme();
        object.insert(key, value);
        return object;
    };
    EXPECT_EQ(errorOf(with("radius", 0)), "(passed)");
    EXPECT_EQ(errorOf(with("radius", 24)), "(passed)");
    EXPECT_EQ(errorOf(with("radius", -1)), rangeError);
    EXPECT_EQ(errorOf(with("radius", 25)), rangeError);
    EXPECT_EQ(errorOf(with("spacing", 8.5)), "(passed)");
    EXPECT_EQ(errorOf(with("spacing", 3)), rangeError);
    EXPECT_EQ(errorOf(with("font", QJsonObject{{"baseSize", 9}})), rangeError);
    EXPECT_EQ(errorOf(with("font", QJsonObject{{"baseSize", 24}})), "(passed)");
    EXPECT_EQ(errorOf(with("radius", 25), ThemeCheck::Trusted), "(passed)");
}

TEST(ThemeFileTest, StrictContrastNeedsFourAndAHalfToOne) {
    // Grey #8E8E8E on #282828 measures 4.5002; #9A9A9A on #333333 measures 4.4900.
    QJsonObject atLimit = withColour(withColour(validTheme(), "textMuted", "#8E8E8E"), "surfaceRaised", "#282828");
    EXPECT_EQ(errorOf(atLimit), "(passed)");
    QJsonObject below = withColour(withColour(validTheme(), "textMuted", "#9A9A9A"), "surfaceRaised", "#333333");
    EXPECT_EQ(errorOf(below), "\"textMuted\" on \"surfaceRaised\" is hard to read (contrast 4.49:1, needs 4.5:1)");
    EXPECT_EQ(errorOf(below, ThemeCheck::Trusted), "(passed)");
    EXPECT_EQ(errorOf(withColour(validTheme(), "onAccent", "#FFFFFF")),
              "\"onAccent\" on \"accent\" is hard to read (contrast 1.43:1, needs 4.5:1)");
}

TEST(ThemeFileTest, RelativeLuminanceSpansBlackToWhite) {
    EXPECT_DOUBLE_EQ(ThemeManager::relativeLuminance(QColor("#000000")), 0.0);
    EXPECT_NEAR(ThemeManager::relativeLuminance(QColor("#FFFFFF")), 1.0, 1e-12);
    EXPECT_NEAR(ThemeManager::relativeLuminance(QColor("#FF0000")), 0.2126, 1e-12);
}

TEST(ThemeFileTest, WrittenFilesKeepKnownKeysAndEveryColourInAscendingOrder) {
    QJsonObject object = withColour(validTheme(), "track1", "#123456");
    object.insert("unknown", 1);
    object.insert("order", 7);
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

TEST(BuiltInThemesTest, FiveThemesLoadInOrderWithGraphiteCurrent) {
    ThemeManager themes;
    QSignalSpy changed(&themes, &ThemeManager::themeChanged);
    QSignalSpy listed(&themes, &ThemeManager::themesChanged);
    EXPECT_EQ(themes.loadThemeFolder(kBuiltIn), 5);
    EXPECT_EQ(themes.themeIds(), QStringList({"graphite", "dark", "steel", "light", "high-contrast"}));
    EXPECT_EQ(themes.currentId(), "graphite");
    EXPECT_EQ(themes.currentName(), "Ostrel Graphite");
    EXPECT_EQ(themes.colors().value("background").toString(), "#1A1A1C");
    EXPECT_EQ(themes.colors().size(), 24);
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(themes.warnings().isEmpty());
    EXPECT_FALSE(themes.isUserTheme("graphite"));
}

TEST(BuiltInThemesTest, EveryBuiltInFileMeetsTheStrictRules) {
    for (const QString& name : QDir(kBuiltIn).entryList({"*.json"}, QDir::Files)) {
        Theme theme;
        QString error;
        EXPECT_TRUE(ThemeManager::parseTheme(readBytes(kBuiltIn + "/" + name), theme, &error, ThemeCheck::Strict))
            << name.toStdString() << ": " << error.toStdString();
        EXPECT_EQ(theme.id + ".json", name);
    }
}

TEST(BuiltInThemesTest, HighContrastHasItsOwnSizes) {
    ThemeManager themes;
    themes.loadThemeFolder(kBuiltIn);
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
    themes.loadThemeFolder(kBuiltIn);
    QSignalSpy changed(&themes, &ThemeManager::themeChanged);
    themes.setCurrentId("graphite");
    EXPECT_EQ(changed.count(), 0);
    themes.setCurrentId("nope");
    themes.setCurrentId("");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(themes.currentId(), "graphite");
    EXPECT_EQ(themes.warnings(), QStringList({"unknown theme id 'nope'", "unknown theme id ''"}));
    themes.setCurrentId("light");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(themes.colors().value("background").toString(), "#F4F5FA");
}

TEST(ThemeSelectionTest, WithoutThemesTheCurrentThemeReadsAsDefaults) {
    ThemeManager themes;
    EXPECT_TRUE(themes.colors().isEmpty());
    EXPECT_EQ(themes.currentName(), "");
    EXPECT_EQ(themes.fontFamily(), "");
    EXPECT_EQ(themes.baseFontSize(), 14);
    EXPECT_EQ(themes.spacing(), 8);
    EXPECT_EQ(themes.radius(), 10);
}

TEST(UserThemesTest, AreReadStrictlyMarkedAsTheUsersAndSkipTakenIds) {
    ThemeFolders folders;
    folders.putUserTheme("a-mine.json", bytesOf(validTheme("mine", "Mine")));
    folders.putUserTheme("b-mine.json", bytesOf(validTheme("mine", "Second")));
    folders.putUserTheme("light-copy.json", bytesOf(validTheme("light", "Copy")));
    folders.putUserTheme("murky.json", bytesOf(withColour(validTheme("murky"), "text", "#111111")));
    folders.putUserTheme("notes.txt", "not a theme");
    folders.putUserTheme(".hidden.json", bytesOf(validTheme("hidden")));

    EXPECT_EQ(folders.themes.loadUserThemes(), 1);
    EXPECT_TRUE(folders.themes.isUserTheme("mine"));
    EXPECT_EQ(folders.themes.nameForId("mine"), "Mine");
    EXPECT_EQ(folders.themes.themeIds().last(), "mine");
    EXPECT_EQ(folders.themes.warnings(),
              QStringList({"b-mine.json: a theme with the id \"mine\" already exists; skipped",
                           "light-copy.json: a theme with the id \"light\" already exists; skipped",
                           "murky.json: \"text\" on \"background\" is hard to read (contrast 1.11:1, needs 4.5:1)"}));
}

TEST(UserThemesTest, AMissingFolderLoadsNothing) {
    ThemeManager themes;
    EXPECT_EQ(themes.loadUserThemes(), 0);
    TempDir dir;
    themes.setDirectories(qPath(dir / "absent"), qPath(dir / "exports"));
    EXPECT_EQ(themes.loadUserThemes(), 0);
}

TEST(ThemeExportTest, WritesTheThemeAndListsTheFileOnce) {
    ThemeFolders folders;
    QSignalSpy listed(&folders.themes, &ThemeManager::importFilesChanged);
    QSignalSpy messages(&folders.themes, &ThemeManager::fileMessageChanged);

    const QString path = folders.themes.exportTheme("graphite");
    EXPECT_EQ(path, folders.exportFolder() + "/graphite.json");
    EXPECT_EQ(readJsonObject(path).value("order").toInt(-1), 0);
    // The built-in file is written in the same layout, so the copy is byte for byte the same.
    EXPECT_EQ(readBytes(path), readBytes(kBuiltIn + "/graphite.json"));
    EXPECT_EQ(folders.themes.importFiles(), QStringList({"graphite.json"}));
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(folders.themes.fileMessage(), QStringLiteral("Saved “Ostrel Graphite” to %1").arg(path));
    EXPECT_FALSE(folders.themes.fileProblem());

    writeBytes(path, "old");
    EXPECT_EQ(folders.themes.exportTheme("graphite"), path);
    EXPECT_EQ(readBytes(path), readBytes(kBuiltIn + "/graphite.json"));
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(messages.count(), 2);
}

TEST(ThemeExportTest, FailuresAreProblemsWithoutAFile) {
    ThemeFolders folders;
    EXPECT_EQ(folders.themes.exportTheme("nope"), "");
    EXPECT_EQ(folders.themes.fileMessage(), "There is no theme called \"nope\".");
    EXPECT_TRUE(folders.themes.fileProblem());

    writeBytes(qPath(folders.dir / "file"), "x");
    folders.themes.setDirectories(folders.userFolder(), qPath(folders.dir / "file" / "exports"));
    EXPECT_EQ(folders.themes.exportTheme("dark"), "");
    EXPECT_EQ(folders.themes.fileMessage(), "Ostrel could not create the export folder.");

    ThemeManager unset;
    unset.loadThemeFolder(kBuiltIn);
    EXPECT_EQ(unset.exportTheme("dark"), "");
    EXPECT_EQ(unset.fileMessage(), "Ostrel could not create the export folder.");
}

TEST(ThemeImportTest, AddsTheRewrittenThemeAfterTheBuiltInOnes) {
    ThemeFolders folders;
    QJsonObject object = withColour(validTheme("night", "Night"), "track1", "#123456");
    object.insert("order", 5);
    object.insert("extra", true);
    folders.putExport("night.json", bytesOf(object));
    QSignalSpy listed(&folders.themes, &ThemeManager::themesChanged);
    QSignalSpy changed(&folders.themes, &ThemeManager::themeChanged);

    EXPECT_TRUE(folders.themes.importTheme("night.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "Added the theme “Night”. Pick it in the top bar.");
    EXPECT_FALSE(folders.themes.fileProblem());
    EXPECT_EQ(folders.themes.themeIds().last(), "night");
    EXPECT_TRUE(folders.themes.isUserTheme("night"));
    EXPECT_EQ(listed.count(), 1);
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(folders.themes.currentId(), "graphite");

    const QJsonObject saved = readJsonObject(folders.userFolder() + "/night.json");
    EXPECT_EQ(saved.value("order").toInt(), 100);
    EXPECT_FALSE(saved.contains("extra"));
    EXPECT_EQ(saved.value("colors").toObject().value("track1").toString(), "#123456");
    EXPECT_EQ(saved.value("font").toObject().value("baseSize").toInt(), 14);
    EXPECT_TRUE(QFile::exists(folders.exportFolder() + "/night.json"));
}

TEST(ThemeImportTest, OnlyBareFileNamesOfTheExportFolderAreRead) {
    ThemeFolders folders;
    folders.putExport("x.json", bytesOf(validTheme("x")));
    for (const QString& name : QStringList{"", "../x.json", "sub/x.json", ".x.json", "x.json/"}) {
        EXPECT_FALSE(folders.themes.importTheme(name)) << name.toStdString();
        EXPECT_EQ(folders.themes.fileMessage(), "That is not a file in the export folder.");
        EXPECT_TRUE(folders.themes.fileProblem());
    }
    EXPECT_FALSE(folders.themes.importTheme("absent.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "Ostrel could not open absent.json.");
}

TEST(ThemeImportTest, FilesOverTheSizeLimitAreRefusedUnparsed) {
    ThemeFolders folders;
    QByteArray bytes = bytesOf(validTheme("big"));
    bytes.append(QByteArray(ThemeManager::kMaxThemeFileBytes - bytes.size(), ' '));
    folders.putExport("exact.json", bytes);
    folders.putExport("over.json", bytes + " ");
    EXPECT_FALSE(folders.themes.importTheme("over.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "over.json is too large to be a theme file.");
    EXPECT_TRUE(folders.themes.importTheme("exact.json"));
}

TEST(ThemeImportTest, BadFilesAndTakenIdsAreProblems) {
    ThemeFolders folders;
    folders.putExport("text.json", "just words");
    folders.putExport("list.json", "[]");
    folders.putExport("dark.json", bytesOf(validTheme("dark", "Mine")));
    QSignalSpy messages(&folders.themes, &ThemeManager::fileMessageChanged);

    EXPECT_FALSE(folders.themes.importTheme("text.json"));
    EXPECT_TRUE(folders.themes.fileMessage().startsWith("text.json cannot be used: not valid JSON ("));
    EXPECT_FALSE(folders.themes.importTheme("list.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "list.json cannot be used: not valid JSON (no error occurred)");
    EXPECT_FALSE(folders.themes.importTheme("dark.json"));
    EXPECT_EQ(folders.themes.fileMessage(),
              "A theme with the id \"dark\" already exists. Change the \"id\" in the file and try again.");
    // The same report again is still announced.
    EXPECT_FALSE(folders.themes.importTheme("dark.json"));
    EXPECT_EQ(messages.count(), 4);
    EXPECT_EQ(folders.themes.themeIds().size(), 5);
}

TEST(ThemeImportTest, WithoutAThemesFolderNothingIsAdded) {
    ThemeFolders folders;
    folders.putExport("x.json", bytesOf(validTheme("x")));
    writeBytes(qPath(folders.dir / "file"), "x");
    folders.themes.setDirectories(qPath(folders.dir / "file" / "themes"), folders.exportFolder());
    EXPECT_FALSE(folders.themes.importTheme("x.json"));
    EXPECT_EQ(folders.themes.fileMessage(), "Ostrel could not create the themes folder.");
    EXPECT_FALSE(folders.themes.themeIds().contains("x"));
}

TEST(ThemeRemovalTest, OnlyTheUsersThemesGoAndTheCurrentFallsBack) {
    ThemeFolders folders;
    folders.putExport("x.json", bytesOf(validTheme("x", "Ex")));
    ASSERT_TRUE(folders.themes.importTheme("x.json"));
    folders.themes.setCurrentId("x");
    QSignalSpy changed(&folders.themes, &ThemeManager::themeChanged);
    QSignalSpy listed(&folders.themes, &ThemeManager::themesChanged);

    EXPECT_FALSE(folders.themes.removeTheme("dark"));
    EXPECT_EQ(folders.themes.fileMessage(), "Only your own themes can be removed.");
    EXPECT_FALSE(folders.themes.removeTheme("nope"));
    EXPECT_EQ(listed.count(), 0);

    EXPECT_TRUE(folders.themes.removeTheme("x"));
    EXPECT_EQ(folders.themes.fileMessage(), "Removed the theme “Ex”.");
    EXPECT_FALSE(folders.themes.fileProblem());
    EXPECT_FALSE(QFile::exists(folders.userFolder() + "/x.json"));
    EXPECT_TRUE(QFile::exists(folders.exportFolder() + "/x.json"));
    EXPECT_EQ(folders.themes.currentId(), "graphite");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(listed.count(), 1);
    EXPECT_FALSE(folders.themes.themeIds().contains("x"));
}

TEST(ThemeFoldersTest, SettingTheFoldersListsTheExportFolder) {
    TempDir dir;
    QDir().mkpath(qPath(dir / "exports"));
    writeBytes(qPath(dir / "exports" / "b.json"), "{}");
    writeBytes(qPath(dir / "exports" / "A.json"), "{}");
    writeBytes(qPath(dir / "exports" / "c.txt"), "{}");
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
