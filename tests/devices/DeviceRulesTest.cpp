// The rules every device keeps in `process`, checked once over the whole catalogue.

#include "DeviceHarness.h"
#include "devices/DeviceCatalog.h"
#include "devices/SamplerNode.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using namespace harness;

// Every row of the catalogue, driven by notes, four busy input signals and a stereo
// first input, so modules and effects run through the same checks.
class EveryDevice : public testing::TestWithParam<std::string> {
protected:
    static constexpr int kFrames = 4096;

    void SetUp() override {
        device_ = createDevice(GetParam());
        if (auto* sampler = dynamic_cast<SamplerNode*>(device_.get())) {
            sampler->sample = std::make_shared<AudioData>(AudioData{.samples = sine(300.0, 44100.0, 3000, 0.5f),
                                                                    .channels = 1, .sampleRate = 44100.0, .frames = 3000});
            setKnob(*sampler, "loop", 1);
        }
        for (int k = 0; k < 5; ++k) signals_[k] = sine(3.0 + 50.0 * k, 48000.0, kFrames, 0.9f);
        render_ = {.channels = 2, .inputs = {&signals_[0], &signals_[1], &signals_[2], &signals_[3]}, .right = &signals_[4],
                   .events = {noteOn(0, 60), noteOn(700, 67, 90), noteOff(1500, 67), pitchBend(1600, -0.5f),
                              noteOff(2500, 60), noteOn(3000, 48)}};
    }

    // Prepares only for a new rate: otherwise reset alone must bring back the start.
    std::vector<Signal> run(std::vector<int> blocks, double rate) {
        if (rate != preparedRate_) device_->prepare(rate);
        preparedRate_ = rate;
        device_->reset();  // noise reseeds only here
        Render r = render_;
        r.rate = rate;
        r.blocks = std::move(blocks);
        return renderChannels(*device_, kFrames, r);
    }

    std::unique_ptr<DeviceNode> device_;
    double preparedRate_ = 0.0;
    Signal signals_[5];
    Render render_;
};

TEST_P(EveryDevice, OutputDoesNotDependOnTheBlockSizeAtAnyRateAndResetForgetsThePast) {
    for (double rate : kRates) {
        const auto whole = run({kFrames}, rate);
        EXPECT_GT(peak(whole[0], 0, kFrames), 0.0) << rate;
        EXPECT_EQ(run({64}, rate), whole) << rate;
        EXPECT_EQ(run({1, 700, 13, 512, 100}, rate), whole) << rate;
    }
}

TEST_P(EveryDevice, ProcessNeverAllocatesOrFreesEvenWhileKnobsRamp) {
    device_->prepare(48000.0);
    AudioBuffer in(2, 512), out(2, 512);
    std::copy_n(signals_[0].begin(), 1024, in.data.begin());
    const AudioBuffer* inputs[] = {&in, &in, &in, &in};
    std::vector<Event> events = {noteOn(0, 60).event, pitchBend(0, 0.3f).event, noteOff(0, 60).event};
    events[2].frameOffset = 300;
    for (std::uint32_t k = 0; k < device_->params.count(); ++k)
        events.push_back(Event{.type = EventType::ParamChange, .param = k, .value = device_->params.descriptors()[k].max,
                               .rampFrames = k % 2 == 0 ? 300 : 0});
    ProcessContext ctx;
    ctx.frames = 512;
    ctx.events = events;
    test::AllocationCounter counter;
    for (int block = 0; block < 8; ++block, ctx.events = {}) device_->process(ctx, inputs, out);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

std::vector<std::string> allTypeIds() {
    std::vector<std::string> ids;
    for (const DeviceInfo& info : listDevices()) ids.push_back(info.typeId);
    return ids;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryDevice, testing::ValuesIn(allTypeIds()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return info.param.substr(info.param.rfind('.') + 1);
                         });

}  // namespace
}  // namespace ostrel::engine
