#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel::app {

struct StartupThemeChoice {
    std::optional<QString> commandLine;  // the theme option, when given; never saved
    QString customTheme;                 // appearance.custom_theme
    QString builtInTheme;                // appearance.theme
};

// The theme option when it names a loaded theme; else the custom theme when it is non-empty
// and loaded; else the built-in theme setting. Ids match exactly.
QString startupThemeId(const StartupThemeChoice& choice, const QStringList& loadedIds);

}  // namespace ostrel::app
