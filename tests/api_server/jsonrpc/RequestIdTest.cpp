#include "api_server/jsonrpc/RequestId.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace ostrel::api_server {
namespace {

struct IdCase {
    const char* name;
    std::string line;
    std::optional<std::string> id;
};

TEST(RequestIdTest, TheIdIsTheTextTheClientWroteLessItsSpaces) {
    const std::vector<IdCase> cases = {
        {"30 digits", R"({"id":123456789012345678901234567890,"method":"m"})", "123456789012345678901234567890"},
        {"fraction and exponent as written", R"({"method":"m","id":-1.50E+2})", "-1.50E+2"},
        {"negative zero", R"({"id":-0})", "-0"},
        {"string with escapes and spaces", R"({"id" : "a \"b\" \u00e9 }" , "method":"m"})", R"("a \"b\" \u00e9 }")"},
        {"object with spaces", "{ \"id\" :\t{ \"b\" : [ 1 , 2 ] , \"a\" : \"x y\" } }", R"({"b":[1,2],"a":"x y"})"},
        {"escaped member name", R"({"\u0069d":7})", "7"},
        {"the last of several, as the parser takes", R"({"id":1,"id":2})", "2"},
        {"after nested values with brackets in strings",
         R"({"params":{"id":[1,"]}"],"x":{"id":3}},"token":"{","id":true})", "true"},
        {"an id only inside params is none", R"({"method":"m","params":{"id":5}})", std::nullopt},
        {"null", R"({"id":null})", "null"},
        {"not an object", R"([{"id":1}])", std::nullopt},
        {"empty object", "{}", std::nullopt},
        // Cut short anywhere, the walk ends without reading past the end.
        {"cut in the value", R"({"id":[1,{"a":)", std::nullopt},
        {"cut in a string", R"({"id":"open)", std::nullopt},
        {"cut in the name", R"({"id\)", std::nullopt},
        {"no comma", R"({"a":1 "id":2})", std::nullopt},
    };
    for (const IdCase& c : cases) {
        EXPECT_EQ(rawRequestId(c.line), c.id) << c.name;
    }
}

}  // namespace
}  // namespace ostrel::api_server
