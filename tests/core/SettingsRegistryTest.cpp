#include "core/SettingsRegistry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

using namespace ostrel::core;
using ::testing::ElementsAre;

namespace {

const SettingsRegistry& registry() {
    static const SettingsRegistry built = buildSettingsRegistry();
    return built;
}

const SettingDef& def(const char* key) {
    const SettingDef* found = registry().findDefinition(key);
    if (found == nullptr) {
        throw std::logic_error(std::string("no setting ") + key);
    }
    return *found;
}

// The validator's verdict and message for one value.
struct Verdict {
    bool ok;
    std::string message;
    SettingValue value;
};

Verdict check(const char* key, SettingValue value) {
    Verdict verdict{false, "untouched", value};
    verdict.ok = def(key).validate(verdict.value, &verdict.message);
    return verdict;
}

std::vector<std::string> keysOf(const std::vector<const SettingDef*>& defs) {
    std::vector<std::string> keys;
    for (const SettingDef* d : defs) {
        keys.push_back(d->key);
    }
    return keys;
}

SettingDef validDef(const char* key) {
    SettingDef d;
    d.key = key;
    d.category = "audio";
    d.label = "Label";
    d.help = "Help.";
    return d;
}

std::string addFailure(SettingsRegistry& target, SettingDef d) {
    try {
        target.addSetting(std::move(d));
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "no exception";
}

}  // namespace

TEST(SettingsRegistryTableTest, HoldsSixCategoriesInOrder) {
    std::vector<std::string> ids;
    std::vector<std::string> titles;
    for (const SettingCategory& c : registry().categories) {
        ids.push_back(c.id);
        titles.push_back(c.title);
    }
    EXPECT_THAT(ids, ElementsAre("appearance", "audio", "midi", "instrument", "api", "logging"));
    EXPECT_THAT(titles, ElementsAre("Appearance", "Audio", "MIDI", "Instrument", "Local API", "Logging"));
}

TEST(SettingsRegistryTableTest, HoldsTwentyOneSettingsInOrder) {
    std::vector<std::string> keys;
    for (const SettingDef& d : registry().settings) {
        keys.push_back(d.key);
    }
    EXPECT_THAT(keys,
                ElementsAre("appearance.theme", "appearance.ui_scale", "appearance.reduce_motion",
                            "appearance.show_help_strip", "appearance.custom_theme", "audio.output_device",
                            "transport.tempo", "transport.metronome", "instrument.patch", "api.enabled", "api.port",
                            "api.osc.port", "api.token", "instrument.chords", "instrument.effects",
                            "instrument.level", "instrument.midi_map", "midi.input_device", "audio.sample_rate",
                            "audio.buffer_size", "logging.level"));
}

TEST(SettingsRegistryTableTest, DefaultsHaveTheirTypesAlternative) {
    EXPECT_EQ(def("appearance.theme").defaultValue, SettingValue(std::string("graphite")));
    EXPECT_EQ(def("appearance.ui_scale").defaultValue, SettingValue(std::int64_t{100}));
    EXPECT_EQ(def("appearance.show_help_strip").defaultValue, SettingValue(true));
    EXPECT_EQ(def("transport.tempo").defaultValue, SettingValue(120.0));
    EXPECT_EQ(def("instrument.level").defaultValue, SettingValue(0.7));
    EXPECT_EQ(def("instrument.patch").defaultValue, SettingValue(std::string("Modular Lead")));
    EXPECT_EQ(def("api.port").defaultValue, SettingValue(std::int64_t{8642}));
    EXPECT_EQ(def("api.osc.port").defaultValue, SettingValue(std::int64_t{8643}));
    EXPECT_EQ(def("audio.sample_rate").defaultValue, SettingValue(std::string("48000")));
    EXPECT_EQ(def("audio.buffer_size").defaultValue, SettingValue(std::string("512")));
    EXPECT_EQ(def("logging.level").defaultValue, SettingValue(std::string("info")));
}

TEST(SettingsRegistryTableTest, FlagsMatchTheirPages) {
    EXPECT_TRUE(def("appearance.ui_scale").restartRequired);
    EXPECT_TRUE(def("api.port").advanced);
    EXPECT_TRUE(def("logging.level").advanced);
    EXPECT_TRUE(def("api.token").hidden);
    EXPECT_FALSE(def("api.enabled").advanced || def("api.enabled").hidden || def("api.enabled").restartRequired);
    EXPECT_EQ(def("transport.tempo").category, "audio");
    EXPECT_EQ(def("transport.metronome").category, "audio");
}

TEST(SettingsRegistryLookupTest, FindIsExactAndCaseSensitive) {
    ASSERT_NE(registry().findDefinition("api.port"), nullptr);
    EXPECT_EQ(registry().findDefinition("api.port")->key, "api.port");
    EXPECT_EQ(registry().findDefinition("API.PORT"), nullptr);
    EXPECT_EQ(registry().findDefinition("api.por"), nullptr);
    EXPECT_EQ(registry().findDefinition(""), nullptr);
}

TEST(SettingsRegistryLookupTest, ApiPageShowsPortsOnlyWhenAdvanced) {
    EXPECT_THAT(keysOf(registry().settingsInCategory("api", false)), ElementsAre("api.enabled"));
    EXPECT_THAT(keysOf(registry().settingsInCategory("api", true)),
                ElementsAre("api.enabled", "api.port", "api.osc.port"));
}

TEST(SettingsRegistryLookupTest, PagesLeaveHiddenSettingsOut) {
    EXPECT_THAT(keysOf(registry().settingsInCategory("audio", true)),
                ElementsAre("audio.sample_rate", "audio.buffer_size"));
    EXPECT_THAT(keysOf(registry().settingsInCategory("appearance", true)),
                ElementsAre("appearance.theme", "appearance.ui_scale", "appearance.reduce_motion",
                            "appearance.show_help_strip"));
    EXPECT_TRUE(registry().settingsInCategory("instrument", true).empty());
    EXPECT_TRUE(registry().settingsInCategory("midi", true).empty());
    EXPECT_TRUE(registry().settingsInCategory("logging", false).empty());
    EXPECT_THAT(keysOf(registry().settingsInCategory("logging", true)), ElementsAre("logging.level"));
    EXPECT_TRUE(registry().settingsInCategory("nowhere", true).empty());
}

TEST(SettingsValidationTest, BooleanTakesOnlyBool) {
    EXPECT_TRUE(check("api.enabled", true).ok);
    const Verdict verdict = check("api.enabled", std::int64_t{1});
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.message, "api.enabled must be on or off");
}

TEST(SettingsValidationTest, IntegerRangeIsInclusive) {
    EXPECT_TRUE(check("appearance.ui_scale", std::int64_t{75}).ok);
    EXPECT_TRUE(check("appearance.ui_scale", std::int64_t{200}).ok);
    const Verdict above = check("appearance.ui_scale", std::int64_t{201});
    EXPECT_FALSE(above.ok);
    EXPECT_EQ(above.message, "appearance.ui_scale must be between 75 and 200");
    EXPECT_EQ(check("api.port", std::int64_t{1023}).message, "api.port must be between 1024 and 65535");
    EXPECT_EQ(check("api.port", std::numeric_limits<std::int64_t>::min()).message,
              "api.port must be between 1024 and 65535");
}

TEST(SettingsValidationTest, IntegerRefusesOtherAlternatives) {
    for (const SettingValue& value : {SettingValue(100.0), SettingValue(true), SettingValue(std::string("100"))}) {
        const Verdict verdict = check("appearance.ui_scale", value);
        EXPECT_FALSE(verdict.ok);
        EXPECT_EQ(verdict.message, "appearance.ui_scale must be a whole number");
    }
}

TEST(SettingsValidationTest, IntegerBoundsPrintTruncatedWithSign) {
    SettingDef d = validDef("test.count");
    d.type = SettingType::integer;
    d.min = -12.9;
    d.max = 7.5;
    SettingValue value = std::int64_t{8};
    std::string message;
    EXPECT_FALSE(d.validate(value, &message));
    EXPECT_EQ(message, "test.count must be between -12 and 7");

    d.min = -0.5;  // truncates to zero, printed without a minus sign
    d.max = 1e300;  // beyond int64: printed, not overflowed
    value = std::int64_t{-1};
    EXPECT_FALSE(d.validate(value, &message));
    EXPECT_EQ(message.substr(0, 34), "test.count must be between 0 and 1");
    EXPECT_EQ(message.size(), std::string("test.count must be between 0 and ").size() + 301);
}

TEST(SettingsValidationTest, RealTurnsAnIntegerIntoADouble) {
    const Verdict one = check("instrument.level", std::int64_t{1});
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.value, SettingValue(1.0));
    EXPECT_EQ(one.message, "untouched");
    const Verdict five = check("instrument.level", std::int64_t{5});
    EXPECT_FALSE(five.ok);
    EXPECT_EQ(five.message, "instrument.level is outside its allowed range");
}

TEST(SettingsValidationTest, RealRefusesNanAndOutOfRange) {
    EXPECT_EQ(check("transport.tempo", std::nan("")).message, "transport.tempo is outside its allowed range");
    EXPECT_EQ(check("transport.tempo", std::numeric_limits<double>::infinity()).message,
              "transport.tempo is outside its allowed range");
    EXPECT_EQ(check("transport.tempo", 19.999).message, "transport.tempo is outside its allowed range");
    EXPECT_TRUE(check("transport.tempo", 20.0).ok);
    EXPECT_TRUE(check("transport.tempo", 300.0).ok);
    EXPECT_TRUE(check("instrument.level", 0.0).ok);
}

TEST(SettingsValidationTest, RealRefusesBoolAndText) {
    EXPECT_EQ(check("transport.tempo", true).message, "transport.tempo must be a number");
    EXPECT_EQ(check("transport.tempo", std::string("120")).message, "transport.tempo must be a number");
}

TEST(SettingsValidationTest, TextTakesAnyTextOnly) {
    EXPECT_TRUE(check("api.token", std::string()).ok);
    EXPECT_TRUE(check("api.token", std::string("\xff\xfe", 2)).ok);
    EXPECT_EQ(check("api.token", std::int64_t{7}).message, "api.token must be text");
    EXPECT_EQ(check("api.token", false).message, "api.token must be text");
}

TEST(SettingsValidationTest, ChoiceMatchesOptionsExactly) {
    EXPECT_TRUE(check("logging.level", std::string("warn")).ok);
    const Verdict capital = check("logging.level", std::string("Info"));
    EXPECT_FALSE(capital.ok);
    EXPECT_EQ(capital.message, "'Info' is not an option for logging.level");
    EXPECT_EQ(check("logging.level", std::string("Normal")).message, "'Normal' is not an option for logging.level");
    EXPECT_EQ(check("audio.buffer_size", true).message, "audio.buffer_size must be one of its listed options");
    EXPECT_EQ(check("audio.sample_rate", std::int64_t{48000}).message,
              "audio.sample_rate must be one of its listed options");
}

TEST(SettingsValidationTest, UnknownTypeFailsWithoutMessage) {
    SettingDef d = validDef("test.odd");
    d.type = static_cast<SettingType>(9);
    SettingValue value = true;
    std::string message = "untouched";
    EXPECT_FALSE(d.validate(value, &message));
    EXPECT_EQ(message, "untouched");
}

TEST(SettingsValidationTest, NullMessageIsAllowed) {
    SettingValue value = std::int64_t{5};
    EXPECT_FALSE(def("appearance.ui_scale").validate(value, nullptr));
}

TEST(SettingsRegistryAddTest, RefusesFaultyDefinitionsInCheckOrder) {
    SettingsRegistry table = buildSettingsRegistry();

    EXPECT_EQ(addFailure(table, validDef("")), "setting id is empty");

    SettingDef duplicate = validDef("api.port");
    duplicate.category = "nowhere";  // the duplicate is found first
    EXPECT_EQ(addFailure(table, duplicate), "duplicate setting id: api.port");

    SettingDef lost = validDef("test.lost");
    lost.category = "nowhere";
    lost.label.clear();
    EXPECT_EQ(addFailure(table, lost), "test.lost: unknown category 'nowhere'");

    SettingDef unlabelled = validDef("test.unlabelled");
    unlabelled.label.clear();
    EXPECT_EQ(addFailure(table, unlabelled), "test.unlabelled: every setting needs a label and a help sentence");
    SettingDef unhelped = validDef("test.unhelped");
    unhelped.help.clear();
    EXPECT_EQ(addFailure(table, unhelped), "test.unhelped: every setting needs a label and a help sentence");

    SettingDef noOptions = validDef("test.choice");
    noOptions.type = SettingType::choice;
    noOptions.defaultValue = std::string("a");
    EXPECT_EQ(addFailure(table, noOptions), "test.choice: a choice setting needs options");

    SettingDef badDefault = validDef("test.range");
    badDefault.type = SettingType::integer;
    badDefault.defaultValue = std::int64_t{5};
    badDefault.min = 10;
    badDefault.max = 20;
    EXPECT_EQ(addFailure(table, badDefault), "default of test.range must be between 10 and 20");

    EXPECT_EQ(table.settings.size(), 21u);
}

TEST(SettingsRegistryAddTest, StoresTheValidatedDefault) {
    SettingsRegistry table = buildSettingsRegistry();
    SettingDef gain = validDef("test.gain");
    gain.type = SettingType::real;
    gain.defaultValue = std::int64_t{1};
    gain.max = 2.0;
    table.addSetting(gain);
    ASSERT_NE(table.findDefinition("test.gain"), nullptr);
    EXPECT_EQ(table.findDefinition("test.gain")->defaultValue, SettingValue(1.0));
    EXPECT_EQ(table.settings.back().key, "test.gain");
}
