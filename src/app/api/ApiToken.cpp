#include "app/api/ApiToken.h"

#include "app/settings/SettingsBridge.h"
#include "core/log/Logger.h"

#include <QFile>

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

bool ensureApiToken(SettingsBridge& settings, QString& token, std::string* error) {
    const QString key = QStringLiteral("api.token");
    if (!settings.value(QStringLiteral("api.enabled")).toBool()) {
        token.clear();
        return true;
    }
    QString current = settings.value(key).toString();
    if (current.isEmpty()) {
        current = makeApiToken();
        (void)settings.setValue(key, current);  // a text of hex digits: always taken, and saved
    }
    if (!settings.isSaved(key) && !settings.saveAgain(error)) {
        return false;
    }
    token = current;
    return true;
}

void keepTokenFilePrivate(const SettingsBridge& settings, core::Logger& logger) {
    constexpr QFileDevice::Permissions kOthers = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                 QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                 QFileDevice::WriteOther | QFileDevice::ExeOther;
    QFile file(settings.filePath());
    if (settings.value(QStringLiteral("api.token")).toString().isEmpty() || !file.exists() ||
        (file.permissions() & kOthers) == 0) {
        return;
    }
    const std::string name = QFile::encodeName(settings.filePath()).toStdString();
    if (file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        logger.log(core::LogLevel::INFO, "settings",
                   name + " holds the API token and other users could read it; it is now yours alone (mode 0600)");
    } else {
        logger.log(core::LogLevel::ERROR, "settings",
                   name + " holds the API token and other users can read it; it could not be made yours alone: " +
                       file.errorString().toStdString());
    }
}

}  // namespace ostrel::app
