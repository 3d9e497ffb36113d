#include "app/api/ApiToken.h"

#include "app/files/FileNames.h"
#include "app/settings/SettingsBridge.h"
#include "core/Failure.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsStore.h"

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

TokenFile makeTokenFilePrivate(SettingsBridge& settings, std::string* error) {
    core::SettingsStore& store = settings.store();
    switch (store.loadedFilePrivacy()) {
    case core::SettingsStore::FilePrivacy::NoFile:
    case core::SettingsStore::FilePrivacy::Private:
        return TokenFile::Private;
    case core::SettingsStore::FilePrivacy::AnotherUsers:
        (void)core::fail(error, "it is the file of another user, who can read it");
        return TokenFile::Exposed;
    case core::SettingsStore::FilePrivacy::RootsOthersMayRead:
        // Root's file: written anew as the user's own, which takes the bits for others away.
        return store.save(pathBytes(settings.filePath()), error) ? TokenFile::MadePrivate : TokenFile::Exposed;
    case core::SettingsStore::FilePrivacy::OthersMayRead:
        break;
    }
    return store.makeLoadedFilePrivate(error) ? TokenFile::MadePrivate : TokenFile::Exposed;
}

void keepTokenFilePrivate(SettingsBridge& settings, core::Logger& logger) {
    if (settings.value(QStringLiteral("api.token")).toString().isEmpty()) {
        return;
    }
    const std::string name = pathBytes(settings.filePath()).native();
    std::string reason;
    switch (makeTokenFilePrivate(settings, &reason)) {
    case TokenFile::Private:
        break;
    case TokenFile::MadePrivate:
        logger.log(core::LogLevel::INFO, "settings",
                   name + " holds the API token and other users could read it; it is now yours alone (mode 0600)");
        break;
    case TokenFile::Exposed:
        logger.log(core::LogLevel::ERROR, "settings",
                   name + " holds the API token and it could not be made yours alone: " + reason);
        break;
    }
}

}  // namespace ostrel::app
