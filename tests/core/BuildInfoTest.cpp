#include "core/BuildInfo.h"

#include <gtest/gtest.h>

#include <algorithm>

using ostrel::core::appVersion;
using ostrel::core::buildInfo;

TEST(BuildInfoTest, VersionTextFollowsTheNumbersAndTag) {
    const auto& info = buildInfo();
    std::string expected = std::to_string(info.major) + "." + std::to_string(info.minor) + "." +
                           std::to_string(info.patch);
    if (!info.prerelease.empty()) {
        expected += "-" + std::string(info.prerelease);
    }
    EXPECT_EQ(info.version, expected);
}

TEST(BuildInfoTest, AppVersionAppendsTheCommit) {
    const auto& info = buildInfo();
    EXPECT_EQ(appVersion(), std::string(info.version) + "+" + std::string(info.commit));
    const std::string commit(info.commit);
    const bool shortId = commit.size() == 7 && std::all_of(commit.begin(), commit.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
    EXPECT_TRUE(shortId || commit == "unknown") << commit;
}
