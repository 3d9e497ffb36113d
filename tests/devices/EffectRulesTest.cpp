// Rules every effect keeps, checked on all five through the catalogue.

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "EffectHarness.h"
#include "devices/DeviceCatalog.h"
#include "devices/EffectPresets.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using test::runEffect;
using test::Stereo;

std::vector<float> noise(int frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    std::vector<float> v(static_cast<std::size_t>(frames));
    for (float& x : v) x = dist(rng);
    return v;
}

std::unique_ptr<DeviceNode> prepared(const std::string& typeId, double rate) {
    std::unique_ptr<DeviceNode> fx = createDevice(typeId);
    fx->prepare(rate);
    return fx;
}

class EffectRules : public ::testing::TestWithParam<std::string> {};

TEST_P(EffectRules, ProcessNeverAllocatesOrFreesEvenWhileKnobsRamp) {
    std::unique_ptr<DeviceNode> fx = prepared(GetParam(), 48000);
    AudioBuffer in(2, 256), out(2, 256);
    const std::vector<float> signal = noise(512, 1);
    std::copy(signal.begin(), signal.end(), in.data.begin());
    std::vector<Event> events;
    for (std::uint32_t k = 0; k < fx->params.count(); ++k) {
        Event e;
        e.type = EventType::ParamChange;
        e.param = k;
        e.value = fx->params.descriptors()[k].max;
        e.rampFrames = k % 2 == 0 ? 300 : 0;
        events.push_back(e);
    }
    const AudioBuffer* inputs[] = {&in};
    test::AllocationCounter counter;
    for (int block = 0; block < 8; ++block) {
        ProcessContext ctx;
        ctx.frames = 256;
        ctx.sampleRate = 48000;
        if (block == 0) ctx.events = events;
        fx->process(ctx, inputs, out);
    }
    fx->process(ProcessContext{}, {}, out);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

TEST_P(EffectRules, OutputChannelsBeyondTheSecondAreNeverWritten) {
    std::unique_ptr<DeviceNode> fx = prepared(GetParam(), 48000);
    AudioBuffer in(2, 128), out(3, 128);
    const std::vector<float> signal = noise(256, 2);
    std::copy(signal.begin(), signal.end(), in.data.begin());
    std::fill(out.data.begin(), out.data.end(), 0.125f);
    ProcessContext ctx;
    ctx.frames = 128;
    const AudioBuffer* inputs[] = {&in};
    fx->process(ctx, inputs, out);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(out.channel(2)[i], 0.125f) << i;
}

TEST_P(EffectRules, ResultDoesNotDependOnTheBlockSize) {
    for (double rate : test::kRates) {
        const Stereo in{noise(9000, 3), noise(9000, 4)};
        std::unique_ptr<DeviceNode> big = prepared(GetParam(), rate);
        std::unique_ptr<DeviceNode> small = prepared(GetParam(), rate);
        std::unique_ptr<DeviceNode> ragged = prepared(GetParam(), rate);
        const Stereo reference = runEffect(*big, in, rate, 1024);
        EXPECT_EQ(runEffect(*small, in, rate, 64).left, reference.left) << rate;
        const Stereo mixed = runEffect(*ragged, in, rate, std::vector<int>{1, 700, 33, 128, 5, 511});
        EXPECT_EQ(mixed.left, reference.left) << rate;
        EXPECT_EQ(mixed.right, reference.right) << rate;
    }
}

TEST_P(EffectRules, OneOutputChannelGetsWhatTheLeftSideWouldHave) {
    const Stereo mono{noise(3000, 5), {}};
    std::unique_ptr<DeviceNode> stereoFx = prepared(GetParam(), 48000);
    const Stereo reference = runEffect(*stereoFx, mono, 48000, 300);

    std::unique_ptr<DeviceNode> fx = prepared(GetParam(), 48000);
    AudioBuffer in(1, 300), out(1, 300);
    std::vector<float> left;
    for (int start = 0; start < 3000; start += 300) {
        std::copy_n(mono.left.begin() + start, 300, in.data.begin());
        ProcessContext ctx;
        ctx.frames = 300;
        const AudioBuffer* inputs[] = {&in};
        fx->process(ctx, inputs, out);
        left.insert(left.end(), out.data.begin(), out.data.end());
    }
    EXPECT_EQ(left, reference.left);
}

TEST_P(EffectRules, AnEmptyBlockOrAChannellessOutputChangesNothing) {
    std::unique_ptr<DeviceNode> fx = prepared(GetParam(), 48000);
    AudioBuffer in(2, 64), out(2, 64);
    std::fill(in.data.begin(), in.data.end(), 0.5f);
    std::fill(out.data.begin(), out.data.end(), 0.25f);
    const AudioBuffer* inputs[] = {&in};
    ProcessContext empty;
    empty.frames = 0;
    fx->process(empty, inputs, out);
    for (float v : out.data) ASSERT_EQ(v, 0.25f);
    AudioBuffer none(0, 64);
    ProcessContext ctx;
    ctx.frames = 64;
    fx->process(ctx, inputs, none);
    EXPECT_TRUE(none.data.empty());
}

TEST_P(EffectRules, PrepareAndResetKeepTheKnobs) {
    std::unique_ptr<DeviceNode> fx = createDevice(GetParam());
    const ParamDescriptor& row = fx->params.descriptors()[0];
    const float value = (row.min + row.max) / 2;
    fx->params.setValue(0, value);
    fx->prepare(44100);
    fx->reset();
    fx->prepare(96000);
    EXPECT_EQ(fx->params.value(0), value);
}

INSTANTIATE_TEST_SUITE_P(AllEffects, EffectRules, ::testing::ValuesIn(effectTypeIds()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param.substr(info.param.find('.') + 1);
                         });

}  // namespace
}  // namespace ostrel::engine
