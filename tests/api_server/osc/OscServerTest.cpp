#include "api_server/osc/OscServer.h"

#include "api_server/jsonrpc/ApiError.h"
#include "ApiTestSupport.h"
#include "core/files/PrivateFolder.h"
#include "OscTestSupport.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <climits>
#include <cstdlib>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ostrel::api_server {
namespace {

using test::OscBytes;
using test::oscMessage;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

// A real door on a system-chosen port. The test's own thread is the GUI thread: it sends,
// waits until the receive thread has finished with what it sent, then pumps once; the
// handler records each call as "method params".
class OscServerTest : public ::testing::Test {
protected:
    OscServerTest() {
        logger.addSink(capture);
        door->handler = [this](const std::string& method, const std::string& params) {
            calls.push_back(method + " " + params);
            return std::string("{}");
        };
    }

    void SetUp() override { ASSERT_TRUE(door->start(0)); }

    // The calls that the datagrams made, each sent as one UDP datagram.
    std::vector<std::string> deliver(const std::vector<std::string>& datagrams) {
        const std::uint64_t before = door->datagramsRead();
        for (const std::string& datagram : datagrams) {
            EXPECT_TRUE(sender.send(door->port(), datagram));
        }
        EXPECT_TRUE(test::waitForDatagrams(*door, before + datagrams.size()));
        calls.clear();
        door->pump();
        return calls;
    }
    std::vector<std::string> deliver(const std::string& datagram) { return deliver(std::vector{datagram}); }

    core::Logger logger;
    std::shared_ptr<test::LogCapture> capture = std::make_shared<test::LogCapture>();
    std::unique_ptr<OscServer> door = std::make_unique<OscServer>(&logger);
    test::UdpSender sender;
    std::vector<std::string> calls;
};

// --- every address -------------------------------------------------------------------

struct RouteCase {
    std::string datagram;
    std::string call;
};

std::vector<RouteCase> everyRoute() {
    return {
        {oscMessage("/ostrel/transport/play"), "transport.play {}"},
        {oscMessage("/ostrel/transport/stop"), "transport.stop {}"},
        {oscMessage("/ostrel/transport/setTempo", ",f").float32(120.0f), "transport.setTempo {\"bpm\":120.0}"},
        {oscMessage("/ostrel/project/setName", ",s").string("Night Drive"),
         "project.setName {\"name\":\"Night Drive\"}"},
        {oscMessage("/ostrel/project/setTempo", ",f").float32(96.5f), "project.setTempo {\"bpm\":96.5}"},
        {oscMessage("/ostrel/history/undo"), "history.undo {}"},
        {oscMessage("/ostrel/history/redo"), "history.redo {}"},
        {oscMessage("/ostrel/tracks/add"), "tracks.add {}"},
        {oscMessage("/ostrel/tracks/remove", ",s").string("3"), "tracks.remove {\"id\":\"3\"}"},
        {oscMessage("/ostrel/tracks/rename", ",ss").string("1").string("2024"),
         "tracks.rename {\"id\":\"1\",\"name\":\"2024\"}"},
        {oscMessage("/ostrel/tracks/setInstrument", ",ss").string("2").string("Warm Pad"),
         "tracks.setInstrument {\"id\":\"2\",\"patch\":\"Warm Pad\"}"},
        {oscMessage("/ostrel/tracks/setMuted", ",sT").string("2"), "tracks.setMuted {\"id\":\"2\",\"muted\":true}"},
        {oscMessage("/ostrel/tracks/setSolo", ",sF").string("3"), "tracks.setSolo {\"id\":\"3\",\"solo\":false}"},
        {oscMessage("/ostrel/tracks/setVolume", ",sf").string("1").float32(0.5f),
         "tracks.setVolume {\"id\":\"1\",\"volume\":0.5}"},
        {oscMessage("/ostrel/clips/quantize", ",ss").string("1").string("c-1"),
         "clips.quantize {\"clipId\":\"c-1\",\"trackId\":\"1\"}"},
        {oscMessage("/ostrel/devices/add", ",sss").string("1").string("ostrel.delay").string("Slapback"),
         "devices.add {\"deviceId\":\"ostrel.delay\",\"preset\":\"Slapback\",\"trackId\":\"1\"}"},
        {oscMessage("/ostrel/devices/remove", ",ss").string("1").string("d-7"),
         "devices.remove {\"deviceId\":\"d-7\",\"trackId\":\"1\"}"},
        {oscMessage("/ostrel/devices/setEnabled", ",ssF").string("1").string("d-7"),
         "devices.setEnabled {\"deviceId\":\"d-7\",\"enabled\":false,\"trackId\":\"1\"}"},
        {oscMessage("/ostrel/devices/move", ",ssi").string("1").string("d-7").int32(2),
         "devices.move {\"deviceId\":\"d-7\",\"newIndex\":2,\"trackId\":\"1\"}"},
        {oscMessage("/ostrel/devices/setParameter", ",sssf").string("1").string("d-7").string("mix").float32(0.25f),
         "devices.setParameter {\"deviceId\":\"d-7\",\"key\":\"mix\",\"trackId\":\"1\",\"value\":0.25}"},
    };
}

TEST_F(OscServerTest, EveryAddressCallsItsMethodWithItsNamedParameters) {
    const std::vector<RouteCase> cases = everyRoute();
    ASSERT_EQ(cases.size(), 20u);
    for (const RouteCase& c : cases) {
        EXPECT_THAT(deliver(c.datagram), ElementsAre(c.call)) << c.call;
    }
}

TEST_F(OscServerTest, CallsReachTheHandlerInArrivalOrder) {
    std::vector<std::string> datagrams;
    std::vector<std::string> expected;
    for (const RouteCase& c : everyRoute()) {
        datagrams.push_back(c.datagram);
        expected.push_back(c.call);
    }
    EXPECT_EQ(deliver(datagrams), expected);
}

TEST_F(OscServerTest, AnAddressIsMatchedExactlyLetterCaseIncluded) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/Play")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/play/")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/pla")), IsEmpty());
    EXPECT_THAT(capture->lines(), ::testing::SizeIs(1));  // only the start
}

// --- argument types ------------------------------------------------------------------

TEST_F(OscServerTest, Int32ArgumentsKeepTheirSignAndFullRange) {
    auto move = [](std::int32_t index) {
        return oscMessage("/ostrel/devices/move", ",ssi").string("1").string("d").int32(index);
    };
    EXPECT_THAT(deliver(move(-1)), ElementsAre("devices.move {\"deviceId\":\"d\",\"newIndex\":-1,\"trackId\":\"1\"}"));
    EXPECT_THAT(deliver(move(INT32_MIN)),
                ElementsAre("devices.move {\"deviceId\":\"d\",\"newIndex\":-2147483648,\"trackId\":\"1\"}"));
    EXPECT_THAT(deliver(move(INT32_MAX)),
                ElementsAre("devices.move {\"deviceId\":\"d\",\"newIndex\":2147483647,\"trackId\":\"1\"}"));
}

TEST_F(OscServerTest, AFloat32ArrivesAsTheDoubleOfItsExactValue) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/setTempo", ",f").float32(0.7f)),
                ElementsAre("transport.setTempo {\"bpm\":0.699999988079071}"));
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/setTempo", ",f").float32(-0.0f)),
                ElementsAre("transport.setTempo {\"bpm\":-0.0}"));
}

TEST_F(OscServerTest, ANonFiniteFloatReachesTheHandlerAsNullForItToRefuse) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/setTempo", ",f").float32(std::numeric_limits<float>::infinity())),
                ElementsAre("transport.setTempo {\"bpm\":null}"));
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/setTempo", ",f").float32(std::numeric_limits<float>::quiet_NaN())),
                ElementsAre("transport.setTempo {\"bpm\":null}"));
}

TEST_F(OscServerTest, StringsOfEveryLengthAroundThePaddingBoundary) {
    for (const std::string name : {"", "a", "ab", "abc", "abcd", "abcde", "abcdefgh", "Grüße 🎹"}) {
        EXPECT_THAT(deliver(oscMessage("/ostrel/project/setName", ",s").string(name)),
                    ElementsAre("project.setName " + nlohmann::json{{"name", name}}.dump()))
            << name;
    }
}

TEST_F(OscServerTest, TrueAndFalseTagsCarryNoBytes) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/devices/setEnabled", ",ssT").string("4").string("d")),
                ElementsAre("devices.setEnabled {\"deviceId\":\"d\",\"enabled\":true,\"trackId\":\"4\"}"));
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setMuted", ",sF").string("4")),
                ElementsAre("tracks.setMuted {\"id\":\"4\",\"muted\":false}"));
}

TEST_F(OscServerTest, ArgumentsAreNeverConverted) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/setTempo", ",i").int32(120)), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setMuted", ",ss").string("2").string("T")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/devices/move", ",ssf").string("1").string("d").float32(2.0f)), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/remove", ",i").int32(2)), IsEmpty());
}

TEST_F(OscServerTest, OneArgumentTooManyOrTooFewMakesNoCall) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/play", ",i").int32(1)), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/rename", ",s").string("1")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/rename", ",sss").string("1").string("a").string("b")), IsEmpty());
}

TEST_F(OscServerTest, TrackNumbersAndIdsArePassedOnAsTheyCame) {
    // Numbers become ids on the application's side, which also refuses a number beyond the song.
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setSolo", ",sF").string("10")),
                ElementsAre("tracks.setSolo {\"id\":\"10\",\"solo\":false}"));
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setSolo", ",sF").string("999999999")),
                ElementsAre("tracks.setSolo {\"id\":\"999999999\",\"solo\":false}"));
    const std::string id = "0b6f3a52-6e0c-4c1e-9a53-2f1c0e7d9b11";
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setSolo", ",sT").string(id)),
                ElementsAre("tracks.setSolo {\"id\":\"" + id + "\",\"solo\":true}"));
}

// --- padding and what follows the last argument -----------------------------------------

TEST_F(OscServerTest, PaddingBytesMayHoldAnything) {
    // "/ostrel/tracks/rename" is 21 bytes: 3 padding bytes after its NUL; ",ss" has none
    // beyond its NUL; "1" has 2; "abcdef" has 1.
    const std::string datagram = OscBytes()
                                     .string("/ostrel/tracks/rename", '\xff')
                                     .string(",ss", 'x')
                                     .string("1", ',')
                                     .string("abcdef", '/')
                                     .bytes();
    ASSERT_EQ(datagram.size(), 24u + 4u + 4u + 8u);
    EXPECT_THAT(deliver(datagram), ElementsAre("tracks.rename {\"id\":\"1\",\"name\":\"abcdef\"}"));

    const std::string play = OscBytes().string("/ostrel/transport/play", 'P').string(",", '\x80').bytes();
    EXPECT_EQ(play.substr(22), std::string("\0P,\0\x80\x80", 6));
    EXPECT_THAT(deliver(play), ElementsAre("transport.play {}"));
}

TEST_F(OscServerTest, BytesAfterTheLastArgumentAreIgnored) {
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/play").raw("tail of something else")),
                ElementsAre("transport.play {}"));
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/setTempo", ",f").float32(90.0f).int32(7)),
                ElementsAre("transport.setTempo {\"bpm\":90.0}"));
}

// --- unusable datagrams --------------------------------------------------------------

TEST_F(OscServerTest, UnknownTypeTagsMakeTheWholeDatagramUnusable) {
    // A blob, a 64-bit integer, a double, a time tag, nil, impulse, a symbol, a char, an array.
    for (const char tag : std::string("bhdtNISc[]m")) {
        const std::string tags = std::string(",s") + tag;
        EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setMuted", tags).string("1").int32(4).int32(0).int32(0)),
                    IsEmpty())
            << tag;
    }
    // The same message with 'T' in that place is taken, so it was the letter that counted.
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/setMuted", ",sT").string("1").int32(4)),
                ElementsAre("tracks.setMuted {\"id\":\"1\",\"muted\":true}"));
}

TEST_F(OscServerTest, AMissingTypeTagStringMakesTheDatagramUnusable) {
    EXPECT_THAT(deliver(OscBytes().string("/ostrel/transport/play")), IsEmpty());
    // A second field that does not begin with ',' is no type tag string either.
    EXPECT_THAT(deliver(OscBytes().string("/ostrel/project/setName").string("Song")), IsEmpty());
    EXPECT_THAT(deliver(OscBytes().string("/ostrel/transport/play").string("")), IsEmpty());
}

TEST_F(OscServerTest, BundlesAreNotRead) {
    const std::string inner = oscMessage("/ostrel/transport/play");
    const std::string bundle = OscBytes()
                                   .string("#bundle")
                                   .int32(0)
                                   .int32(1)  // time tag: at once
                                   .int32(static_cast<std::int32_t>(inner.size()))
                                   .raw(inner)
                                   .bytes();
    EXPECT_THAT(deliver(bundle), IsEmpty());
}

TEST_F(OscServerTest, AnAddressMustBeginWithASlash) {
    EXPECT_THAT(deliver(oscMessage("ostrel/transport/play")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("")), IsEmpty());
}

TEST_F(OscServerTest, TruncatedDatagramsAreDropped) {
    const std::string rename = oscMessage("/ostrel/tracks/rename", ",ss").string("1").string("Lead Synth");
    const std::string tempo = oscMessage("/ostrel/transport/setTempo", ",f").float32(120.0f);
    const std::vector<std::string> cut = {
        rename.substr(0, rename.size() - 1),   // the name's padding is short
        rename.substr(0, rename.size() - 4),   // the name has no NUL
        rename.substr(0, 28),                  // the name is missing
        tempo.substr(0, tempo.size() - 1),     // 3 bytes of a float
        tempo.substr(0, 28),                   // the float is missing
        std::string("/ostrel/transport/play"),  // the address has no NUL
        std::string("/ostrel/transport/play\0\0,\0", 25),  // the tag string's padding is short
        std::string("/ab"),                    // fewer than 4 bytes
    };
    EXPECT_THAT(deliver(cut), IsEmpty());
    // The door goes on reading.
    EXPECT_THAT(deliver(rename), ElementsAre("tracks.rename {\"id\":\"1\",\"name\":\"Lead Synth\"}"));
}

// Regression: a datagram longer than the receive buffer used to arrive cut to its first
// 2,048 bytes, which can hold a whole message of their own.
TEST_F(OscServerTest, ADatagramLongerThanTheBufferIsDroppedWholeNotReadCut) {
    const std::string head = oscMessage("/ostrel/project/setName", ",s").string("Cut");
    std::string fits = head;
    fits.resize(OscServer::kMaxDatagramBytes, 'z');
    std::string tooLong = head;
    tooLong.resize(OscServer::kMaxDatagramBytes + 1, 'z');
    std::string muchTooLong = head;
    muchTooLong.resize(60000, 'z');
    EXPECT_THAT(deliver(fits), ElementsAre("project.setName {\"name\":\"Cut\"}"));
    EXPECT_THAT(deliver(tooLong), IsEmpty());
    EXPECT_THAT(deliver(muchTooLong), IsEmpty());
    // A long string that fits the buffer is read whole.
    const std::string name(2000, 'n');
    EXPECT_THAT(deliver(oscMessage("/ostrel/project/setName", ",s").string(name)),
                ElementsAre("project.setName {\"name\":\"" + name + "\"}"));
}

TEST_F(OscServerTest, AStringThatIsNotUtf8IsDroppedAndTheDoorKeepsReceiving) {
    // "Café" in a single-byte code page.
    EXPECT_THAT(deliver(oscMessage("/ostrel/project/setName", ",s").string("Caf\xe9")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/tracks/rename", ",ss").string("1").string("\xff\xfe")), IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/project/setName", ",s").string("Café")),
                ElementsAre("project.setName {\"name\":\"Café\"}"));
}

TEST_F(OscServerTest, ControlCharactersInAStringAreEscapedNotDropped) {
    const std::string name = "a\"b\\c\n\x01";
    EXPECT_THAT(deliver(oscMessage("/ostrel/project/setName", ",s").string(name)),
                ElementsAre("project.setName {\"name\":\"a\\\"b\\\\c\\n\\u0001\"}"));
}

TEST_F(OscServerTest, NothingIsLoggedForAnUnusableDatagram) {
    (void)deliver({oscMessage("/ostrel/transport/Play"), OscBytes().string("/ostrel/transport/play"),
                   oscMessage("/ostrel/transport/setTempo", ",i").int32(1), std::string(3000, 'x')});
    EXPECT_EQ(capture->lines().size(), 1u);
}

// --- the ring and the pump -------------------------------------------------------------

TEST_F(OscServerTest, WithSixtyFourCallsWaitingFurtherDatagramsAreDropped) {
    std::vector<std::string> datagrams;
    for (int i = 0; i < 70; ++i) {
        datagrams.push_back(oscMessage("/ostrel/devices/move", ",ssi").string("1").string("d").int32(i));
    }
    const std::uint64_t before = door->datagramsRead();
    for (const std::string& datagram : datagrams) {
        ASSERT_TRUE(sender.send(door->port(), datagram));
    }
    ASSERT_TRUE(test::waitForDatagrams(*door, before + datagrams.size()));
    EXPECT_EQ(door->waiting(), 64u);
    calls.clear();
    door->pump();
    ASSERT_EQ(calls.size(), 64u);
    EXPECT_EQ(calls.front(), "devices.move {\"deviceId\":\"d\",\"newIndex\":0,\"trackId\":\"1\"}");
    EXPECT_EQ(calls.back(), "devices.move {\"deviceId\":\"d\",\"newIndex\":63,\"trackId\":\"1\"}");
    // After the pump there is room again.
    EXPECT_THAT(deliver(datagrams[69]), ElementsAre("devices.move {\"deviceId\":\"d\",\"newIndex\":69,\"trackId\":\"1\"}"));
}

TEST_F(OscServerTest, WhateverTheHandlerThrowsIsDroppedAndTheNextCallsRunOn) {
    door->handler = [this](const std::string& method, const std::string& params) -> std::string {
        calls.push_back(method + " " + params);
        if (method == "tracks.remove") {
            throw ApiError(kInvalidParams, "no track has the id 9 (tracks.list shows the ids)");
        }
        if (method == "history.undo") {
            throw std::runtime_error("nothing to undo");
        }
        if (method == "history.redo") {
            throw 42;
        }
        return "{}";
    };
    EXPECT_THAT(deliver({oscMessage("/ostrel/tracks/remove", ",s").string("9"), oscMessage("/ostrel/history/undo"),
                         oscMessage("/ostrel/history/redo"), oscMessage("/ostrel/transport/play")}),
                ElementsAre("tracks.remove {\"id\":\"9\"}", "history.undo {}", "history.redo {}", "transport.play {}"));
    EXPECT_EQ(capture->lines().size(), 1u);
}

TEST_F(OscServerTest, APumpHandsOverOnlyTheCallsThatWaitedWhenItBegan) {
    bool sentDuringPump = false;
    door->handler = [&](const std::string& method, const std::string& params) {
        calls.push_back(method + " " + params);
        // A sender that keeps sending while the pump runs.
        if (!sentDuringPump) {
            sentDuringPump = true;
            const std::uint64_t before = door->datagramsRead();
            EXPECT_TRUE(sender.send(door->port(), oscMessage("/ostrel/transport/stop").bytes()));
            EXPECT_TRUE(test::waitForDatagrams(*door, before + 1));
        }
        return std::string("{}");
    };
    EXPECT_THAT(deliver({oscMessage("/ostrel/transport/play"), oscMessage("/ostrel/tracks/add")}),
                ElementsAre("transport.play {}", "tracks.add {}"));
    calls.clear();
    door->pump();
    EXPECT_THAT(calls, ElementsAre("transport.stop {}"));
}

// --- opening and closing ---------------------------------------------------------------

TEST_F(OscServerTest, OpeningAndClosingAreLogged) {
    const auto lines = capture->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, core::LogLevel::INFO);
    EXPECT_EQ(lines[0].category, "api_server");
    EXPECT_EQ(lines[0].message, "the OSC door is listening on 127.0.0.1:" + std::to_string(door->port()) + " (UDP)");
    EXPECT_TRUE(door->start(0));  // already open: nothing changes
    EXPECT_EQ(capture->lines().size(), 1u);
    door->stop();
    door->stop();
    EXPECT_EQ(capture->count("the OSC door is closed"), 1);
    EXPECT_FALSE(door->running());
}

TEST_F(OscServerTest, AClosedDoorPumpsNothingAndCanOpenAgain) {
    const std::uint64_t before = door->datagramsRead();
    ASSERT_TRUE(sender.send(door->port(), oscMessage("/ostrel/transport/play").bytes()));
    ASSERT_TRUE(test::waitForDatagrams(*door, before + 1));
    door->stop();
    calls.clear();
    door->pump();
    EXPECT_THAT(calls, IsEmpty());
    ASSERT_TRUE(door->start(0));
    // The call left from before the stop is not run after the new start.
    door->pump();
    EXPECT_THAT(calls, IsEmpty());
    EXPECT_THAT(deliver(oscMessage("/ostrel/transport/stop")), ElementsAre("transport.stop {}"));
}

TEST(OscServerStartTest, ADoorWithoutAHandlerDoesNotStart) {
    core::Logger logger;
    auto capture = std::make_shared<test::LogCapture>();
    logger.addSink(capture);
    auto door = std::make_unique<OscServer>(&logger);
    EXPECT_FALSE(door->start(0));
    EXPECT_FALSE(door->running());
    const auto lines = capture->lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].level, core::LogLevel::ERROR);
    EXPECT_EQ(lines[0].message, "the OSC server needs a handler before it starts");
}

TEST(OscServerStartTest, APortThatIsTakenIsRefusedAndMayBeTriedAgain) {
    core::Logger logger;
    auto capture = std::make_shared<test::LogCapture>();
    logger.addSink(capture);
    auto first = std::make_unique<OscServer>(nullptr);
    auto second = std::make_unique<OscServer>(&logger);
    first->handler = second->handler = [](const std::string&, const std::string&) { return std::string("{}"); };
    ASSERT_TRUE(first->start(0));
    const std::uint16_t taken = first->port();
    std::string why;
    EXPECT_FALSE(second->start(taken, &why));
    EXPECT_FALSE(second->running());
    EXPECT_EQ(why, "Address already in use; a program of the user " + core::userLabel(::geteuid()) + " holds it");
    EXPECT_EQ(capture->count("could not bind 127.0.0.1:" + std::to_string(taken) + " (UDP): " + why), 1);
    first->stop();
    EXPECT_TRUE(second->start(taken));
    EXPECT_EQ(second->port(), taken);
}

// --- the README's commands -----------------------------------------------------------------

// The README's examples word for word, but for the port: the test's door has one of its own.
bool oscsendInstalled() { return std::system("command -v oscsend >/dev/null 2>&1") == 0; }

int oscsend(std::uint16_t port, const std::string& rest) {
    return std::system(("oscsend localhost " + std::to_string(port) + " " + rest + " >/dev/null 2>&1").c_str());
}

TEST_F(OscServerTest, TheReadmesOscsendCommandsDriveTheDoor) {
    if (!oscsendInstalled()) {
        GTEST_SKIP() << "oscsend (liblo-tools) is not installed";
    }
    const std::uint64_t before = door->datagramsRead();
    ASSERT_EQ(oscsend(door->port(), "/ostrel/transport/play"), 0);
    ASSERT_EQ(oscsend(door->port(), "/ostrel/transport/setTempo f 128"), 0);
    ASSERT_EQ(oscsend(door->port(), "/ostrel/tracks/setMuted sT 2"), 0);
    ASSERT_EQ(oscsend(door->port(), "/ostrel/tracks/rename ss 1 Bass"), 0);
    ASSERT_TRUE(test::waitForDatagrams(*door, before + 4));
    calls.clear();
    door->pump();
    EXPECT_THAT(calls, ElementsAre("transport.play {}", "transport.setTempo {\"bpm\":128.0}",
                                   "tracks.setMuted {\"id\":\"2\",\"muted\":true}",
                                   "tracks.rename {\"id\":\"1\",\"name\":\"Bass\"}"));
}

}  // namespace
}  // namespace ostrel::api_server
