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
    void process(const ProcessContext& context, std::span<const AudioBuffer* const>, AudioBuffer&) override {
        params.applyEvents(context.events, context.frames);
    }
};

TEST(DeviceNodeFindParameter, FindsTheRowOfAnExactId) {
    EchoDevice echo;
    std::uint32_t index = 99;
    EXPECT_TRUE(echo.findParameter("feedback", index));
    EXPECT_EQ(index, 1u);
    EXPECT_TRUE(echo.findParameter("time_ms", index));
    EXPECT_EQ(index, 0u);
}

TEST(DeviceNodeFindParameter, OtherCaseAndUnknownIdsLeaveTheIndexAlone) {
    EchoDevice echo;
    std::uint32_t index = 99;
    EXPECT_FALSE(echo.findParameter("Time_ms", index));
    EXPECT_FALSE(echo.findParameter("cutoff_hz", index));
    EXPECT_FALSE(echo.findParameter(nullptr, index));
    EXPECT_EQ(index, 99u);
}

TEST(DeviceNodeParams, StartAtTheTableDefaultsAndFollowEvents) {
    EchoDevice echo;
    EXPECT_EQ(echo.params.value(0), 350.0f);
    Event event;
    event.type = EventType::ParamChange;
    event.param = 2;
    event.value = 0.7f;
    AudioBuffer out(1, 64);
    echo.process(ProcessContext{64, 48000.0, 0, false, 120.0, 4, {&event, 1}}, {}, out);
    EXPECT_EQ(echo.params.value(2), 1.0f);
}

}  // namespace
}  // namespace ostrel::engine
