#include "app/settings/SettingEntryMap.h"

#include "core/settings/SettingsStore.h"

#include <QString>
#include <QVariantList>

#include <type_traits>

namespace ostrel::app {

QVariant settingValueToVariant(const core::SettingValue& value) {
    return std::visit(
        [](const auto& held) -> QVariant {
            using Held = std::decay_t<decltype(held)>;
            if constexpr (std::is_same_v<Held, std::string>) {
                return QString::fromStdString(held);
            } else if constexpr (std::is_same_v<Held, std::int64_t>) {
                return QVariant::fromValue<qint64>(held);
            } else {
                return QVariant::fromValue(held);
            }
        },
        value);
}

QString settingTypeName(core::SettingType type) {
    switch (type) {
    case core::SettingType::boolean:
        return QStringLiteral("boolean");
    case core::SettingType::integer:
        return QStringLiteral("integer");
    case core::SettingType::real:
        return QStringLiteral("real");
    case core::SettingType::choice:
        return QStringLiteral("choice");
    case core::SettingType::text:
        break;
    }
    return QStringLiteral("text");
}

SettingEntryMap makeSettingEntryMap(const core::SettingDef& def, const core::SettingsStore& store) {
    QVariantList choices;
    for (const core::SettingOption& option : def.options) {
        choices.append(QVariantMap{{QStringLiteral("value"), QString::fromStdString(option.value)},
                                   {QStringLiteral("label"), QString::fromStdString(option.label)}});
    }
    return SettingEntryMap{
        {QStringLiteral("id"), QString::fromStdString(def.key)},
        {QStringLiteral("type"), settingTypeName(def.type)},
        {QStringLiteral("category"), QString::fromStdString(def.category)},
        {QStringLiteral("label"), QString::fromStdString(def.label)},
        {QStringLiteral("help"), QString::fromStdString(def.help)},
        {QStringLiteral("value"), settingValueToVariant(store.value(def.key))},
        {QStringLiteral("defaultValue"), settingValueToVariant(def.defaultValue)},
        {QStringLiteral("isDefault"), store.isDefault(def.key)},
        {QStringLiteral("min"), def.min},
        {QStringLiteral("max"), def.max},
        {QStringLiteral("advanced"), def.advanced},
        {QStringLiteral("restartRequired"), def.restartRequired},
        {QStringLiteral("choices"), choices},
    };
}

}  // namespace ostrel::app
