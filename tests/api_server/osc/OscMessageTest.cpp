#include "api_server/osc/OscMessage.h"
#include "api_server/osc/OscRoute.h"

#include "OscTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace ostrel::api_server {
namespace {

using test::OscBytes;
using test::oscMessage;

std::optional<OscMessage> parse(const std::string& bytes) { return parseOscMessage(bytes.data(), bytes.size()); }

TEST(OscMessageTest, Int32IsReadBigEndianAndSigned) {
    EXPECT_EQ(readInt32BE("\x00\x00\x00\x01"), 1);
    EXPECT_EQ(readInt32BE("\x01\x02\x03\x04"), 0x01020304);
    EXPECT_EQ(readInt32BE("\xff\xff\xff\xfe"), -2);
    EXPECT_EQ(readInt32BE("\x80\x00\x00\x00"), INT32_MIN);
}

TEST(OscMessageTest, APaddedStringMayEndExactlyAtTheEnd) {
    const std::string bytes("abc\0defg\0\0\0\0", 12);
    std::size_t offset = 0;
    std::string out;
    ASSERT_TRUE(readPaddedString(bytes.data(), bytes.size(), offset, out));
    EXPECT_EQ(out, "abc");
    EXPECT_EQ(offset, 4u);
    ASSERT_TRUE(readPaddedString(bytes.data(), bytes.size(), offset, out));
    EXPECT_EQ(out, "defg");
    EXPECT_EQ(offset, 12u);
    EXPECT_FALSE(readPaddedString(bytes.data(), bytes.size(), offset, out));  // nothing left
    EXPECT_EQ(offset, 12u);
}

TEST(OscMessageTest, APaddedStringFailsWithoutItsNulOrItsPadding) {
    std::string out = "kept";
    std::size_t offset = 0;
    EXPECT_FALSE(readPaddedString("abcd", 4, offset, out));  // no NUL
    EXPECT_FALSE(readPaddedString("abcd\0\0", 6, offset, out));  // padding runs past the end
    EXPECT_EQ(offset, 0u);
    EXPECT_EQ(out, "kept");
    offset = 7;
    EXPECT_FALSE(readPaddedString("abc\0", 4, offset, out));
    offset = 0;
    EXPECT_FALSE(readPaddedString(nullptr, 4, offset, out));
}

TEST(OscMessageTest, FieldsThatDoNotBelongToTheTypeStayEmpty) {
    const auto message = parse(oscMessage("/x", ",ifsTF").int32(-7).float32(1.5f).string("hi"));
    ASSERT_TRUE(message);
    EXPECT_EQ(message->address, "/x");
    ASSERT_EQ(message->args.size(), 5u);
    const OscArg& i = message->args[0];
    EXPECT_EQ(i.type, OscType::Int32);
    EXPECT_EQ(i.intValue, -7);
    EXPECT_EQ(i.floatValue, 0.0f);
    EXPECT_TRUE(i.text.empty());
    EXPECT_FALSE(i.boolValue);
    const OscArg& f = message->args[1];
    EXPECT_EQ(f.type, OscType::Float32);
    EXPECT_EQ(f.floatValue, 1.5f);
    EXPECT_EQ(f.intValue, 0);
    const OscArg& s = message->args[2];
    EXPECT_EQ(s.type, OscType::String);
    EXPECT_EQ(s.text, "hi");
    EXPECT_EQ(s.intValue, 0);
    EXPECT_EQ(message->args[3].type, OscType::Bool);
    EXPECT_TRUE(message->args[3].boolValue);
    EXPECT_EQ(message->args[4].type, OscType::Bool);
    EXPECT_FALSE(message->args[4].boolValue);
    EXPECT_EQ(static_cast<std::uint32_t>(OscType::Bool), 3u);
}

TEST(OscMessageTest, AnyAddressBeginningWithASlashParsesEvenWithoutARoute) {
    const auto message = parse(oscMessage("/synth/1/cutoff", ",f").float32(0.5f));
    ASSERT_TRUE(message);
    EXPECT_FALSE(oscToRequest(*message));
}

TEST(OscMessageTest, TheRouteTableHoldsTwentyDistinctAddressesUnderTheProgramsName) {
    std::set<std::string> addresses;
    for (const OscRoute& route : oscRoutes()) {
        EXPECT_EQ(std::string(route.address).rfind("/ostrel/", 0), 0u) << route.address;
        EXPECT_EQ(std::strspn(route.typeTags, "ifsb"), std::strlen(route.typeTags)) << route.address;
        addresses.insert(route.address);
    }
    EXPECT_EQ(oscRoutes().size(), 20u);
    EXPECT_EQ(addresses.size(), 20u);
}

TEST(OscMessageTest, EveryRouteBuildsAnObjectWithOneMemberPerArgument) {
    for (const OscRoute& route : oscRoutes()) {
        OscMessage message{route.address, {}};
        for (const char* letter = route.typeTags; *letter != '\0'; ++letter) {
            OscArg arg;
            arg.type = *letter == 'i' ? OscType::Int32
                       : *letter == 'f' ? OscType::Float32
                       : *letter == 's' ? OscType::String
                                        : OscType::Bool;
            message.args.push_back(arg);
        }
        const auto request = oscToRequest(message);
        ASSERT_TRUE(request) << route.address;
        EXPECT_EQ(request->method, route.method);
        ASSERT_TRUE(request->params.is_object());
        EXPECT_EQ(request->params.size(), std::strlen(route.typeTags)) << route.address;
    }
}

}  // namespace
}  // namespace ostrel::api_server
