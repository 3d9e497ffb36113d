#include "app/settings/SettingsBridge.h"

#include "app/files/FileNames.h"
#include "app/settings/SettingEntryMap.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"

#include <QVariantMap>

#include <cmath>
#include <filesystem>
#include <limits>
#include <string>
#include <utility>

namespace ostrel::app {
namespace {

// Halves away from zero. Values beyond the 64-bit range are pinned to its ends, where
// the setting's own range refuses them; NaN counts as 0 like text that is no number.
std::int64_t roundToWhole(double number) {
    if (std::isnan(number)) {
        return 0;
    }
    constexpr double kLimit = 9.2e18;
    if (number >= kLimit) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (number <= -kLimit) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return std::llround(number);
}

core::SettingValue convertForType(core::SettingType type, const QVariant& value) {
    switch (type) {
    case core::SettingType::boolean:
        return value.toBool();
    case core::SettingType::integer:
        return roundToWhole(value.toDouble());
    case core::SettingType::real:
        return value.toDouble();
    case core::SettingType::text:
    case core::SettingType::choice:
        break;
    }
    return value.toString().toStdString();
}

}  // namespace

SettingsBridge::SettingsBridge(core::SettingsStore& store, const core::SettingsRegistry& registry, QString filePath,
                               core::Logger& logger, QObject* parent)
    : QObject(parent), store_(store), registry_(registry), filePath_(std::move(filePath)), logger_(logger) {}

QVariantList SettingsBridge::categories() const {
    QVariantList list;
    for (const core::SettingCategory& category : registry_.categories) {
        const QString id = QString::fromStdString(category.id);
        list.append(QVariantMap{{QStringLiteral("id"), id},
                                {QStringLiteral("label"), QString::fromStdString(category.title)},
                                {QStringLiteral("hasAdvanced"), hasAdvanced(id)}});
    }
    return list;
}

bool SettingsBridge::reduceMotion() const { return store_.getBool("appearance.reduce_motion"); }

bool SettingsBridge::showHelpStrip() const { return store_.getBool("appearance.show_help_strip"); }

QVariantList SettingsBridge::entries(const QString& category, bool showAdvanced) const {
    QVariantList list;
    for (const core::SettingDef* def : registry_.settingsInCategory(category.toStdString(), showAdvanced)) {
        list.append(withNote(makeSettingEntryMap(*def, store_)));
    }
    return list;
}

QVariantList SettingsBridge::search(const QString& text, bool showAdvanced) const {
    const QString needle = text.trimmed();
    QVariantList list;
    if (needle.isEmpty()) {
        return list;
    }
    for (const core::SettingDef& def : registry_.settings) {
        if (def.hidden || (def.advanced && !showAdvanced)) {
            continue;
        }
        const bool matches = QString::fromStdString(def.label).contains(needle, Qt::CaseInsensitive) ||
                             QString::fromStdString(def.help).contains(needle, Qt::CaseInsensitive);
        if (matches) {
            list.append(withNote(makeSettingEntryMap(def, store_)));
        }
    }
    return list;
}

bool SettingsBridge::hasAdvanced(const QString& category) const {
    const std::string id = category.toStdString();
    return registry_.settingsInCategory(id, true).size() != registry_.settingsInCategory(id, false).size();
}

bool SettingsBridge::setValue(const QString& id, const QVariant& value) {
    const std::string key = id.toStdString();
    const core::SettingDef* def = registry_.findDefinition(key);
    if (def == nullptr) {
        return false;
    }
    const core::SettingValue before = store_.value(key);
    const bool wasDefault = store_.isDefault(key);

    std::string reason;
    if (!store_.set(key, convertForType(def->type, value), &reason)) {
        logger_.log(core::LogLevel::WARN, "settings", "change refused: " + reason);
        return false;
    }
    if (store_.value(key) == before && store_.isDefault(key) == wasDefault) {
        return true;
    }

    logger_.recordStep("settings", "changed " + key);
    if (saving_ == SettingsSaving::ToFile) {
        unsaved_.insert(id);
        (void)save(nullptr);  // logged; the change stays in force
    }
    ++revision_;
    if (def->restartRequired && !restartNeeded_) {
        restartNeeded_ = true;
        emit restartNeededChanged();
    }
    emit valueChanged(id);
    emit revisionChanged();
    return true;
}

void SettingsBridge::resetToDefault(const QString& id) {
    const core::SettingDef* def = registry_.findDefinition(id.toStdString());
    if (def == nullptr) {
        return;
    }
    setValue(id, settingValueToVariant(def->defaultValue));
}

bool SettingsBridge::save(std::string* error) {
    std::string reason;
    if (!store_.save(pathBytes(filePath_), &reason)) {
        logger_.log(core::LogLevel::ERROR, "settings", "could not save settings: " + reason);
        if (error != nullptr) {
            *error = reason;
        }
        return false;
    }
    unsaved_.clear();
    return true;
}

bool SettingsBridge::saveAgain(std::string* error) {
    return unsaved_.isEmpty() || saving_ == SettingsSaving::ThisRunOnly || save(error);
}

QVariantMap SettingsBridge::withNote(QVariantMap entry) const {
    entry.insert(QStringLiteral("note"), notes_.value(entry.value(QStringLiteral("id")).toString()));
    return entry;
}

void SettingsBridge::setNote(const QString& id, const QString& text) {
    if (notes_.value(id) == text) {
        return;
    }
    if (text.isEmpty()) {
        notes_.remove(id);
    } else {
        notes_.insert(id, text);
    }
    emit revisionChanged();
}

QVariant SettingsBridge::value(const QString& id) const {
    const std::string key = id.toStdString();
    if (registry_.findDefinition(key) == nullptr) {
        return {};
    }
    return settingValueToVariant(store_.value(key));
}

}  // namespace ostrel::app
