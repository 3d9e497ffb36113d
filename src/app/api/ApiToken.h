#pragma once

#include <QString>

namespace ostrel::app {

class SettingsBridge;

// 32 lower-case hexadecimal characters, each from the low 4 bits of one draw of
// std::random_device.
QString makeApiToken();

// When api.enabled is on and api.token is empty, makes a token and stores it (which saves
// the settings file). Returns the token in force; "" while the API is off.
QString ensureApiToken(SettingsBridge& settings);

}  // namespace ostrel::app
