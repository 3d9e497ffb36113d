#include "model/document/Uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ModelTestSupport.h"

namespace ostrel::model {
namespace {

using test::idFromText;

TEST(UuidText, NilGeneratedAndUpperCaseIdsRoundTripThroughText) {
    Uuid nil = Uuid::generate();
    ASSERT_TRUE(Uuid::parse("00000000-0000-0000-0000-000000000000", nil));
    EXPECT_TRUE(nil.isNil());
    EXPECT_EQ(Uuid{}.toString(), "00000000-0000-0000-0000-000000000000");
    for (int i = 0; i < 200; ++i) {
        const Uuid id = Uuid::generate();
        Uuid back;
        ASSERT_TRUE(Uuid::parse(id.toString(), back));
        EXPECT_EQ(back, id);
    }
    EXPECT_EQ(idFromText("0A1B2C3D-4E5F-4a6B-8c7D-9E0fA1B2C3D4").toString(), "0a1b2c3d-4e5f-4a6b-8c7d-9e0fa1b2c3d4")
        << "either case parses; the text is lower case";
}

TEST(UuidText, RejectsMalformedTextsAndLeavesOutAlone) {
    const char* bad[] = {
        "",
        "00000000000000000000000000000000",               // no dashes
        "{00000000-0000-0000-0000-000000000000}",         // braces
        "0000000-00000-0000-0000-000000000000",           // dash one place early
        "000000000-000-0000-0000-000000000000",           // dash one place late
        "00000000-0000-0000-0000-00000000000-",           // dash in a digit place
        "00000000-0000-0000-0000-00000000000g",           // not a hex digit
        " 00000000-0000-0000-0000-00000000000",           // nothing is trimmed
        "00000000-0000-0000-0000-0000000000000",          // 37 characters
    };
    for (const char* text : bad) {
        const Uuid before = Uuid::generate();
        Uuid out = before;
        EXPECT_FALSE(Uuid::parse(text, out)) << text;
        EXPECT_EQ(out, before) << text;
    }
}

TEST(UuidGenerate, IdsAreDistinctVersionFourWithTheRfcVariant) {
    std::set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid id = Uuid::generate();
        const std::string text = id.toString();
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
        EXPECT_TRUE(seen.insert(id).second);
    }
}

// Equality compares the id in words; a difference in any single byte must still count.
TEST(UuidEquality, IdsDifferingInAnyOneHexDigitAreUnequal) {
    const std::string nilText = "00000000-0000-0000-0000-000000000000";
    const Uuid nil;
    for (std::size_t i = 0; i < nilText.size(); ++i) {
        if (nilText[i] == '-') continue;
        std::string text = nilText;
        text[i] = 'f';
        const Uuid one = idFromText(text);
        EXPECT_NE(one, nil) << text;
        EXPECT_FALSE(one == nil) << text;
        EXPECT_EQ(one, idFromText(text)) << text;
    }
    EXPECT_EQ(nil, idFromText(nilText));
}

TEST(UuidOrder, SortsByteByByteAsUnsigned) {
    EXPECT_LT(idFromText("01ffffff-ffff-ffff-ffff-ffffffffffff"), idFromText("80000000-0000-0000-0000-000000000000"));
    EXPECT_LT(Uuid{}, idFromText("00000000-0000-0000-0000-000000000001"));
}

}  // namespace
}  // namespace ostrel::model
