#include "core/settings/SettingsRegistry.h"

#include "CoreTestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace ostrel::core;
using namespace ostrel::test;
using ::testing::ElementsAre;

namespace {

std::vector<std::string> page(std::string_view category, bool includeAdvanced) {
    std::vector<std::string> keys;
    for (const SettingDef* d : settingsRegistry().settingsInCategory(category, includeAdvanced)) {
        keys.push_back(d->key);
    }
    return keys;
}

const SettingDef& known(const char* key) { return *settingsRegistry().findDefinition(key); }

// A definition that addSetting accepts, changed by change.
template <typename Change>
SettingDef made(const char* key, SettingType type, Change change) {
    SettingDef d;
    d.key = key;
    d.type = type;
    d.category = "audio";
    d.label = "Label";
    d.help = "Help.";
    change(d);
    return d;
}

void noChange(SettingDef&) {}

}  // namespace

TEST(SettingsRegistryTest, PagesLeaveHiddenSettingsOutAndShowAdvancedOnesOnlyWhenAsked) {
    EXPECT_THAT(page("api", false), ElementsAre("api.enabled"));
    EXPECT_THAT(page("api", true), ElementsAre("api.enabled", "api.port", "api.osc.port"));
    EXPECT_THAT(page("audio", true), ElementsAre("audio.sample_rate", "audio.buffer_size"));
    EXPECT_THAT(page("instrument", true), ElementsAre());
    EXPECT_NE(settingsRegistry().findDefinition("transport.tempo"), nullptr);  // hidden, still registered
    EXPECT_EQ(settingsRegistry().findDefinition("API.PORT"), nullptr);
}

TEST(SettingsValidationTest, EveryTypeAcceptsItsOwnValuesAndNamesTheReasonOtherwise) {
    const std::string accepted = "untouched";
    // Bounds print truncated toward zero, and one beyond int64 is printed, not overflowed.
    using T = SettingType;
    const SettingDef odd = made("test.count", T::integer, [](SettingDef& d) { d.min = -12.9, d.max = 1e300; });
    const SettingDef tiny = made("test.count", T::integer, [](SettingDef& d) { d.min = -0.5, d.max = 7.5; });
    const SettingDef unknownType = made("test.odd", static_cast<SettingType>(9), noChange);
    const std::tuple<const SettingDef&, SettingValue, std::string> cases[] = {
        {known("api.enabled"), true, accepted},
        {known("api.enabled"), std::int64_t{1}, "api.enabled must be on or off"},
        {known("appearance.ui_scale"), std::int64_t{75}, accepted},
        {known("appearance.ui_scale"), std::int64_t{200}, accepted},
        {known("appearance.ui_scale"), std::int64_t{201}, "appearance.ui_scale must be between 75 and 200"},
        {known("api.port"), std::numeric_limits<std::int64_t>::min(), "api.port must be between 1024 and 65535"},
        {tiny, std::int64_t{-1}, "test.count must be between 0 and 7"},
        {odd, std::int64_t{-13}, "test.count must be between -12 and " + std::to_string(1e300).substr(0, 301)},
        {known("appearance.ui_scale"), 100.0, "appearance.ui_scale must be a whole number"},
        {known("appearance.ui_scale"), std::string("100"), "appearance.ui_scale must be a whole number"},
        {known("transport.tempo"), 20.0, accepted},
        {known("transport.tempo"), 300.0, accepted},
        {known("transport.tempo"), 19.999, "transport.tempo is outside its allowed range"},
        {known("transport.tempo"), std::nan(""), "transport.tempo is outside its allowed range"},
        {known("transport.tempo"), HUGE_VAL, "transport.tempo is outside its allowed range"},
        {known("instrument.level"), std::int64_t{5}, "instrument.level is outside its allowed range"},
        {known("transport.tempo"), true, "transport.tempo must be a number"},
        {known("transport.tempo"), std::string("120"), "transport.tempo must be a number"},
        {known("api.token"), std::string("\xff\xfe", 2), accepted},
        {known("api.token"), std::int64_t{7}, "api.token must be text"},
        {known("logging.level"), std::string("warn"), accepted},
        {known("logging.level"), std::string("Info"), "'Info' is not an option for logging.level"},
        {known("logging.level"), std::string("Normal"), "'Normal' is not an option for logging.level"},
        {known("audio.sample_rate"), std::int64_t{48000}, "audio.sample_rate must be one of its listed options"},
        {unknownType, true, "untouched"},  // refused, but with no reason to give
    };
    for (const auto& [def, original, message] : cases) {
        const bool ok = message == accepted && &def != &unknownType;
        SettingValue value = original;
        std::string reason = accepted;
        EXPECT_EQ(def.validate(value, &reason), ok) << def.key;
        EXPECT_EQ(reason, message) << def.key;
        EXPECT_EQ(def.validate(value, nullptr), ok) << def.key;
    }
    SettingValue whole = std::int64_t{1};  // a real setting takes an integer as a double
    EXPECT_TRUE(known("instrument.level").validate(whole, nullptr));
    EXPECT_EQ(whole, SettingValue(1.0));
}

TEST(SettingsRegistryAddTest, RefusesFaultyDefinitionsInCheckOrderAndStoresTheValidatedDefault) {
    using T = SettingType;
    const std::pair<SettingDef, const char*> cases[] = {
        {made("", T::boolean, noChange), "setting id is empty"},
        {made("api.port", T::boolean, [](SettingDef& d) { d.category = "nowhere"; }), "duplicate setting id: api.port"},
        {made("test.lost", T::boolean, [](SettingDef& d) { d.category = "nowhere", d.label.clear(); }),
         "test.lost: unknown category 'nowhere'"},
        {made("test.unlabelled", T::boolean, [](SettingDef& d) { d.label.clear(); }),
         "test.unlabelled: every setting needs a label and a help sentence"},
        {made("test.unhelped", T::boolean, [](SettingDef& d) { d.help.clear(); }),
         "test.unhelped: every setting needs a label and a help sentence"},
        {made("test.choice", T::choice, [](SettingDef& d) { d.defaultValue = std::string("a"); }),
         "test.choice: a choice setting needs options"},
        {made("test.range", T::integer,
              [](SettingDef& d) { d.defaultValue = std::int64_t{5}, d.min = 10, d.max = 20; }),
         "default of test.range must be between 10 and 20"},
    };
    SettingsRegistry table = buildSettingsRegistry();
    for (const auto& [def, message] : cases) {
        try {
            table.addSetting(def);
            ADD_FAILURE() << "accepted " << def.key;
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    EXPECT_EQ(table.settings.size(), settingsRegistry().settings.size());
    table.addSetting(made("test.gain", T::real, [](SettingDef& d) { d.defaultValue = std::int64_t{1}, d.max = 2.0; }));
    EXPECT_EQ(table.findDefinition("test.gain")->defaultValue, SettingValue(1.0));
}
