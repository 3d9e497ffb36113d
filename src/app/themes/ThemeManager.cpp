#include "app/themes/ThemeManager.h"

#include "app/files/FileNames.h"
#include "core/files/AtomicWriter.h"
#include "core/files/JsonText.h"
#include "core/files/RegularFile.h"

#include <QColor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>
#include <vector>

namespace ostrel::app {
namespace {

// Every theme defines these; the views may read more.
const std::array<QString, 12>& colourKeys() {
    static const std::array<QString, 12> keys = {
        QStringLiteral("background"), QStringLiteral("surface"),  QStringLiteral("surfaceRaised"),
        QStringLiteral("text"),       QStringLiteral("textMuted"), QStringLiteral("accent"),
        QStringLiteral("onAccent"),   QStringLiteral("accent2"),   QStringLiteral("border"),
        QStringLiteral("error"),      QStringLiteral("warning"),   QStringLiteral("success"),
    };
    return keys;
}

struct ContrastPair {
    QString foreground;
    QString background;
};

const std::array<ContrastPair, 10>& contrastPairs() {
    static const std::array<ContrastPair, 10> pairs = {{
        {QStringLiteral("text"), QStringLiteral("background")},
        {QStringLiteral("text"), QStringLiteral("surface")},
        {QStringLiteral("textMuted"), QStringLiteral("background")},
        {QStringLiteral("textMuted"), QStringLiteral("surface")},
        {QStringLiteral("textMuted"), QStringLiteral("surfaceRaised")},
        {QStringLiteral("onAccent"), QStringLiteral("accent")},
        {QStringLiteral("error"), QStringLiteral("surface")},
        {QStringLiteral("warning"), QStringLiteral("surface")},
        {QStringLiteral("success"), QStringLiteral("surface")},
        {QStringLiteral("accent2"), QStringLiteral("surface")},
    }};
    return pairs;
}

const QRegularExpression& idPattern() {
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9][a-z0-9_-]{0,39}$"));
    return pattern;
}

bool failWith(QString* error, const QString& reason) {
    if (error != nullptr) {
        *error = reason;
    }
    return false;
}

// A JSON number with a whole value that fits an int; anything else gives the fallback.
int readInt(const QJsonValue& value, int fallback) {
    if (!value.isDouble()) {
        return fallback;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < std::numeric_limits<int>::min() ||
        number > std::numeric_limits<int>::max()) {
        return fallback;
    }
    return static_cast<int>(number);
}

// Visible "*.json" files of a folder, by name, case-sensitively.
QStringList themeFilesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
}

std::filesystem::path localPath(const QString& path) { return std::filesystem::path(QFile::encodeName(path).toStdString()); }

// The "*.json" files of a folder on disk by their names' bytes, sorted, hidden ones left
// out. A name that is not valid UTF-8 cannot be named to the user or opened again through
// a QString, so it goes to `unreadableNames` (shown with replacement characters) instead.
QStringList themeFilesOnDisk(const QString& folder, QStringList& unreadableNames) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(localPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (name.starts_with('.') || !name.ends_with(".json")) {
            continue;
        }
        if (!core::isValidUtf8(name)) {
            unreadableNames.append(QString::fromUtf8(name));
            continue;
        }
        names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    QStringList files;
    for (const std::string& name : names) {
        files.append(QString::fromStdString(name));
    }
    return files;
}

// Why a theme file on disk was not read, in words for the log and the sheet; "" when the
// bytes were read.
QString readThemeFile(const QString& path, QByteArray& bytes) {
    std::string text;
    int code = 0;
    const core::FileReadProblem problem =
        core::readRegularFile(localPath(path), ThemeManager::kMaxThemeFileBytes, text, &code);
    switch (problem) {
    case core::FileReadProblem::None:
        bytes = QByteArray::fromStdString(text);
        return {};
    case core::FileReadProblem::NotRegularFile:
        return QStringLiteral("not a regular file (a device, a pipe, a folder or a link to one); skipped");
    case core::FileReadProblem::TooLarge:
        return QStringLiteral("larger than %1 KiB, too large to be a theme file; skipped")
            .arg(ThemeManager::kMaxThemeFileBytes / 1024);
    case core::FileReadProblem::OutOfMemory:
        return QStringLiteral("too large to read into memory; skipped");
    case core::FileReadProblem::CannotOpen:
    case core::FileReadProblem::ReadFailed:
        break;
    }
    return QStringLiteral("cannot be opened (%1); skipped")
        .arg(QString::fromStdString(core::whyNotRead(problem, code)));
}

// Replaces path only once every byte is written; why not goes to error.
bool writeWhole(const QString& path, const QByteArray& bytes, std::string* error) {
    return core::writeFileAtomically(localPath(path), std::string_view(bytes.constData(), bytes.size()), error);
}

QByteArray themeFileBytes(const Theme& theme) {
    return QJsonDocument(ThemeManager::themeToJson(theme)).toJson(QJsonDocument::Indented);
}

}  // namespace

ThemeManager::ThemeManager(QObject* parent) : QObject(parent) {}

const Theme* ThemeManager::findTheme(const QString& id) const {
    for (const Theme& theme : themes_) {
        if (theme.id == id) {
            return &theme;
        }
    }
    return nullptr;
}

QVariantMap ThemeManager::colors() const {
    const Theme* theme = currentTheme();
    return theme != nullptr ? theme->colors : QVariantMap();
}

QString ThemeManager::currentName() const {
    const Theme* theme = currentTheme();
    return theme != nullptr ? theme->name : QString();
}

QString ThemeManager::fontFamily() const {
    const Theme* theme = currentTheme();
    return theme != nullptr ? theme->fontFamily : QString();
}

int ThemeManager::baseFontSize() const {
    const Theme* theme = currentTheme();
    return theme != nullptr ? theme->baseFontSize : Theme().baseFontSize;
}

int ThemeManager::spacing() const {
    const Theme* theme = currentTheme();
    return theme != nullptr ? theme->spacing : Theme().spacing;
}

int ThemeManager::radius() const {
    const Theme* theme = currentTheme();
    return theme != nullptr ? theme->radius : Theme().radius;
}

QStringList ThemeManager::themeIds() const {
    QStringList ids;
    ids.reserve(themes_.size());
    for (const Theme& theme : themes_) {
        ids.append(theme.id);
    }
    return ids;
}

void ThemeManager::setCurrentId(const QString& id) {
    if (id == currentId_) {
        return;
    }
    if (findTheme(id) == nullptr) {
        warnings_.append(QStringLiteral("unknown theme id '%1'").arg(id));
        return;
    }
    currentId_ = id;
    emit themeChanged();
}

double ThemeManager::relativeLuminance(const QColor& color) {
    const auto linear = [](int channel) {
        const double c = channel / 255.0;
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.red()) + 0.7152 * linear(color.green()) + 0.0722 * linear(color.blue());
}

bool ThemeManager::parseTheme(const QByteArray& bytes, Theme& out, QString* error, ThemeCheck check) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return failWith(error, QStringLiteral("not valid JSON (%1)").arg(parseError.errorString()));
    }
    if (!document.isObject()) {
        return failWith(error, QStringLiteral("not a JSON object (a theme file holds one object in { })"));
    }
    const QJsonObject root = document.object();

    Theme theme;
    theme.id = root.value(QStringLiteral("id")).toString();
    theme.name = root.value(QStringLiteral("name")).toString();
    const QJsonObject colours = root.value(QStringLiteral("colors")).toObject();
    for (auto it = colours.begin(); it != colours.end(); ++it) {
        theme.colors.insert(it.key(), it.value().toString());
    }
    const QJsonObject font = root.value(QStringLiteral("font")).toObject();
    theme.fontFamily = font.value(QStringLiteral("family")).toString();
    theme.baseFontSize = readInt(font.value(QStringLiteral("baseSize")), theme.baseFontSize);
    theme.spacing = readInt(root.value(QStringLiteral("spacing")), theme.spacing);
    theme.radius = readInt(root.value(QStringLiteral("radius")), theme.radius);
    theme.order = readInt(root.value(QStringLiteral("order")), theme.order);

    QStringList missing;
    for (const QString& key : colourKeys()) {
        if (!theme.colors.contains(key)) {
            missing.append(key);
        }
    }
    if (theme.id.isEmpty() || theme.name.isEmpty() || !missing.isEmpty()) {
        return failWith(error,
                        QStringLiteral("theme needs id, name and colours (missing: %1)").arg(missing.join(QStringLiteral(", "))));
    }

    if (check == ThemeCheck::Strict) {
        if (!idPattern().match(theme.id).hasMatch()) {
            return failWith(error, QStringLiteral("the theme id \"%1\" may only use lower-case letters, digits, - and _ "
                                                  "(up to 40 characters)")
                                       .arg(theme.id));
        }
        if (theme.name.size() > 60) {
            return failWith(error, QStringLiteral("the theme name is longer than 60 characters"));
        }
        for (const QString& key : colourKeys()) {
            if (!QColor::isValidColorName(theme.colors.value(key).toString())) {
                return failWith(error, QStringLiteral("the colour \"%1\" is not a valid colour (use #RRGGBB)").arg(key));
            }
        }
        const bool inRange = theme.baseFontSize >= 10 && theme.baseFontSize <= 24 && theme.spacing >= 4 &&
                             theme.spacing <= 16 && theme.radius >= 0 && theme.radius <= 24;
        if (!inRange) {
            return failWith(error, QStringLiteral("font size (10-24), spacing (4-16) or radius (0-24) is out of range"));
        }
        for (const ContrastPair& pair : contrastPairs()) {
            const double l1 = relativeLuminance(QColor(theme.colors.value(pair.foreground).toString()));
            const double l2 = relativeLuminance(QColor(theme.colors.value(pair.background).toString()));
            const double ratio = (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
            // Shown rounded down: a ratio just under the bound must not read as reaching it.
            if (ratio < kMinContrast) {
                return failWith(error, QStringLiteral("\"%1\" on \"%2\" is hard to read (contrast %3:1, needs 4.5:1)")
                                           .arg(pair.foreground, pair.background,
                                                QString::number(std::floor(ratio * 100.0) / 100.0, 'f', 2)));
            }
        }
    }

    theme.user = false;
    out = theme;
    return true;
}

QJsonObject ThemeManager::themeToJson(const Theme& theme) {
    // QJsonObject keeps its keys sorted, so the file lists them in ascending order.
    QJsonObject colours;
    for (const QString& key : colourKeys()) {
        colours.insert(key, theme.colors.value(key).toString());
    }
    for (auto it = theme.colors.begin(); it != theme.colors.end(); ++it) {
        colours.insert(it.key(), it.value().toString());
    }
    QJsonObject font;
    font.insert(QStringLiteral("family"), theme.fontFamily);
    font.insert(QStringLiteral("baseSize"), theme.baseFontSize);

    QJsonObject root;
    root.insert(QStringLiteral("id"), theme.id);
    root.insert(QStringLiteral("name"), theme.name);
    root.insert(QStringLiteral("colors"), colours);
    root.insert(QStringLiteral("font"), font);
    root.insert(QStringLiteral("spacing"), theme.spacing);
    root.insert(QStringLiteral("radius"), theme.radius);
    root.insert(QStringLiteral("order"), theme.order);
    return root;
}

bool ThemeManager::isUserThemesFolder(const QString& folder) const {
    return !userThemesDirectory_.isEmpty() && QDir(folder) == QDir(userThemesDirectory_);
}

int ThemeManager::loadThemeFolder(const QString& folder) {
    const bool user = isUserThemesFolder(folder);
    const ThemeCheck check = user ? ThemeCheck::Strict : ThemeCheck::Trusted;
    // The built-in themes are resources; every folder on disk is read through the
    // regular-file door, so a device, a pipe or a huge file there cannot stall the start.
    const bool onDisk = !folder.startsWith(u':');
    QStringList unreadableNames;
    const QStringList fileNames = onDisk ? themeFilesOnDisk(folder, unreadableNames) : themeFilesIn(folder);
    for (const QString& name : unreadableNames) {
        warnings_.append(QStringLiteral("%1: the file name is not valid UTF-8; skipped (rename the file)").arg(name));
    }
    int added = 0;
    for (const QString& fileName : fileNames) {
        QByteArray bytes;
        if (onDisk) {
            if (const QString problem = readThemeFile(QDir(folder).filePath(fileName), bytes); !problem.isEmpty()) {
                warnings_.append(QStringLiteral("%1: %2").arg(fileName, problem));
                continue;
            }
        } else {
            QFile file(QDir(folder).filePath(fileName));
            if (!file.open(QIODevice::ReadOnly)) {
                warnings_.append(QStringLiteral("cannot open theme file %1 (%2)").arg(fileName, file.errorString()));
                continue;
            }
            bytes = file.readAll();
        }
        Theme theme;
        QString error;
        if (!parseTheme(bytes, theme, &error, check)) {
            warnings_.append(QStringLiteral("%1: %2").arg(fileName, error));
            continue;
        }
        if (findTheme(theme.id) != nullptr) {
            warnings_.append(
                QStringLiteral("%1: a theme with the id \"%2\" already exists; skipped").arg(fileName, theme.id));
            continue;
        }
        theme.user = user;
        themes_.append(theme);
        ++added;
    }
    if (added > 0) {
        sortThemes();
        emit themesChanged();
        if (currentId_.isEmpty()) {
            setCurrentId(themes_.first().id);
        }
    }
    return added;
}

int ThemeManager::loadUserThemes() {
    if (userThemesDirectory_.isEmpty() || !QFileInfo(userThemesDirectory_).isDir()) {
        return 0;
    }
    return loadThemeFolder(userThemesDirectory_);
}

void ThemeManager::setDirectories(const QString& userThemesFolder, const QString& exportFolder) {
    userThemesDirectory_ = userThemesFolder;
    exportDirectory_ = exportFolder;
    emit directoriesChanged();
    refreshImportFiles();
}

void ThemeManager::sortThemes() {
    std::stable_sort(themes_.begin(), themes_.end(), [](const Theme& a, const Theme& b) {
        return a.order < b.order || (a.order == b.order && a.id < b.id);
    });
}

void ThemeManager::setFileMessage(const QString& text, bool problem) {
    fileMessage_ = text;
    fileProblem_ = problem;
    emit fileMessageChanged();
}

bool ThemeManager::isUserTheme(const QString& id) const {
    const Theme* theme = findTheme(id);
    return theme != nullptr && theme->user;
}

QString ThemeManager::exportTheme(const QString& id) {
    const Theme* theme = findTheme(id);
    if (theme == nullptr) {
        setFileMessage(tr("There is no theme called \"%1\".").arg(id), true);
        return {};
    }
    if (std::string why; !makeFolderToWrite(exportDirectory_, &why)) {
        setFileMessage(tr("Ostrel could not create the export folder (%1).").arg(QString::fromStdString(why)), true);
        return {};
    }
    const QString target = QDir::fromNativeSeparators(QDir(exportDirectory_).filePath(id + QStringLiteral(".json")));
    if (std::string why; !writeWhole(target, themeFileBytes(*theme), &why)) {
        setFileMessage(tr("Ostrel could not write %1 (%2).").arg(target, QString::fromStdString(why)), true);
        return {};
    }
    const QString name = theme->name;
    refreshImportFiles();
    setFileMessage(tr("Saved “%1” to %2").arg(name, QDir::toNativeSeparators(target)), false);
    return target;
}

void ThemeManager::refreshImportFiles() {
    const QStringList files = exportDirectory_.isEmpty() ? QStringList() : themeFilesIn(exportDirectory_);
    if (files != importFiles_) {
        importFiles_ = files;
        emit importFilesChanged();
    }
}

bool ThemeManager::importTheme(const QString& fileName) {
    if (fileName.isEmpty() || QFileInfo(fileName).fileName() != fileName || fileName.startsWith(u'.')) {
        setFileMessage(tr("That is not a file in the export folder."), true);
        return false;
    }
    // Without an export folder the bare name would be looked up in the root folder.
    if (exportDirectory_.isEmpty()) {
        setFileMessage(tr("Ostrel could not open %1 (no export folder is set).").arg(fileName), true);
        return false;
    }
    // Through the regular-file door: a pipe or a device of that name is refused unread.
    std::string text;
    int code = 0;
    const core::FileReadProblem problem =
        core::readRegularFile(localPath(QDir(exportDirectory_).filePath(fileName)), kMaxThemeFileBytes, text, &code);
    switch (problem) {
    case core::FileReadProblem::None:
        break;
    case core::FileReadProblem::TooLarge:
    case core::FileReadProblem::OutOfMemory:
        setFileMessage(tr("%1 is too large to be a theme file.").arg(fileName), true);
        return false;
    case core::FileReadProblem::NotRegularFile:
        setFileMessage(tr("%1 is not a regular file.").arg(fileName), true);
        return false;
    case core::FileReadProblem::CannotOpen:
    case core::FileReadProblem::ReadFailed:
        setFileMessage(
            tr("Ostrel could not open %1 (%2).").arg(fileName, QString::fromStdString(core::whyNotRead(problem, code))),
            true);
        return false;
    }
    const QByteArray bytes = QByteArray::fromStdString(text);
    Theme theme;
    QString error;
    if (!parseTheme(bytes, theme, &error, ThemeCheck::Strict)) {
        setFileMessage(tr("%1 cannot be used: %2").arg(fileName, error), true);
        return false;
    }
    if (findTheme(theme.id) != nullptr) {
        setFileMessage(
            tr("A theme with the id \"%1\" already exists. Change the \"id\" in the file and try again.").arg(theme.id),
            true);
        return false;
    }
    if (std::string why; !makeFolderToWrite(userThemesDirectory_, &why)) {
        setFileMessage(tr("Ostrel could not create the themes folder (%1).").arg(QString::fromStdString(why)), true);
        return false;
    }
    theme.user = true;
    theme.order = std::max(theme.order, 100);
    const QString target = QDir(userThemesDirectory_).filePath(theme.id + QStringLiteral(".json"));
    if (std::string why; !writeWhole(target, themeFileBytes(theme), &why)) {
        setFileMessage(tr("Ostrel could not save the theme (%1).").arg(QString::fromStdString(why)), true);
        return false;
    }
    themes_.append(theme);
    sortThemes();
    emit themesChanged();
    setFileMessage(tr("Added the theme “%1”. Pick it in the top bar.").arg(theme.name), false);
    return true;
}

bool ThemeManager::removeTheme(const QString& id) {
    const Theme* theme = findTheme(id);
    if (theme == nullptr || !theme->user) {
        setFileMessage(tr("Only your own themes can be removed."), true);
        return false;
    }
    const QString name = theme->name;
    if (!userThemesDirectory_.isEmpty()) {
        QFile::remove(QDir(userThemesDirectory_).filePath(id + QStringLiteral(".json")));
    }
    themes_.removeIf([&](const Theme& each) { return each.id == id; });
    emit themesChanged();
    if (currentId_ == id && !themes_.isEmpty()) {
        currentId_.clear();
        setCurrentId(themes_.first().id);
    }
    setFileMessage(tr("Removed the theme “%1”.").arg(name), false);
    return true;
}

void ThemeManager::openExportFolder() {
    if (exportDirectory_.isEmpty()) {
        return;
    }
    makeFolderToWrite(exportDirectory_);
    QDesktopServices::openUrl(QUrl::fromLocalFile(exportDirectory_));
}

QString ThemeManager::nameForId(const QString& id) const {
    const Theme* theme = findTheme(id);
    return theme != nullptr ? theme->name : id;
}

}  // namespace ostrel::app
