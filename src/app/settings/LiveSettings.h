#pragma once

#include <QString>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class SettingsBridge;
class ThemeManager;

// Makes the theme and log level settings act at once, on every changed setting id:
// choosing a built-in theme clears the custom one; a custom theme that is not loaded
// falls back to the built-in one; an unknown log level is ignored. GUI thread.
void applySettingChange(const QString& id, SettingsBridge& settings, ThemeManager& themes, core::Logger& logger);

}  // namespace ostrel::app
