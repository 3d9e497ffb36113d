#include "model/Uuid.h"

#include <gtest/gtest.h>

#include <set>

namespace ostrel::model {
namespace {

constexpr const char* kNilText = "00000000-0000-0000-0000-000000000000";

TEST(UuidText, NilIdIsAllZeroDigits) {
    Uuid parsed = Uuid::generate();
    ASSERT_TRUE(Uuid::parse(kNilText, parsed));
    EXPECT_EQ(parsed, Uuid{});
    EXPECT_TRUE(parsed.isNil());
    EXPECT_EQ(Uuid{}.toString(), kNilText);
}

TEST(UuidText, UpperCaseParsesAndPrintsLowerCase) {
    Uuid id;
    ASSERT_TRUE(Uuid::parse("0A1B2C3D-4E5F-4a6B-8c7D-9E0fA1B2C3D4", id));
    EXPECT_EQ(id.toString(), "0a1b2c3d-4e5f-4a6b-8c7d-9e0fa1b2c3d4");
}

TEST(UuidText, GeneratedIdsRoundTripThroughText) {
    for (int i = 0; i < 200; ++i) {
        const Uuid id = Uuid::generate();
        Uuid back;
        ASSERT_TRUE(Uuid::parse(id.toString(), back));
        EXPECT_EQ(back, id);
    }
}

TEST(UuidText, RejectsMalformedTexts) {
    const char* bad[] = {
        "",
        "00000000000000000000000000000000",                // no dashes
        "{00000000-0000-0000-0000-000000000000}",          // braces
        "urn:uuid:00000000-0000-0000-0000-000000000000",   // prefix
        "0000000-00000-0000-0000-000000000000",            // dash one place early
        "000000000-000-0000-0000-000000000000",            // dash one place late
        "00000000-0000-0000-0000-00000000000-",            // dash in a digit place
        "-0000000-0000-0000-0000-000000000000",            // dash at the start
        "00000000-0000-0000-0000-00000000000g",            // not a hex digit
        "g0000000-0000-0000-0000-000000000000",
        " 00000000-0000-0000-0000-00000000000",            // nothing is trimmed
        "00000000-0000-0000-0000-0000000000000",           // 37 characters
    };
    for (const char* text : bad) {
        const Uuid before = Uuid::generate();
        Uuid out = before;
        EXPECT_FALSE(Uuid::parse(text, out)) << text;
        EXPECT_EQ(out, before) << "a failed parse must leave out alone: " << text;
    }
}

TEST(UuidGenerate, SetsVersionFourAndTheRfcVariant) {
    for (int i = 0; i < 1000; ++i) {
        const std::string text = Uuid::generate().toString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
    }
}

TEST(UuidGenerate, IdsAreDistinctAndNotNil) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid id = Uuid::generate();
        EXPECT_FALSE(id.isNil());
        EXPECT_TRUE(seen.insert(id).second);
    }
}

TEST(UuidOrder, SortsByteByByteAsUnsigned) {
    Uuid low;
    Uuid high;
    ASSERT_TRUE(Uuid::parse("01ffffff-ffff-ffff-ffff-ffffffffffff", low));
    ASSERT_TRUE(Uuid::parse("80000000-0000-0000-0000-000000000000", high));
    EXPECT_LT(low, high);
    EXPECT_FALSE(high < low);
    EXPECT_NE(low, high);

    Uuid lastByte;
    ASSERT_TRUE(Uuid::parse("00000000-0000-0000-0000-000000000001", lastByte));
    EXPECT_LT(Uuid{}, lastByte);
}

}  // namespace
}  // namespace ostrel::model
