#include "app/settings/LiveSettings.h"

#include "app/settings/SettingsBridge.h"
#include "app/themes/ThemeManager.h"
#include "core/log/Logger.h"

namespace ostrel::app {

void applySettingChange(const QString& id, SettingsBridge& settings, ThemeManager& themes, core::Logger& logger) {
    const QString builtInKey = QStringLiteral("appearance.theme");
    const QString customKey = QStringLiteral("appearance.custom_theme");
    if (id == builtInKey) {
        // Clearing the custom theme runs this again for it, which selects the built-in theme too.
        if (!settings.value(customKey).toString().isEmpty()) {
            settings.setValue(customKey, QString());
        }
        themes.setCurrentId(settings.value(builtInKey).toString());
    } else if (id == customKey) {
        const QString custom = settings.value(customKey).toString();
        const bool loaded = !custom.isEmpty() && themes.themeIds().contains(custom);
        themes.setCurrentId(loaded ? custom : settings.value(builtInKey).toString());
    } else if (id == QStringLiteral("logging.level")) {
        core::LogLevel level = core::LogLevel::INFO;
        if (core::parseLogLevel(settings.value(id).toString().toStdString(), level)) {
            logger.setLevel(level);
        }
    }
}

}  // namespace ostrel::app
