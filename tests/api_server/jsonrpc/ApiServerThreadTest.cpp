#include "api_server/jsonrpc/ApiServer.h"

#include "api_server/jsonrpc/ApiError.h"
#include "ApiTestSupport.h"
#include "core/files/PrivateFolder.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace ostrel::api_server {
namespace {

using test::LogCapture;
using test::PumpThread;
using test::TestClient;
using nlohmann::json;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";
const std::string kTokenMember = std::string("\"token\":\"") + kToken + "\"";

std::string errorLine(const std::string& id, int code, const std::string& message) {
    return "{\"error\":{\"code\":" + std::to_string(code) + ",\"message\":" + json(message).dump() +
           "},\"id\":" + id + ",\"jsonrpc\":\"2.0\"}";
}

// A real server on a system-chosen port, pumped by a thread of the test, with a handler
// that stands in for the method dispatcher:
//   "echo" answers its params; "ping" answers {}; "notify" raises params.count
//   notifications (params.name, "ostrel/project.changed" unless given) of params.bytes
//   padding and answers {}; "refuse" throws -32602; "nope" throws -32601; "throw" throws
//   std::invalid_argument; "text" answers non-JSON; "big" answers a result of 9000 bytes;
//   "huge" one a byte longer than any reply may be; "library" lets the JSON library throw.
class ApiServerThreadTest : public ::testing::Test {
protected:
    ApiServerThreadTest() {
        logger.addSink(capture);
        server->handler = [this](const std::string& method, const std::string& params) {
            return handle(method, params);
        };
    }

    std::string handle(const std::string& method, const std::string& params) {
        {
            std::lock_guard lock(callsMutex);
            calls.push_back(method + " " + params);
        }
        if (method == "echo") {
            return params;
        }
        if (method == "notify") {
            const json given = json::parse(params);
            const std::string padding(given.value("bytes", 0), 'x');
            const std::string name = given.value("name", "ostrel/project.changed");
            for (int i = 0; i < given.value("count", 1); ++i) {
                server->notify(name, json{{"name", "Song" + padding}, {"tempo", 120.0}, {"trackCount", i}});
            }
            return "{}";
        }
        if (method == "refuse") {
            throw ApiError(kInvalidParams, "no track with the id \"x\"");
        }
        if (method == "nope") {
            throw ApiError(kMethodNotFound, "unknown method: nope");
        }
        if (method == "throw") {
            throw std::invalid_argument("no track with that id");
        }
        if (method == "text") {
            return "not json at all";
        }
        if (method == "big") {
            return json{{"data", std::string(9000, 'b')}}.dump();
        }
        if (method == "huge") {
            return "{\"data\":\"" + std::string(kMaxReplyBytes, 'h') + "\"}";
        }
        if (method == "library") {
            return json::parse(params).at("missing").dump();
        }
        return "{}";
    }

    std::vector<std::string> recordedCalls() {
        std::lock_guard lock(callsMutex);
        return calls;
    }

    void startServer(const std::string& token = kToken) {
        ASSERT_TRUE(server->start(0, token));
        pump.start();
    }

    // One request and its reply, skipping notifications.
    std::string roundTrip(TestClient& client, const std::string& line) {
        EXPECT_TRUE(client.sendLine(line));
        return client.readReply().value_or("<no reply>");
    }

    core::Logger logger;
    std::shared_ptr<LogCapture> capture = std::make_shared<LogCapture>();
    std::unique_ptr<ApiServer> server = std::make_unique<ApiServer>(&logger);
    std::mutex callsMutex;
    std::vector<std::string> calls;
    PumpThread pump{*server};  // last, so it stops before anything it uses goes
};

// ---- Replies and error replies, byte for byte ----

struct ReplyCase {
    const char* name;
    std::string line;
    std::string reply;
};

TEST_F(ApiServerThreadTest, EveryRequestGetsItsExactReplyLine) {
    const std::vector<ReplyCase> cases = {
        {"result", TestClient::request(1, "echo", kTokenMember + R"(,"params":{"b":1,"a":"é"})"),
         R"({"id":1,"jsonrpc":"2.0","result":{"a":"é","b":1}})"},
        {"no id", R"({"method":"ping",)" + kTokenMember + "}", R"({"id":null,"jsonrpc":"2.0","result":{}})"},
        {"string id, any jsonrpc", R"({"id":"a","jsonrpc":1,"method":"ping",)" + kTokenMember + "}",
         R"({"id":"a","jsonrpc":"2.0","result":{}})"},
        {"not JSON", "not json", errorLine("null", -32700, "the line is not valid JSON")},
        {"empty line", "", errorLine("null", -32700, "the line is not valid JSON")},
        {"broken line with an id", R"({"id":7,"method":"ping")",
         errorLine("null", -32700, "the line is not valid JSON")},
        {"batch", R"([{"id":1,"method":"ping"}])",
         errorLine("null", -32600, "every request needs a \"method\" string")},
        {"method a number", R"({"id":3,"method":5})",
         errorLine("3", -32600, "every request needs a \"method\" string")},
        {"no method", R"({"id":3})", errorLine("3", -32600, "every request needs a \"method\" string")},
        {"params an array", TestClient::request(4, "echo", R"("params":[1])"),
         errorLine("4", -32600, "\"params\" must be an object")},
        {"unknown method", TestClient::request(5, "nope", kTokenMember),
         errorLine("5", -32601, "unknown method: nope")},
        {"refused params", TestClient::request(6, "refuse", kTokenMember),
         errorLine("6", -32602, "no track with the id \"x\"")},
        {"handler throws", TestClient::request(8, "throw", kTokenMember),
         errorLine("8", -32603, "internal error: no track with that id")},
        {"handler answers text", TestClient::request(9, "text", kTokenMember),
         errorLine("9", -32603, "the handler returned text that is not JSON")},
        {"number beyond a double", TestClient::request(10, "echo", kTokenMember + R"(,"params":{"bpm":1e400})"),
         errorLine("null", -32700, "the line holds a number too large to read (beyond 1.7e308 either way)")},
        {"the JSON library throws in the handler", TestClient::request(16, "library", kTokenMember),
         errorLine("16", -32603,
                   "internal error: a value of the request or of its answer could not be read or written as JSON")},
        {"an id of 30 digits", R"({"id":123456789012345678901234567890,"method":"ping",)" + kTokenMember + "}",
         R"({"id":123456789012345678901234567890,"jsonrpc":"2.0","result":{}})"},
        {"an id of 30 digits refused", R"({"id":123456789012345678901234567890,"method":"nope",)" + kTokenMember + "}",
         errorLine("123456789012345678901234567890", -32601, "unknown method: nope")},
        {"wrong token before unknown method", TestClient::request(11, "nosuch", R"("token":"wrong")"),
         errorLine("11", -32001, "the token is wrong or missing")},
        {"token as a number", TestClient::request(12, "ping", R"("token":5)"),
         errorLine("12", -32001, "the token is wrong or missing")},
        {"no token", TestClient::request(13, "ping"), errorLine("13", -32001, "the token is wrong or missing")},
        {"a reply longer than a slot", TestClient::request(14, "big", kTokenMember),
         R"({"id":14,"jsonrpc":"2.0","result":{"data":")" + std::string(9000, 'b') + "\"}}"},
        {"a reply longer than any may be", TestClient::request(17, "huge", kTokenMember),
         errorLine("17", -32003, "the reply is too long")},
        {"carriage return before the newline", TestClient::request(15, "ping", kTokenMember) + "\r",
         R"({"id":15,"jsonrpc":"2.0","result":{}})"},
    };
    startServer();
    TestClient client(server->port());
    ASSERT_TRUE(client.connected());
    for (const ReplyCase& c : cases) {
        EXPECT_EQ(roundTrip(client, c.line), c.reply) << c.name;
    }
}

TEST_F(ApiServerThreadTest, AHandlerRemovedAfterStartIsAnsweredAsMissing) {
    startServer();
    pump.stop();
    server->handler = nullptr;
    pump.start();
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(2, "ping", kTokenMember)),
              errorLine("2", -32603, "no handler is installed"));
}

TEST_F(ApiServerThreadTest, TwoRequestsInOneWriteAndOneInPiecesAreAnsweredInOrder) {
    startServer();
    TestClient client(server->port());
    client.send(TestClient::request(1, "ping", kTokenMember) + "\n" + TestClient::request(2, "ping", kTokenMember) +
                "\n{\"id\":3,\"meth");
    client.send("od\":\"ping\"," + kTokenMember + "}\n");
    EXPECT_EQ(client.readLine(), R"({"id":1,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(client.readLine(), R"({"id":2,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(client.readLine(), R"({"id":3,"jsonrpc":"2.0","result":{}})");
}

// ---- The token ----

TEST_F(ApiServerThreadTest, AnEmptyTokenLetsRequestsWithoutOneIn) {
    startServer("");
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(1, "ping")), R"({"id":1,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(roundTrip(client, TestClient::request(2, "ping", R"("token":"")")), R"({"id":2,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(roundTrip(client, TestClient::request(3, "ping", R"("token":"x")")),
              errorLine("3", -32001, "the token is wrong or missing"));
}

TEST_F(ApiServerThreadTest, TheTokenMustMatchByteForByte) {
    startServer();
    TestClient client(server->port());
    const std::string token = kToken;
    for (const std::string& wrong : {token.substr(0, 31), token + "0", "1" + token.substr(1), std::string()}) {
        EXPECT_EQ(roundTrip(client, TestClient::request(1, "ping", "\"token\":\"" + wrong + "\"")),
                  errorLine("1", -32001, "the token is wrong or missing"))
            << wrong;
    }
    EXPECT_THAT(recordedCalls(), ::testing::IsEmpty());
    EXPECT_EQ(roundTrip(client, TestClient::request(2, "ping", kTokenMember)), R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

// ---- The line limit ----

// A request of exactly `bytes` bytes: a "ping" whose params pad it out.
std::string paddedRequest(int id, std::size_t bytes) {
    const std::string head = TestClient::request(id, "ping", kTokenMember + R"(,"params":{"pad":")");
    return head + std::string(bytes - head.size() - 3, 'p') + "\"}}";
}

TEST_F(ApiServerThreadTest, ARequestOf8191BytesIsHandledAndOneOf8192IsRefusedAtOnce) {
    startServer();
    TestClient client(server->port());
    const std::string longest = paddedRequest(1, 8191);
    ASSERT_EQ(longest.size(), 8191u);
    EXPECT_EQ(roundTrip(client, longest), R"({"id":1,"jsonrpc":"2.0","result":{}})");

    EXPECT_EQ(roundTrip(client, paddedRequest(2, 8192)), errorLine("null", -32003, "the request is longer than 8191 bytes"));
    // The connection stays open for the next line.
    EXPECT_EQ(roundTrip(client, TestClient::request(3, "ping", kTokenMember)), R"({"id":3,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(recordedCalls().size(), 2u);
}

// Regression: a client that never sent '\n' made the server's buffer grow without bound.
TEST_F(ApiServerThreadTest, BytesWithoutANewlineAreRefusedOnceAfter8192AndDroppedUpToTheNextNewline) {
    startServer();
    TestClient client(server->port());
    ASSERT_TRUE(client.send(std::string(8192, 'z')));
    EXPECT_EQ(client.readLine(), errorLine("null", -32003, "the request is longer than 8191 bytes"));
    // Far more of the same line: no second refusal, and nothing of it is handled.
    for (int i = 0; i < 16; ++i) {
        ASSERT_TRUE(client.send(std::string(8192, 'z')));
    }
    EXPECT_EQ(roundTrip(client, "tail of the long line\n" + TestClient::request(4, "ping", kTokenMember)),
              R"({"id":4,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(recordedCalls().size(), 1u);
}

// ---- The inbound queue ----

// Regression: of 48 requests written at once, the 16 beyond the queue were refused with
// id null, so the client could not tell which.
TEST_F(ApiServerThreadTest, LinesBeyondThe32WaitingAreRefusedAtOnceWithTheirIdsAndThe32AreAnsweredInOrder) {
    ASSERT_TRUE(server->start(0, kToken));  // not pumped yet
    TestClient client(server->port());
    std::string burst;
    for (int id = 1; id <= 48; ++id) {
        burst += TestClient::request(id, "ping", kTokenMember) + "\n";
    }
    ASSERT_TRUE(client.send(burst));
    for (int id = 33; id <= 48; ++id) {
        EXPECT_EQ(client.readLine(), errorLine(std::to_string(id), -32002, "the API queue is full; slow down"));
    }
    pump.start();
    for (int id = 1; id <= 32; ++id) {
        EXPECT_EQ(client.readLine(), "{\"id\":" + std::to_string(id) + ",\"jsonrpc\":\"2.0\",\"result\":{}}");
    }
    EXPECT_EQ(recordedCalls().size(), 32u);
}

// ---- Clients ----

TEST_F(ApiServerThreadTest, ASecondClientIsTurnedAwayAndTheFirstNoticesNothing) {
    startServer();
    TestClient first(server->port());
    EXPECT_EQ(roundTrip(first, TestClient::request(1, "ping", kTokenMember)), R"({"id":1,"jsonrpc":"2.0","result":{}})");

    TestClient second(server->port());
    std::string rest;
    EXPECT_EQ(second.readLine(),
              errorLine("null", -32004,
                        "another client is already connected (one at a time); try again when it disconnects"));
    EXPECT_TRUE(second.waitClosed(&rest));
    EXPECT_EQ(rest, "");
    EXPECT_TRUE(capture->waitFor("a second client was turned away: one client at a time"));

    EXPECT_EQ(roundTrip(first, TestClient::request(2, "ping", kTokenMember)), R"({"id":2,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(capture->count("a Control-API client connected"), 1);
}

// Regression: the refused client got its busy line followed by a reset, since what it
// had sent was never read; the reset could destroy the line before the client read it.
TEST_F(ApiServerThreadTest, ARefusedClientThatSentARequestGetsTheBusyLineAndAnOrderlyEnd) {
    startServer();
    TestClient first(server->port());
    EXPECT_EQ(roundTrip(first, TestClient::request(1, "ping", kTokenMember)), R"({"id":1,"jsonrpc":"2.0","result":{}})");

    TestClient second(server->port());
    ASSERT_TRUE(second.sendLine(TestClient::request(5, "ping", kTokenMember)));
    EXPECT_EQ(second.readLine(),
              errorLine("null", -32004,
                        "another client is already connected (one at a time); try again when it disconnects"));
    EXPECT_TRUE(second.waitClosed());
    EXPECT_FALSE(second.wasReset());
}

// Regression: a client that half-closed after its request (nc -N) had it carried out but
// never got the reply.
TEST_F(ApiServerThreadTest, AClientThatHalfClosesAfterItsRequestsGetsEveryReplyThenTheEnd) {
    startServer();
    TestClient client(server->port());
    ASSERT_TRUE(client.send(TestClient::request(1, "ping", kTokenMember) + "\n" +
                            TestClient::request(2, "echo", kTokenMember + R"(,"params":{"n":2})") + "\n"));
    client.finishSending();
    EXPECT_EQ(client.readReply(), R"({"id":1,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(client.readReply(), R"({"id":2,"jsonrpc":"2.0","result":{"n":2}})");
    std::string rest;
    EXPECT_TRUE(client.waitClosed(&rest));
    EXPECT_EQ(rest, "");
    EXPECT_FALSE(client.wasReset());
    EXPECT_TRUE(capture->waitFor("the Control-API client disconnected"));
}

// Regression: a request nested 3,000 deep was read and written back recursively on the
// owner's thread, which overflowed its stack under the sanitizers; a NUL ended the text
// early and the rest was ignored.
TEST_F(ApiServerThreadTest, DeepNestingAndNulBytesAreRefusedAsParseErrorsBeforeParsing) {
    startServer();
    TestClient client(server->port());
    const std::string tooDeep =
        "the line nests arrays and objects deeper than 64 levels, more than a request ever needs";
    const auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_EQ(roundTrip(client, R"({"id":1,"method":"echo",)" + kTokenMember + R"(,"params":{"a":)" + nested(3000) +
                                    "}}"),
              errorLine("null", -32700, tooDeep));
    EXPECT_EQ(roundTrip(client, R"({"id":)" + nested(65) + R"(,"method":"ping",)" + kTokenMember + "}"),
              errorLine("null", -32700, tooDeep));
    // 64 levels in all are allowed: the request, "params" and 62 arrays.
    EXPECT_EQ(roundTrip(client, R"({"id":3,"method":"echo",)" + kTokenMember + R"(,"params":{"a":)" + nested(62) +
                                    "}}"),
              R"({"id":3,"jsonrpc":"2.0","result":{"a":)" + nested(62) + "}}");
    EXPECT_EQ(roundTrip(client, std::string(R"({"id":4,"method":"ping",)") + kTokenMember + std::string("}\0{\"x\":1}", 9)),
              errorLine("null", -32700, "the line is not valid JSON: it holds a NUL byte"));
    EXPECT_THAT(recordedCalls(), ::testing::ElementsAre("echo {\"a\":" + nested(62) + "}"));
}

TEST_F(ApiServerThreadTest, AClientThatLeavesMidRequestIsForgottenAndTheNextIsServed) {
    startServer();
    {
        TestClient leaving(server->port());
        ASSERT_TRUE(leaving.send(R"({"id":1,"method":"echo",)" + kTokenMember + R"(,"params":{)"));
    }
    TestClient next(server->port());
    EXPECT_EQ(roundTrip(next, TestClient::request(2, "ping", kTokenMember)), R"({"id":2,"jsonrpc":"2.0","result":{}})");
    EXPECT_THAT(recordedCalls(), ::testing::ElementsAre("ping {}"));
}

// Regression: lines a client queued before leaving were answered to the next client.
TEST_F(ApiServerThreadTest, ALeavingClientsLinesAreHandledButTheirRepliesGoToNobody) {
    ASSERT_TRUE(server->start(0, kToken));  // not pumped while the first client comes and goes
    {
        TestClient oneShot(server->port());
        ASSERT_TRUE(oneShot.send(TestClient::request(1, "echo", kTokenMember + R"(,"params":{"n":1})") + "\n" +
                                 TestClient::request(2, "echo", kTokenMember + R"(,"params":{"n":2})") + "\n"));
        // It leaves once let in: one gone before the door could tell whose it was is not.
        ASSERT_TRUE(capture->waitFor("a Control-API client connected"));
    }
    ASSERT_TRUE(capture->waitFor("the Control-API client disconnected"));
    TestClient next(server->port());
    ASSERT_TRUE(next.sendLine(TestClient::request(3, "ping", kTokenMember)));
    pump.start();
    EXPECT_EQ(next.readLine(), R"({"id":3,"jsonrpc":"2.0","result":{}})");
    EXPECT_THAT(recordedCalls(), ::testing::ElementsAre(R"(echo {"n":1})", R"(echo {"n":2})", "ping {}"));
    // Nothing else was waiting for this client.
    EXPECT_EQ(roundTrip(next, TestClient::request(4, "ping", kTokenMember)), R"({"id":4,"jsonrpc":"2.0","result":{}})");
}

// ---- A door nobody may hold without the token ----

const std::string kNoTokenInTime = errorLine("null", -32005, std::string(kNoTokenInTimeMessage));
const std::string kUnfinishedLine = errorLine("null", -32005, std::string(kUnfinishedLineMessage));

// What a client does once connected, over and over until the server ends the connection.
struct Lingering {
    const char* name;
    std::string first;  // sent once, at the start
    std::string again;  // sent every 200 ms ("" for nothing)
    std::string closingLine;
};

// Regression: a client that sent nothing, or a byte a second, held the one-client door
// without the token for as long as it liked, and everyone else was turned away.
TEST_F(ApiServerThreadTest, AClientThatLingersWithoutTheTokenOrWithAnUnfinishedLineIsToldAndClosed) {
    const std::vector<Lingering> cases = {
        {"silent", "", "", kNoTokenInTime},
        {"a byte at a time", "", "{", kNoTokenInTime},
        {"requests without the right token", "", TestClient::request(1, "ping", R"("token":"wrong")") + "\n",
         kNoTokenInTime},
        {"a line left unfinished after the token", TestClient::request(1, "ping", kTokenMember) + "\n{\"id\":2", "",
         kUnfinishedLine},
        {"the token, then a byte at a time", TestClient::request(1, "ping", kTokenMember) + "\n", "x", kUnfinishedLine},
    };
    startServer();
    for (const Lingering& c : cases) {
        SCOPED_TRACE(c.name);
        TestClient lingering(server->port());
        ASSERT_TRUE(lingering.send(c.first));
        std::optional<std::string> line;
        // Bounded by the guard: a server that never closes it fails here.
        for (const auto guard = std::chrono::steady_clock::now() + test::kGuard;
             std::chrono::steady_clock::now() < guard;) {
            if (!c.again.empty()) {
                (void)lingering.send(c.again);  // the server may have closed already
            }
            line = lingering.readLine(std::chrono::milliseconds(200));
            if (line && line->find("-32005") != std::string::npos) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(line ? 200 : 0));
        }
        EXPECT_EQ(line, c.closingLine);
        EXPECT_TRUE(lingering.waitClosed());
        // The door is free for the next client.
        TestClient next(server->port());
        EXPECT_EQ(roundTrip(next, TestClient::request(9, "ping", kTokenMember)),
                  R"({"id":9,"jsonrpc":"2.0","result":{}})");
    }
    server->stop();  // what the log still holds back is counted
    EXPECT_EQ(capture->tally("a Control-API client sent no request with the right token within 3 seconds; closing it"),
              3);
    EXPECT_EQ(capture->tally("a Control-API client left a request line unfinished for 3 seconds; closing it"), 2);
}

TEST_F(ApiServerThreadTest, AClientThatGaveTheTokenKeepsTheDoorWhileIdle) {
    startServer();
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(1, "ping", kTokenMember)),
              R"({"id":1,"jsonrpc":"2.0","result":{}})");
    // Past the time a client without the token is given: nothing comes, the door stays open.
    EXPECT_EQ(client.readLine(std::chrono::milliseconds(4000)), std::nullopt);
    EXPECT_EQ(roundTrip(client, TestClient::request(2, "ping", kTokenMember)),
              R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

// Regression: of 50 clients connecting at once, several had no answer within 10 s: the
// listening queue held 4, and one waiting client was taken every other pass.
TEST_F(ApiServerThreadTest, EveryOneOfACrowdConnectingAtOnceIsTurnedAwayWhileTheDoorIsHeld) {
    startServer();
    TestClient holder(server->port());
    EXPECT_EQ(roundTrip(holder, TestClient::request(1, "ping", kTokenMember)),
              R"({"id":1,"jsonrpc":"2.0","result":{}})");
    std::vector<std::unique_ptr<TestClient>> crowd;
    std::vector<std::optional<std::string>> answers(100);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        crowd.push_back(std::make_unique<TestClient>(server->port(), TestClient::Connect::Later));
    }
    // One guard for the whole crowd, against a server that never answers some.
    for (const auto guard = std::chrono::steady_clock::now() + test::kGuard;
         std::chrono::steady_clock::now() < guard && std::count(answers.begin(), answers.end(), std::nullopt) > 0;) {
        for (std::size_t i = 0; i < crowd.size(); ++i) {
            answers[i] = answers[i] ? answers[i] : crowd[i]->readLine(std::chrono::milliseconds(1));
        }
    }
    EXPECT_EQ(std::count(answers.begin(), answers.end(), errorLine("null", -32004, std::string(kBusyMessage))), 100);
    EXPECT_EQ(roundTrip(holder, TestClient::request(2, "ping", kTokenMember)),
              R"({"id":2,"jsonrpc":"2.0","result":{}})");
}

// Regression: with 16 clients waiting, each newcomer turned away the one that had waited
// longest, a client about to send the token as easily as a silent one, and told it that
// another client held the door while nobody did.
TEST_F(ApiServerThreadTest, AFullWaitingRoomTurnsAwayTheLongestSilentTellingTheTruthAndLetsTheTokenIn) {
    startServer();
    constexpr std::size_t kExtra = 10;
    std::vector<std::unique_ptr<TestClient>> silent;
    for (std::size_t i = 0; i < ApiServer::kMaxWaitingClients; ++i) {
        silent.push_back(std::make_unique<TestClient>(server->port()));
        ASSERT_TRUE(silent.back()->connected());
    }
    TestClient talker(server->port());  // sends a request without the token: it has spoken
    ASSERT_TRUE(talker.sendLine(TestClient::request(1, "ping", R"("token":"wrong")")));
    EXPECT_EQ(talker.readLine(), errorLine("1", -32001, std::string(kBadTokenMessage)));
    for (std::size_t i = 0; i < kExtra; ++i) {
        silent.push_back(std::make_unique<TestClient>(server->port()));
    }
    // The talker and each extra client made room: the eleven that waited longest in silence go.
    const std::string crowded = errorLine("null", -32004, std::string(kCrowdedMessage));
    for (std::size_t i = 0; i <= kExtra; ++i) {
        EXPECT_EQ(silent[i]->readLine(), crowded) << "the silent client " << i;
    }
    EXPECT_EQ(silent[kExtra + 1]->readLine(std::chrono::milliseconds(200)), std::nullopt)
        << "one more than room was made for";
    EXPECT_EQ(talker.readLine(std::chrono::milliseconds(200)), std::nullopt);
    EXPECT_EQ(capture->count("a second client was turned away: one client at a time"), 0);
    // Room is made for the token too, and it is let in; then the others are told it is held.
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(2, "ping", kTokenMember)), R"({"id":2,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(talker.readLine(), errorLine("null", -32004, std::string(kBusyMessage)));
}

// ---- Clients without the token cannot keep the door ----

// A program without the token that connects again the moment the server closes it, until
// it is destroyed: on each connection it sends `first`, then `again` every 20 ms, and reads
// whatever comes.
class ReconnectLoop {
public:
    ReconnectLoop(std::uint16_t port, std::string first, std::string again)
        : port_(port), first_(std::move(first)), again_(std::move(again)), thread_([this] { run(); }) {}
    ~ReconnectLoop() {
        stopping_.store(true);
        thread_.join();
    }
    ReconnectLoop(const ReconnectLoop&) = delete;
    ReconnectLoop& operator=(const ReconnectLoop&) = delete;

    int connections() const { return connections_.load(); }

private:
    void run() {
        while (!stopping_.load()) {
            TestClient client(port_);
            if (!client.connected()) {
                continue;
            }
            connections_.fetch_add(1);
            (void)client.send(first_);
            while (!stopping_.load() && !client.closedByServer()) {
                if (!again_.empty()) {
                    (void)client.send(again_);  // the server may have closed already
                }
                (void)client.readLine(std::chrono::milliseconds(20));
            }
        }
    }

    const std::uint16_t port_;
    const std::string first_;
    const std::string again_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

struct Hammering {
    const char* name;
    std::string first;
    std::string again;
};

// Regression: a program without the token that reconnected the moment it was closed kept
// the door, and a client with the token was served on 0-3 % of its tries.
TEST_F(ApiServerThreadTest, AClientWithTheTokenIsServedOnEveryTryWhileATokenlessProgramReconnectsInALoop) {
    constexpr int kTries = 20;
    const std::vector<Hammering> cases = {
        {"silent", "", ""},
        {"requests without the right token", "", TestClient::request(1, "ping", R"("token":"wrong")") + "\n"},
        {"a line left unfinished", R"({"id":1,"method":"ping")", ""},
        {"a byte at a time", "", "{"},
    };
    startServer();
    for (const Hammering& c : cases) {
        SCOPED_TRACE(c.name);
        ReconnectLoop loop(server->port(), c.first, c.again);
        for (const auto guard = std::chrono::steady_clock::now() + test::kGuard;
             loop.connections() == 0 && std::chrono::steady_clock::now() < guard;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GT(loop.connections(), 0);
        int served = 0;
        for (int i = 0; i < kTries; ++i) {
            TestClient client(server->port());
            served += roundTrip(client, TestClient::request(i, "ping", kTokenMember)) ==
                              "{\"id\":" + std::to_string(i) + ",\"jsonrpc\":\"2.0\",\"result\":{}}"
                          ? 1
                          : 0;
        }
        EXPECT_EQ(served, kTries);
    }
    // The lines without the token never reached the handler.
    EXPECT_EQ(recordedCalls().size(), static_cast<std::size_t>(kTries * cases.size()));
}

// Regression: a client without the token heard the song's name, tempo and track count and
// the paths of exports for as long as it stayed connected.
TEST_F(ApiServerThreadTest, AClientWithoutTheTokenHearsNoNotificationWhileTheSongChanges) {
    const std::vector<std::pair<std::string, json>> changes = {
        {"ostrel/project.changed", json{{"name", "Secret"}, {"tempo", 128.0}, {"trackCount", 3}}},
        {"ostrel/render.finished", json{{"path", "/home/someone/exports/Secret.wav"}, {"seconds", 2.0}}},
        {"ostrel/render.finished", json{{"error", "the disk is full"}}},
    };
    startServer();
    TestClient outsider(server->port());
    EXPECT_EQ(roundTrip(outsider, TestClient::request(1, "ping", R"("token":"wrong")")),
              errorLine("1", -32001, "the token is wrong or missing"));
    // The song changes in the program meanwhile: the test's thread stands in for the owner's.
    pump.stop();
    for (const auto& [method, params] : changes) {
        server->notify(method, params);
    }
    pump.start();
    // Its next lines are the answer to its next request and its close at 3 s, nothing else.
    ASSERT_TRUE(outsider.sendLine(TestClient::request(2, "ping")));
    EXPECT_EQ(outsider.readLine(), errorLine("2", -32001, "the token is wrong or missing"));
    EXPECT_EQ(outsider.readLine(), kNoTokenInTime);
    std::string rest;
    EXPECT_TRUE(outsider.waitClosed(&rest));
    EXPECT_EQ(rest, "");
}

// ---- Only the user's processes ----

const std::string kAnotherUser = errorLine("null", -32006, std::string(kAnotherUserMessage));
const std::string kAnotherUserLogged =
    "a Control-API connection from another user's process was closed unread: the door serves only this user's "
    "processes";

struct Visitor {
    const char* name;
    std::string bytes;
    bool doorHeld;  // the user's own client holds the door meanwhile
};

// Regression: another user's process that had the token (it had leaked once) was served like
// the user's own, and one without it was read, answered and kept for 3 s.
TEST_F(ApiServerThreadTest, AnotherUsersConnectionIsToldAndClosedUnreadWhateverItSendsAndTheUsersIsServedNext) {
    if (!test::mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may run a client as another user";
    }
    const std::vector<Visitor> cases = {
        {"a request with the right token", TestClient::request(1, "ping", kTokenMember) + "\n", false},
        {"two with the right token", TestClient::request(1, "echo", kTokenMember) + "\n" +
                                         TestClient::request(2, "ping", kTokenMember) + "\n", false},
        {"a wrong token", TestClient::request(1, "ping", R"("token":"wrong")") + "\n", false},
        {"silent", "", false},
        {"the right token while the door is held", TestClient::request(1, "ping", kTokenMember) + "\n", true},
    };
    startServer();
    int lastId = 100;
    const auto served = [&](TestClient& client) {
        const int id = ++lastId;
        return roundTrip(client, TestClient::request(id, "ping", kTokenMember)) ==
               "{\"id\":" + std::to_string(id) + ",\"jsonrpc\":\"2.0\",\"result\":{}}";
    };
    for (const Visitor& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<TestClient> holder;
        if (c.doorHeld) {
            holder.emplace(server->port());
            EXPECT_TRUE(served(*holder));
        }
        const test::AnotherUsersClient::Visit visit = test::AnotherUsersClient(server->port(), c.bytes).finish();
        EXPECT_EQ(visit.problem, "");
        EXPECT_EQ(visit.received, kAnotherUser + "\n");
        EXPECT_TRUE(visit.closedByServer);
        if (holder) {
            EXPECT_TRUE(served(*holder)) << "the holder noticed nothing";
            holder.reset();
        }
        TestClient next(server->port());
        EXPECT_TRUE(served(next));
    }
    for (const std::string& call : recordedCalls()) {
        EXPECT_EQ(call, "ping {}");  // none of theirs
    }
    server->stop();  // what the log still holds back is counted
    EXPECT_EQ(capture->tally(kAnotherUserLogged), static_cast<int>(cases.size()));
    EXPECT_EQ(capture->tally("a Control-API client sent no request with the right token within 3 seconds; closing it"),
              0);
}

TEST_F(ApiServerThreadTest, WhereTheSystemCannotTellWhoseAConnectionIsAWarnSaysSoAndTheTokenAloneDecides) {
    auto blind = std::make_unique<ApiServer>(&logger, std::vector<PeerOwner::Way>{});
    blind->handler = [](const std::string&, const std::string&) { return std::string("{}"); };
    ASSERT_TRUE(blind->start(0, kToken));
    std::vector<std::string> warnings;
    for (const LogCapture::Line& line : capture->lines()) {
        if (line.level == core::LogLevel::WARN) {
            warnings.push_back(line.message);
        }
    }
    EXPECT_THAT(warnings, ::testing::ElementsAre(
                              "this system does not tell whose process a connection comes from (neither the kernel's "
                              "socket diagnostics nor /proc/net/tcp answer), so the Control API cannot keep other "
                              "users' processes out: any process that sends the token is served"));
    if (!test::mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may run a client as another user";
    }
    PumpThread blindPump(*blind);
    blindPump.start();
    const test::AnotherUsersClient::Visit visit =
        test::AnotherUsersClient(blind->port(), TestClient::request(1, "ping", kTokenMember) + "\n", 1).finish();
    EXPECT_EQ(visit.problem, "");
    EXPECT_EQ(visit.received, std::string(R"({"id":1,"jsonrpc":"2.0","result":{}})") + "\n");
}

// ---- Notifications ----

TEST_F(ApiServerThreadTest, ANotificationReachesTheClientBeforeTheReplyOfTheRequestThatRaisedIt) {
    startServer();
    TestClient client(server->port());
    ASSERT_TRUE(client.sendLine(TestClient::request(1, "notify", kTokenMember + R"(,"params":{"count":1})")));
    EXPECT_EQ(client.readLine(),
              R"({"jsonrpc":"2.0","method":"ostrel/project.changed","params":{"name":"Song","tempo":120.0,"trackCount":0}})");
    EXPECT_EQ(client.readLine(), R"({"id":1,"jsonrpc":"2.0","result":{}})");
}

TEST_F(ApiServerThreadTest, ANotificationThatDoesNotFitALineIsDropped) {
    startServer();
    TestClient client(server->port());
    int notifications = 0;
    ASSERT_TRUE(client.sendLine(TestClient::request(1, "notify", kTokenMember + R"(,"params":{"bytes":8200})")));
    EXPECT_EQ(client.readReply(&notifications), R"({"id":1,"jsonrpc":"2.0","result":{}})");
    EXPECT_EQ(notifications, 0);
}

TEST_F(ApiServerThreadTest, NothingIsNotifiedWhileNoClientIsConnected) {
    ASSERT_TRUE(server->start(0, kToken));
    server->notify("ostrel/render.finished", json{{"error", "nobody listens"}});
    pump.start();
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(1, "ping", kTokenMember)), R"({"id":1,"jsonrpc":"2.0","result":{}})");
}

// Regression: notifications raised while requests were handled filled the outbound ring
// and the replies behind them were dropped.
TEST_F(ApiServerThreadTest, NotificationFloodsNeverCostAReply) {
    startServer();
    TestClient client(server->port());
    std::string burst;
    for (int id = 1; id <= 32; ++id) {
        burst += TestClient::request(id, "notify", kTokenMember + R"(,"params":{"count":100,"bytes":100})") + "\n";
    }
    ASSERT_TRUE(client.send(burst));
    int notifications = 0;
    for (int id = 1; id <= 32; ++id) {
        ASSERT_EQ(client.readReply(&notifications), "{\"id\":" + std::to_string(id) + ",\"jsonrpc\":\"2.0\",\"result\":{}}");
    }
    EXPECT_GT(notifications, 0);
    EXPECT_EQ(capture->count("dropped an API message (queue full): reply"), 0);
}

// ---- Starting and stopping ----

TEST_F(ApiServerThreadTest, StartingOnPortZeroListensOnTheChosenPortAndSaysWhich) {
    server->pump();  // not started: returns at once
    startServer();
    ASSERT_NE(server->port(), 0);
    EXPECT_EQ(capture->count("the Control API is listening on 127.0.0.1:" + std::to_string(server->port())), 1);
    EXPECT_TRUE(server->running());
}

TEST_F(ApiServerThreadTest, ASecondStartKeepsTheFirstToken) {
    startServer();
    EXPECT_TRUE(server->start(0, "other"));
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(1, "ping", kTokenMember)), R"({"id":1,"jsonrpc":"2.0","result":{}})");
}

TEST_F(ApiServerThreadTest, StartingWithoutAHandlerFailsAndSaysWhy) {
    server->handler = nullptr;
    std::string why;
    EXPECT_FALSE(server->start(0, kToken, &why));
    EXPECT_EQ(why, "the API server has no handler");
    EXPECT_FALSE(server->running());
    EXPECT_EQ(capture->count("the API server needs a handler before it starts"), 1);
}

TEST_F(ApiServerThreadTest, StartingOnATakenPortFailsAndCanBeTriedAgain) {
    startServer();
    auto other = std::make_unique<ApiServer>(&logger);
    other->handler = [](const std::string&, const std::string&) { return std::string("{}"); };
    std::string why;
    EXPECT_FALSE(other->start(server->port(), "", &why));
    EXPECT_EQ(why, "Address already in use; a program of the user " + core::userLabel(::geteuid()) + " holds it");
    EXPECT_EQ(capture->count("could not listen on 127.0.0.1:" + std::to_string(server->port()) + ": " + why), 1);
    EXPECT_TRUE(other->start(0, ""));
    EXPECT_NE(other->port(), server->port());
}

TEST_F(ApiServerThreadTest, StoppingWithAClientConnectedDisconnectsItFirst) {
    startServer();
    TestClient client(server->port());
    EXPECT_EQ(roundTrip(client, TestClient::request(1, "ping", kTokenMember)), R"({"id":1,"jsonrpc":"2.0","result":{}})");
    server->stop();
    EXPECT_TRUE(client.waitClosed());
    EXPECT_FALSE(server->running());
    std::vector<std::string> messages;
    for (const LogCapture::Line& line : capture->lines()) {
        EXPECT_EQ(line.category, "api_server");
        messages.push_back(line.message);
    }
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "the Control-API client disconnected");
    EXPECT_EQ(messages.back(), "the Control API is closed");
}

}  // namespace
}  // namespace ostrel::api_server
