#include "engine/DeviceNode.h"

#include <gtest/gtest.h>

#include <array>

namespace ostrel::engine {
namespace {

constexpr std::array<ParamDescriptor, 3> kEchoTable{{
    {0, "time_ms", "Time", "ms", 1.0f, 2000.0f, 350.0f, ParamKind::Continuous, "Delay time."},
    {1, "feedback", "Feedback", "", 0.0f, 0.95f, 0.4f, ParamKind::Continuous, "Repeats."},
    {2, "sync", "Sync", "", 0.0f, 1.0f, 0.0f, ParamKind::OnOff, "Follow the tempo."},
}};

class EchoDevice : public DeviceNode {
public:
    EchoDevice() : DeviceNode(kEchoTable) {}
    const char* typeId() const override { return "test.echo"; }
    const char* displayName() const override { return "Echo"; }
    void process(const ProcessContext&, std::span<const AudioBuffer* const>, AudioBuffer&) override {}
};

TEST(DeviceNodeFindParameter, FindsExactIdsOnlyAndLeavesTheIndexAloneOtherwise) {
    EchoDevice echo;
    std::uint32_t index = 99;
    EXPECT_TRUE(echo.findParameter("feedback", index));
    EXPECT_EQ(index, 1u);
    for (const char* id : {"Time_ms", "cutoff_hz", static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(echo.findParameter(id, index));
    }
    EXPECT_EQ(index, 1u);
    EXPECT_EQ(echo.params.value(0), 350.0f);
}

}  // namespace
}  // namespace ostrel::engine
