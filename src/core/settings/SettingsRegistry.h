#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ostrel::core {

enum class SettingType : int {
    boolean = 0,
    integer = 1,
    real = 2,
    text = 3,
    choice = 4,  // held as text, one of the listed option values
};

// std::variant's own == is the equality the store relies on: the same alternative and
// equal contents, so the integer 1 differs from the double 1.0, NaN equals nothing and
// 0.0 equals -0.0.
using SettingValue = std::variant<bool, std::int64_t, double, std::string>;

struct SettingOption {
    std::string value;  // stored in the file
    std::string label;  // shown to the user
};

struct SettingCategory {
    std::string id;
    std::string title;
};

struct SettingDef {
    std::string key;  // dotted lower case, unique
    SettingType type = SettingType::boolean;
    std::string category;
    std::string label;
    std::string help;
    SettingValue defaultValue = false;
    double min = 0.0;  // inclusive; used by integer and real settings only
    double max = 0.0;
    std::vector<SettingOption> options;  // display order; choice settings only
    bool advanced = false;
    bool restartRequired = false;
    bool hidden = false;  // never on a Settings page, but stored and validated

    // Checks value against this definition. An integer given to a real setting becomes
    // a double in place. On failure message (may be null) receives the reason; it is
    // untouched on success. Never throws.
    bool validate(SettingValue& value, std::string* message) const;
};

// Every user setting, declared once. Built at start-up, then read-only: callers keep
// pointers to its definitions, which stay valid because none is ever removed.
struct SettingsRegistry {
    std::vector<SettingCategory> categories;
    std::vector<SettingDef> settings;  // in the order they were added

    // Throws std::invalid_argument for a faulty definition: a fault in the table.
    void addSetting(SettingDef def);

    // Exact, case-sensitive key; null when there is none.
    const SettingDef* findDefinition(std::string_view key) const;

    // One page of the Settings sheet in registry order, hidden settings left out.
    std::vector<const SettingDef*> settingsInCategory(std::string_view category, bool includeAdvanced) const;
};

// The program's six categories and 21 settings.
SettingsRegistry buildSettingsRegistry();

}  // namespace ostrel::core
