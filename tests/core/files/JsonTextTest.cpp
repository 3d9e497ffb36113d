#include "core/files/JsonText.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace ostrel::core {
namespace {

// What the library's strict dump accepts: the check promises to agree with it.
bool libraryAccepts(const std::string& text) {
    try {
        (void)nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict);
        return true;
    } catch (const nlohmann::json::exception&) {
        return false;
    }
}

TEST(Utf8Test, AcceptsWellFormedTextAndRefusesOverlongFormsSurrogatesAndCutSequences) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"", true},
        {"plain ASCII, with \x01 and \x7F", true},
        {"Caf\xC3\xA9", true},                       // U+00E9, two bytes
        {"\xE2\x80\x94", true},                      // U+2014, three bytes
        {"\xF0\x9F\x8E\xB9", true},                  // U+1F3B9, four bytes
        {"\xC2\x80", true},                          // U+0080, the lowest two-byte form
        {"\xDF\xBF", true},                          // U+07FF
        {"\xE0\xA0\x80", true},                      // U+0800, the lowest three-byte form
        {"\xED\x9F\xBF", true},                      // U+D7FF, just below the surrogates
        {"\xEE\x80\x80", true},                      // U+E000, just above them
        {"\xEF\xBF\xBF", true},                      // U+FFFF
        {"\xF0\x90\x80\x80", true},                  // U+10000, the lowest four-byte form
        {"\xF4\x8F\xBF\xBF", true},                  // U+10FFFF, the highest code point
        {"\xC0\xAF", false},                         // "/" overlong in two bytes
        {"\xC1\xBF", false},                         // U+007F overlong
        {"\xE0\x80\xAF", false},                     // "/" overlong in three bytes
        {"\xE0\x9F\xBF", false},                     // U+07FF overlong
        {"\xF0\x80\x80\xAF", false},                 // "/" overlong in four bytes
        {"\xF0\x8F\xBF\xBF", false},                 // U+FFFF overlong
        {"\xED\xA0\x80", false},                     // U+D800, the first surrogate
        {"\xED\xBF\xBF", false},                     // U+DFFF, the last
        {"\xED\xA0\xBD\xED\xB8\x80", false},         // a surrogate pair, as CESU-8 writes it
        {"\xF4\x90\x80\x80", false},                 // U+110000, above the range
        {"\xF7\xBF\xBF\xBF", false},
        {"\xF8\x88\x80\x80\x80", false},             // five-byte lead
        {"\xFF", false},
        {"\x80", false},                             // a continuation byte alone
        {"a\xBF" "b", false},
        {"\xC3", false},                             // cut at the end of the text
        {"\xE2\x80", false},
        {"\xF0\x9F\x8E", false},
        {"\xC3" "A", false},                         // a lead followed by no continuation
        {"\xE2\x80" "A", false},
        {std::string("\xC3\x00", 2), false},
        {std::string("nul \x00 inside", 12), true},
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(isValidUtf8(text), valid) << ::testing::PrintToString(text);
        EXPECT_EQ(libraryAccepts(text), valid) << "the library disagrees on " << ::testing::PrintToString(text);
    }
}

TEST(Utf8Test, AgreesWithTheLibraryOnEveryTwoByteText) {
    std::string text(2, '\0');
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            text[0] = static_cast<char>(first);
            text[1] = static_cast<char>(second);
            ASSERT_EQ(isValidUtf8(text), libraryAccepts(text)) << first << " " << second;
        }
    }
}

// Brackets inside strings, escaped quotes and closing brackets do not count; the limit is
// the deepest nesting allowed.
TEST(JsonNestingTest, CountsOnlyTheBracketsOutsideStrings) {
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    const std::vector<std::tuple<std::string, int, bool>> cases = {
        {"", 0, true},
        {"1", 0, true},
        {"[]", 0, false},
        {"[]", 1, true},
        {nested(64), 64, true},
        {nested(65), 64, false},
        {"[{\"a\": [1]}]", 3, true},
        {"[{\"a\": [1]}]", 2, false},
        {"[\"[[[[\"]", 1, true},
        {"[\"\\\"[[[\"]", 1, true},         // an escaped quote does not end the string
        {"[][][][]", 1, true},                  // siblings, not nesting
        {"[" + std::string(100000, '{'), 64, false},  // unclosed: refused before the end
    };
    for (const auto& [text, limit, within] : cases) {
        EXPECT_EQ(nestingWithin(text, limit), within) << text.substr(0, 40) << " limit " << limit;
    }
}

}  // namespace
}  // namespace ostrel::core
