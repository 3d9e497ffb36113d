#include "model/file/JsonTextWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel::model {
namespace {

using nlohmann::json;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What one call writes on its own, and the reason when it refuses.
struct Written {
    bool ok = false;
    std::string text;
    std::string reason;
};

template <typename Write>
Written writeOne(Write write) {
    Written result;
    JsonTextWriter writer(result.text, result.reason);
    result.ok = write(writer);
    return result;
}

std::uint64_t bitsOf(double value) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST(JsonTextWriterTest, TextIsEscapedAsTheLibraryDumpsIt) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", R"("")"},
        {"plain", R"("plain")"},
        {"quote \" and backslash \\", R"("quote \" and backslash \\")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {std::string("\x00\x01\x1F", 3), R"("\u0000\u0001\u001f")"},
        {"bell\x07" "end", R"("bell\u0007end")"},
        {"\x7F stays", "\"\x7F stays\""},                     // DEL is no control character to JSON
        {"/ stays", R"("/ stays")"},
        {"Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB9", "\"Caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x8E\xB9\""},  // as it is
    };
    const JsonPlace root;
    for (const auto& [value, expected] : cases) {
        const Written written = writeOne([&](JsonTextWriter& w) { return w.text(value, root.member("name")); });
        EXPECT_TRUE(written.ok) << written.reason;
        EXPECT_EQ(written.text, expected);
        EXPECT_EQ(written.text, json(value).dump()) << "not the library's bytes";
        EXPECT_EQ(json::parse(written.text).get<std::string>(), value) << "does not read back";
    }
}

TEST(JsonTextWriterTest, RealsReadBackToTheSameDoubleInTheLibrarysShortestForm) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -2.5,
                                  0.1,
                                  1.0 / 3.0,
                                  120.0,
                                  1e21,
                                  1e-7,
                                  123456789012345678.0,
                                  9007199254740993.0,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::lowest(),
                                  std::numeric_limits<double>::min(),
                                  std::numeric_limits<double>::denorm_min(),
                                  std::nextafter(1.0, 2.0)};
    std::mt19937_64 random(7);
    while (values.size() < 2000) {
        const std::uint64_t bits = random();
        double value = 0.0;
        std::memcpy(&value, &bits, sizeof value);
        if (std::isfinite(value)) values.push_back(value);
    }
    const JsonPlace root;
    for (const double value : values) {
        const Written written = writeOne([&](JsonTextWriter& w) { return w.real(value, root.member("x")); });
        ASSERT_TRUE(written.ok) << written.reason;
        EXPECT_EQ(written.text, json(value).dump()) << "not the library's bytes";
        EXPECT_EQ(bitsOf(std::strtod(written.text.c_str(), nullptr)), bitsOf(value)) << written.text;
        EXPECT_EQ(bitsOf(json::parse(written.text).get<double>()), bitsOf(value)) << written.text;
    }
}

TEST(JsonTextWriterTest, WholeNumbersAndFlagsAreWrittenPlain) {
    const std::vector<std::pair<std::int64_t, std::string>> wholes = {
        {0, "0"}, {-1, "-1"}, {2147483647, "2147483647"}, {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"}};
    for (const auto& [value, expected] : wholes) {
        EXPECT_EQ(writeOne([&](JsonTextWriter& w) { return w.whole(value), true; }).text, expected);
    }
    EXPECT_EQ(writeOne([](JsonTextWriter& w) { return w.flag(true), true; }).text, "true");
    EXPECT_EQ(writeOne([](JsonTextWriter& w) { return w.flag(false), true; }).text, "false");
}

// Each refusal names the place of the value: a path into the document, or the project
// itself at the root.
TEST(JsonTextWriterTest, ValuesAFileCannotKeepAreRefusedNamingTheirPlace) {
    const JsonPlace root;
    const JsonPlace tracks = root.member("tracks");
    const JsonPlace second = tracks.element(1);
    const JsonPlace name = second.member("name");
    const std::string notUtf8 = "bad \xC0\xAF";
    struct Case {
        std::string what;
        Written written;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"text", writeOne([&](JsonTextWriter& w) { return w.text(notUtf8, name); }),
         "the text at tracks[1].name is not valid UTF-8"},
        {"text at the root", writeOne([&](JsonTextWriter& w) { return w.text(notUtf8, root); }),
         "the text at the project is not valid UTF-8"},
        {"NaN", writeOne([&](JsonTextWriter& w) { return w.real(kNaN, second.member("volume")); }),
         "the value at tracks[1].volume is not a finite number"},
        {"infinity", writeOne([&](JsonTextWriter& w) { return w.real(-kInfinity, tracks.element(0)); }),
         "the value at tracks[0] is not a finite number"},
        {"a number deep in a value",
         writeOne([&](JsonTextWriter& w) { return w.value(json{{"a", json::array({1, 2, kInfinity})}}, second.member("x")); }),
         "the value at tracks[1].x.a[2] is not a finite number"},
        {"text deep in a value", writeOne([&](JsonTextWriter& w) { return w.value(json{{"a", {{"b", notUtf8}}}}, root); }),
         "the text at a.b is not valid UTF-8"},
        {"a member name in a value",
         writeOne([&](JsonTextWriter& w) { return w.value(json{{"ok", {{notUtf8, 1}}}}, second); }),
         "a member name in tracks[1].ok is not valid UTF-8 text"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(c.written.ok) << c.what;
        EXPECT_EQ(c.written.reason, c.reason) << c.what;
    }
}

// Objects and arrays opened and closed by hand give the library's pretty dump, indent 2,
// of the same tree, a value of the library's own dumped at its depth.
TEST(JsonTextWriterTest, NestedRecordsGiveTheLibrarysPrettyDumpOfTheSameTree) {
    std::string text;
    std::string reason;
    JsonTextWriter w(text, reason);
    const JsonPlace root;
    const json config = {{"algorithm", 3}, {"ratios", {0.5, 1.0, 2.0}}, {"name", "tab\there"}};
    w.open('{');
    w.key("empty_list");
    w.open('[');
    w.close(']');
    w.key("empty_object");
    w.open('{');
    w.close('}');
    w.key("list");
    w.open('[');
    for (int i = 0; i < 3; ++i) {
        w.element();
        w.whole(i);
    }
    w.element();
    w.open('{');
    w.escapedKey("quote\"d");
    ASSERT_TRUE(w.value(config, root.member("list").element(3).member("quote\"d")));
    w.close('}');
    w.close(']');
    w.key("name");
    ASSERT_TRUE(w.text("Demo", root.member("name")));
    w.close('}');
    const json tree = {{"empty_list", json::array()},
                       {"empty_object", json::object()},
                       {"list", {0, 1, 2, {{"quote\"d", config}}}},
                       {"name", "Demo"}};
    EXPECT_EQ(text, tree.dump(2));
}

// The members of extra go in key order among the known ones; a known key replaces its
// namesake.
TEST(JsonTextWriterTest, ExtraMembersAreMergedInKeyOrderAndKnownKeysWin) {
    const JsonValue extra(json{{"a", 1}, {"b", "extra's"}, {"c", {true, nullptr}}, {"e", 2.5}});
    std::string text;
    std::string reason;
    JsonTextWriter w(text, reason);
    const JsonPlace root;
    JsonTextWriter::Extra merge(w, extra, root);
    w.open('{');
    ASSERT_TRUE(merge.before("b"));
    w.key("b");
    ASSERT_TRUE(w.text("known", root.member("b")));
    ASSERT_TRUE(merge.before("d"));
    w.key("d");
    w.flag(false);
    ASSERT_TRUE(merge.rest());
    w.close('}');
    const json expected = {{"a", 1}, {"b", "known"}, {"c", {true, nullptr}}, {"d", false}, {"e", 2.5}};
    EXPECT_EQ(text, expected.dump(2));

    const JsonValue badName(json{{"\xFF", 1}});
    std::string refused;
    std::string why;
    JsonTextWriter writer(refused, why);
    const JsonPlace tracks = root.member("tracks");
    const JsonPlace first = tracks.element(0);  // a place outlives the Extra that keeps it
    JsonTextWriter::Extra bad(writer, badName, first);
    writer.open('{');
    EXPECT_FALSE(bad.rest());
    EXPECT_EQ(why, "a member name in tracks[0] is not valid UTF-8 text");
}

}  // namespace
}  // namespace ostrel::model
