#pragma once

#include "core/settings/SettingsRegistry.h"

#include <QVariant>
#include <QVariantMap>

namespace ostrel::core {
class SettingsStore;
}

namespace ostrel::app {

// How one setting is shown to the QML: "id", "type", "category", "label", "help",
// "value", "defaultValue", "isDefault", "min", "max", "advanced", "restartRequired" and
// "choices" (a list of {"value", "label"}). Hidden settings never get one.
using SettingEntryMap = QVariantMap;

SettingEntryMap makeSettingEntryMap(const core::SettingDef& def, const core::SettingsStore& store);

// bool, qint64, double or QString, by the alternative the value holds.
QVariant settingValueToVariant(const core::SettingValue& value);

// "boolean", "integer", "real", "text" or "choice"; "text" for anything else.
QString settingTypeName(core::SettingType type);

}  // namespace ostrel::app
