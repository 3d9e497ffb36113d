#include "app/files/FileNames.h"

#include <gtest/gtest.h>

#include <string>

using namespace ostrel::app;

// Regression: Qt turned a byte that is not UTF-8 into U+FFFD, and that text named another file.
TEST(PathTextTest, EveryNameComesBackAsTheSameBytes) {
    const std::string names[] = {
        "/d/plain",
        "/d/caf\xc3\xa9",           // valid UTF-8
        "/d/caf\xe9",               // Latin-1
        "/d/\xef\xbf\xbd",          // a real U+FFFD
        "/d/\xf0\x9f\x8e\xb9/\xff", // four bytes, then a byte no UTF-8 has
        "/d/\xc3",                  // a sequence cut short
        "/d/\xed\xb3\xa9",          // an encoded surrogate, which UTF-8 forbids
    };
    for (const std::string& name : names) {
        EXPECT_EQ(pathBytes(pathText(name)).native(), name) << name;
    }
    EXPECT_EQ(pathText(std::string("/d/caf\xc3\xa9")), QString::fromUtf8("/d/caf\xc3\xa9"));
    EXPECT_EQ(pathText(std::string("/d/caf\xe9")).size(), 7);
}
