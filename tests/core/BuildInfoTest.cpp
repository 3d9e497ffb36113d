#include "core/BuildInfo.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ostrel::core::appVersion;
using ostrel::core::buildInfo;

TEST(BuildInfoTest, VersionTextFollowsTheNumbersAndAppVersionAppendsTheShortCommit) {
    const auto& info = buildInfo();
    std::string expected =
        std::to_string(info.major) + "." + std::to_string(info.minor) + "." + std::to_string(info.patch);
    if (!info.prerelease.empty()) {
        expected += "-" + std::string(info.prerelease);
    }
    EXPECT_EQ(info.version, expected);
    EXPECT_EQ(appVersion(), expected + "+" + std::string(info.commit));
    EXPECT_THAT(std::string(info.commit), ::testing::MatchesRegex("[0-9a-f]{7}|unknown"));
}
