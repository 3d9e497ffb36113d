#pragma once

#include "app/themes/Theme.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QColor;

namespace ostrel::app {

// The context object `theme`: the built-in and the user's themes, the current one, and
// export, import and removal of theme files. GUI thread only.
class ThemeManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(QVariantMap colors READ colors NOTIFY themeChanged)
    Q_PROPERTY(QString currentId READ currentId WRITE setCurrentId NOTIFY themeChanged)
    Q_PROPERTY(QString currentName READ currentName NOTIFY themeChanged)
    Q_PROPERTY(QString fontFamily READ fontFamily NOTIFY themeChanged)
    Q_PROPERTY(int baseFontSize READ baseFontSize NOTIFY themeChanged)
    Q_PROPERTY(int spacing READ spacing NOTIFY themeChanged)
    Q_PROPERTY(int radius READ radius NOTIFY themeChanged)
    Q_PROPERTY(QStringList themeIds READ themeIds NOTIFY themesChanged)
    Q_PROPERTY(QString exportDirectory READ exportDirectory NOTIFY directoriesChanged)
    Q_PROPERTY(QStringList importFiles READ importFiles NOTIFY importFilesChanged)
    Q_PROPERTY(QString fileMessage READ fileMessage NOTIFY fileMessageChanged)
    Q_PROPERTY(bool fileProblem READ fileProblem NOTIFY fileMessageChanged)

public:
    // Theme files on disk (the user's folder and imports) larger than this are refused unread.
    static constexpr qint64 kMaxThemeFileBytes = 262144;
    // Text and its background must reach this contrast ratio in a user's theme.
    static constexpr double kMinContrast = 4.5;

    explicit ThemeManager(QObject* parent = nullptr);

    QVariantMap colors() const;
    QString currentId() const { return currentId_; }
    QString currentName() const;
    QString fontFamily() const;
    int baseFontSize() const;
    int spacing() const;
    int radius() const;
    QStringList themeIds() const;
    QString exportDirectory() const { return exportDirectory_; }
    QStringList importFiles() const { return importFiles_; }
    QString fileMessage() const { return fileMessage_; }
    bool fileProblem() const { return fileProblem_; }

    // Selects a loaded theme; an unknown id only adds a warning.
    void setCurrentId(const QString& id);

    // Every "*.json" of folder, by file name; the user themes folder is read strictly and
    // its themes marked as the user's. Returns how many themes were added.
    int loadThemeFolder(const QString& folder);
    // The user themes folder, when it is set and exists.
    int loadUserThemes();
    void setDirectories(const QString& userThemesFolder, const QString& exportFolder);
    // Load and selection problems, oldest first; never cleared.
    QStringList warnings() const { return warnings_; }

    // Reads one theme file. The error texts are plain, not translated.
    [[nodiscard]] static bool parseTheme(const QByteArray& bytes, Theme& out, QString* error, ThemeCheck check);
    static QJsonObject themeToJson(const Theme& theme);
    // WCAG relative luminance of the colour's 8-bit channels; alpha is not used.
    static double relativeLuminance(const QColor& color);

    Q_INVOKABLE bool isUserTheme(const QString& id) const;
    // Writes the theme to the export folder; the written path, or "" on failure.
    Q_INVOKABLE QString exportTheme(const QString& id);
    Q_INVOKABLE void refreshImportFiles();
    // Adds the theme of a file in the export folder, given by its bare name.
    Q_INVOKABLE bool importTheme(const QString& fileName);
    // Only the user's own themes can be removed.
    Q_INVOKABLE bool removeTheme(const QString& id);
    Q_INVOKABLE void openExportFolder();
    // The theme's name, or the id itself when no theme has it.
    Q_INVOKABLE QString nameForId(const QString& id) const;

signals:
    void themeChanged();
    void themesChanged();
    void directoriesChanged();
    void importFilesChanged();
    void fileMessageChanged();

private:
    const Theme* findTheme(const QString& id) const;
    const Theme* currentTheme() const { return findTheme(currentId_); }
    void sortThemes();
    // Signals on every report, also when the text repeats, so the sheet shows it again.
    void setFileMessage(const QString& text, bool problem);
    bool isUserThemesFolder(const QString& folder) const;

    QList<Theme> themes_;
    QString currentId_;
    QStringList warnings_;
    QString userThemesDirectory_;
    QString exportDirectory_;
    QStringList importFiles_;
    QString fileMessage_;
    bool fileProblem_ = false;
};

}  // namespace ostrel::app
