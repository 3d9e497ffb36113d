#include "api_server/jsonrpc/ApiMessages.h"

#include "api_server/jsonrpc/ApiError.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace ostrel::api_server {
namespace {

using nlohmann::json;

// The code and message parseRequest refuses a line with; {0, ""} when it accepts it.
std::pair<int, std::string> refusal(const std::string& line) {
    try {
        (void)parseRequest(line);
        return {0, ""};
    } catch (const ApiError& error) {
        return {error.code, error.what()};
    }
}

TEST(ApiMessagesTest, ARequestGivesItsMethodIdParamsAndToken) {
    const Request request = parseRequest(R"({"jsonrpc":"2.0","id":{"z":1,"a":[1.50,1e2]},"method":"tracks.add","params":{"b":1,"a":2},"token":"t"})");
    EXPECT_EQ(request.method, "tracks.add");
    EXPECT_EQ(request.id, R"({"z":1,"a":[1.50,1e2]})");  // as written, not as the library would write it
    EXPECT_EQ(request.params.dump(), R"({"a":2,"b":1})");
    EXPECT_EQ(request.token, "t");
}

TEST(ApiMessagesTest, UnusableLinesAreRefusedWithTheFirstRuleTheyBreak) {
    const std::string noMethod = "every request needs a \"method\" string";
    const std::string paramsNotObject = "\"params\" must be an object";
    const std::vector<std::pair<std::string, std::pair<int, std::string>>> cases = {
        {"", {-32700, "the line is not valid JSON"}},
        {"{", {-32700, "the line is not valid JSON"}},
        {"{\"method\":\"m\"} trailing", {-32700, "the line is not valid JSON"}},
        {"\xff\xfe", {-32700, "the line is not valid JSON"}},
        {"[]", {-32600, noMethod}},
        {"\"text\"", {-32600, noMethod}},
        {R"({"params":[]})", {-32600, noMethod}},
        {R"({"method":null})", {-32600, noMethod}},
        {R"({"method":"m","params":[1]})", {-32600, paramsNotObject}},
        {R"({"method":"m","params":null})", {-32600, paramsNotObject}},
        {R"({"method":"m","params":"x"})", {-32600, paramsNotObject}},
        {R"({"method":"m","params":{}})", {0, ""}},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(refusal(line), expected) << line;
    }
}

// Regression: the library's own exception, "[json.exception.out_of_range.406] number
// overflow parsing '1e400'", went to the client as an internal error.
TEST(ApiMessagesTest, ANumberBeyondADoubleIsAParseErrorInPlainWords) {
    const std::pair<int, std::string> tooLarge{-32700, std::string(kNumberTooLargeMessage)};
    for (const char* line : {R"({"method":"project.setTempo","params":{"bpm":1e400}})",
                             R"({"method":"m","params":{"x":[-1e999]}})", R"({"id":1e400,"method":"m"})"}) {
        EXPECT_EQ(refusal(line), tooLarge) << line;
    }
    EXPECT_EQ(refusal(R"({"method":"m","params":{"x":1e-400}})"), (std::pair<int, std::string>{0, ""}));
}

TEST(ApiMessagesTest, TheIdIsReadBackFromAnyObjectLine) {
    EXPECT_EQ(extractRequestId(R"({"id":1.50,"method":5})"), "1.50");
    EXPECT_EQ(extractRequestId(R"({"id":[{"b":1,"a":2}]})"), R"([{"b":1,"a":2}])");
    EXPECT_EQ(extractRequestId(R"({"method":"m"})"), "null");
    EXPECT_EQ(extractRequestId(R"([{"id":1}])"), "null");
    EXPECT_EQ(extractRequestId(R"({"id":1,)"), "null");
    EXPECT_EQ(extractRequestId(R"({"id":1,"x":1e999})"), "null");
    EXPECT_EQ(extractRequestId(""), "null");
}

TEST(ApiMessagesTest, RepliesAndNotificationsAreCompactWithSortedMembers) {
    EXPECT_EQ(makeResultReply(R"("a")", json{{"trackId", "é"}, {"count", 2}}),
              R"({"id":"a","jsonrpc":"2.0","result":{"count":2,"trackId":"é"}})");
    EXPECT_EQ(makeResultReply("null", json::object()), R"({"id":null,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(makeErrorReply("3", -32602, "no \"x\"\n"),
              R"({"error":{"code":-32602,"message":"no \"x\"\n"},"id":3,"jsonrpc":"2.0"})");
    EXPECT_EQ(makeNotification("ostrel/render.finished", json{{"seconds", 2.5}, {"path", "/tmp/a.wav"}}),
              R"({"jsonrpc":"2.0","method":"ostrel/render.finished","params":{"path":"/tmp/a.wav","seconds":2.5}})");
    EXPECT_EQ(tooLongReply(),
              R"({"error":{"code":-32003,"message":"the request is longer than 8191 bytes"},"id":null,"jsonrpc":"2.0"})");
}

TEST(ApiMessagesTest, TextThatIsNotUtf8IsWrittenWithReplacementCharacters) {
    EXPECT_EQ(makeErrorReply("null", -32603, "internal error: \xff"),
              "{\"error\":{\"code\":-32603,\"message\":\"internal error: \xef\xbf\xbd\"},\"id\":null,\"jsonrpc\":\"2.0\"}");
}

TEST(ApiMessagesTest, AnUnreadableIdIsWrittenAsNull) {
    for (const char* id : {"{broken", "", "1 2", "[1, 2]", "1e400", "\"a\"\n"}) {
        EXPECT_EQ(makeResultReply(id, json::object()), R"({"id":null,"jsonrpc":"2.0","result":{}})") << id;
    }
}

}  // namespace
}  // namespace ostrel::api_server
