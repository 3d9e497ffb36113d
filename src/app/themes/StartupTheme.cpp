#include "app/themes/StartupTheme.h"

namespace ostrel::app {

QString startupThemeId(const StartupThemeChoice& choice, const QStringList& loadedIds) {
    if (choice.commandLine && loadedIds.contains(*choice.commandLine, Qt::CaseSensitive)) {
        return *choice.commandLine;
    }
    if (!choice.customTheme.isEmpty() && loadedIds.contains(choice.customTheme, Qt::CaseSensitive)) {
        return choice.customTheme;
    }
    return choice.builtInTheme;
}

}  // namespace ostrel::app
