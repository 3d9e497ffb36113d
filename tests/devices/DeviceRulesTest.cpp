#include "devices/DeviceRules.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ModuleHarness.h"
#include "devices/DeviceCatalog.h"
#include "devices/SamplerNode.h"
#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::mod;
using rules::NoteAction;

struct Taken {
    NoteAction action;
    int note;
    int frame;
};

std::vector<Taken> walk(std::span<const Event> events, int voice, int note, rules::Bend bend, int frames) {
    rules::NoteCursor cursor(events, voice, note, bend);
    std::vector<Taken> taken;
    for (int i = 0; i < frames; ++i)
        cursor.takeDue(i, [&](NoteAction a, const Event& e) { taken.push_back({a, e.note, i}); });
    cursor.takeRest([&](NoteAction a, const Event& e) { taken.push_back({a, e.note, frames}); });
    return taken;
}

Event at(Timed t) {
    t.event.frameOffset = static_cast<std::uint32_t>(t.frame);
    return t.event;
}

TEST(NoteCursor, TakesEachEventAtItsFrameInOrder) {
    const Event events[] = {at(noteOn(0, 60)), at(noteOn(0, 62)), at(noteOff(5, 60)), at(noteOn(9, 64))};
    const std::vector<Taken> taken = walk(events, -1, -1, rules::Bend::Ignore, 10);
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken[0].note, 60);
    EXPECT_EQ(taken[1].note, 62);
    EXPECT_EQ(taken[2].action, NoteAction::NoteOff);
    EXPECT_EQ(taken[2].frame, 5);
    EXPECT_EQ(taken[3].frame, 9);
}

TEST(NoteCursor, NoteOnWithVelocityZeroIsANoteOff) {
    const Event events[] = {at(noteOn(0, 60, 0))};
    const std::vector<Taken> taken = walk(events, -1, -1, rules::Bend::Ignore, 4);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].action, NoteAction::NoteOff);
}

TEST(NoteCursor, VoiceAndNoteFiltersDropOtherNotes) {
    const Event events[] = {at(noteOn(0, 36, 100, 1)), at(noteOn(0, 36, 100, 2)), at(noteOn(0, 38, 100, 2))};
    EXPECT_EQ(walk(events, 2, -1, rules::Bend::Ignore, 1).size(), 2u);
    EXPECT_EQ(walk(events, -1, 36, rules::Bend::Ignore, 1).size(), 2u);
    const std::vector<Taken> both = walk(events, 2, 38, rules::Bend::Ignore, 1);
    ASSERT_EQ(both.size(), 1u);
    EXPECT_EQ(both[0].note, 38);
}

TEST(NoteCursor, PitchBendPassesNoFilterAndOnlyWhenAsked) {
    const Event events[] = {at(pitchBend(0, 0.5f, 7))};
    EXPECT_TRUE(walk(events, 2, 36, rules::Bend::Ignore, 1).empty());
    const std::vector<Taken> taken = walk(events, 2, 36, rules::Bend::Take, 1);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].action, NoteAction::PitchBend);
}

TEST(NoteCursor, IgnoresControlAndParameterChanges) {
    Event cc{};
    cc.type = EventType::ControlChange;
    Event param{};
    param.type = EventType::ParamChange;
    const Event events[] = {cc, param};
    EXPECT_TRUE(walk(events, -1, -1, rules::Bend::Take, 1).empty());
}

TEST(NoteCursor, EventsBeyondTheBlockAreTakenAtItsEnd) {
    const Event events[] = {at(noteOff(100, 60))};
    const std::vector<Taken> taken = walk(events, -1, -1, rules::Bend::Ignore, 10);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].frame, 10);
}

TEST(DeviceInputs, PluggedMeansPresentAndNotNull) {
    AudioBuffer a(1, 16);
    const AudioBuffer* list[] = {&a, nullptr};
    EXPECT_TRUE(rules::isPlugged(list, 0));
    EXPECT_FALSE(rules::isPlugged(list, 1));
    EXPECT_FALSE(rules::isPlugged(list, 2));
    EXPECT_FALSE(rules::isPlugged({}, 0));
}

TEST(DeviceInputs, AnInputShorterThanTheBlockReadsAsUnplugged) {
    AudioBuffer shortBuffer(1, 8);
    AudioBuffer empty(0, 64);
    const AudioBuffer* list[] = {&shortBuffer, &empty};
    EXPECT_EQ(rules::inputSignal(list, 0, 16), nullptr);
    EXPECT_NE(rules::inputSignal(list, 0, 8), nullptr);
    EXPECT_EQ(rules::inputSignal(list, 1, 8), nullptr);
}

TEST(DeviceInputs, MonoEffectInputFeedsBothSides) {
    AudioBuffer mono(1, 16);
    AudioBuffer stereo(2, 16);
    const AudioBuffer* m[] = {&mono};
    const AudioBuffer* s[] = {&stereo};
    EXPECT_EQ(rules::stereoInput(m, 16).right, mono.channel(0));
    EXPECT_EQ(rules::stereoInput(s, 16).right, stereo.channel(1));
    EXPECT_EQ(rules::stereoInput({}, 16).left, nullptr);
}

// Every modular row of the catalogue, driven by notes and four busy input signals.
class EveryModule : public testing::TestWithParam<std::string> {
protected:
    static constexpr int kFrames = 4096;

    void SetUp() override {
        device_ = createDevice(GetParam());
        ASSERT_NE(device_, nullptr);
        if (auto* sampler = dynamic_cast<SamplerNode*>(device_.get())) {
            auto sound = std::make_shared<AudioData>();
            sound->channels = 1;  // a stereo sound keeps its sides
            sound->sampleRate = 44100.0;
            sound->frames = 3000;
            sound->samples = sine(300.0, 44100.0, 3000, 0.5f);
            sampler->sample = sound;
            setKnob(*sampler, "loop", 1);
        }
        for (int k = 0; k < 4; ++k) signals_[k] = sine(3.0 + 50.0 * k, 48000.0, kFrames, 0.9f);
        render_.inputs = {&signals_[0], &signals_[1], &signals_[2], &signals_[3]};
        render_.events = {noteOn(0, 60), noteOn(700, 67, 90), noteOff(1500, 67), pitchBend(1600, -0.5f),
                          noteOff(2500, 60), noteOn(3000, 48)};
    }

    std::vector<std::vector<float>> run(std::vector<int> blocks, int channels = 1) {
        device_->prepare(48000.0);
        device_->reset();  // noise reseeds only here
        Render r = render_;
        r.blocks = std::move(blocks);
        r.channels = channels;
        return renderChannels(*device_, kFrames, r);
    }

    std::unique_ptr<DeviceNode> device_;
    std::vector<float> signals_[4];
    Render render_;
};

TEST_P(EveryModule, WritesTheSameSignalToEveryChannel) {
    const auto out = run({512}, 3);
    EXPECT_GT(peak(out[0], 0, kFrames), 0.0);
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(out[2], out[0]);
}

TEST_P(EveryModule, OutputDoesNotDependOnTheBlockSize) {
    const auto whole = run({kFrames});
    EXPECT_EQ(run({64}), whole);
    EXPECT_EQ(run({1, 13, 512, 100}), whole);
}

TEST_P(EveryModule, InputListOfOneNullIsLikeNothingPluggedIn) {
    device_->prepare(48000.0);
    AudioBuffer a(1, 256), b(1, 256);
    std::fill(a.data.begin(), a.data.end(), 0.3f);
    std::fill(b.data.begin(), b.data.end(), 0.3f);
    const AudioBuffer* oneNull[] = {nullptr};
    ProcessContext ctx;
    ctx.frames = 256;
    device_->process(ctx, {}, a);
    device_->reset();
    device_->process(ctx, oneNull, b);
    EXPECT_EQ(a.data, b.data);
}

TEST_P(EveryModule, ProcessNeverTouchesTheHeap) {
    device_->prepare(48000.0);
    AudioBuffer in(1, 512), out(2, 512);
    std::copy_n(signals_[0].begin(), 512, in.channel(0));
    const AudioBuffer* inputs[] = {&in, &in, &in, &in};
    Event events[] = {at(noteOn(0, 60)), at(pitchBend(10, 0.3f)), at(noteOff(300, 60))};
    events[1].type = EventType::PitchBend;
    Event knobChange{};
    knobChange.type = EventType::ParamChange;
    knobChange.value = 0.5f;
    knobChange.rampFrames = 64;
    ProcessContext ctx;
    ctx.frames = 512;
    ctx.events = events;
    test::AllocationCounter counter;
    for (int block = 0; block < 8; ++block) device_->process(ctx, inputs, out);
    const Event changes[] = {knobChange};
    ctx.events = changes;
    device_->process(ctx, inputs, out);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(counter.frees(), 0u);
}

TEST_P(EveryModule, NoFramesOrNoChannelsLeaveTheOutputAlone) {
    device_->prepare(48000.0);
    AudioBuffer out(1, 16);
    std::fill(out.data.begin(), out.data.end(), 0.25f);
    ProcessContext ctx;
    ctx.frames = 0;
    device_->process(ctx, {}, out);
    for (float s : out.data) ASSERT_EQ(s, 0.25f);
    AudioBuffer none(0, 16);
    ctx.frames = 16;
    device_->process(ctx, {}, none);  // must not write anywhere
}

std::vector<std::string> modularTypeIds() {
    std::vector<std::string> ids;
    for (const DeviceInfo& info : listDevices())
        if (info.category == "Modular") ids.push_back(info.typeId);
    return ids;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryModule, testing::ValuesIn(modularTypeIds()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(info.param.rfind('.') + 1);
                             return name;
                         });

}  // namespace
}  // namespace ostrel::engine
