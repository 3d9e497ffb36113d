#include "app/api/ApiToken.h"

#include "app/settings/SettingsBridge.h"

#include <random>

namespace ostrel::app {

QString makeApiToken() {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::random_device device;
    QString token;
    token.reserve(32);
    for (int i = 0; i < 32; ++i) {
        token.append(QLatin1Char(kDigits[device() & 0xFu]));
    }
    return token;
}

QString ensureApiToken(SettingsBridge& settings) {
    if (!settings.value(QStringLiteral("api.enabled")).toBool()) {
        return {};
    }
    const QString current = settings.value(QStringLiteral("api.token")).toString();
    if (!current.isEmpty()) {
        return current;
    }
    const QString token = makeApiToken();
    if (!settings.setValue(QStringLiteral("api.token"), token)) {
        return {};
    }
    return token;
}

}  // namespace ostrel::app
