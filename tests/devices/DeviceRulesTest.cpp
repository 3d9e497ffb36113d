// The rules every device keeps in `process`, checked once over the whole catalogue.

#include "DeviceHarness.h"
#include "devices/DeviceCatalog.h"
#include "devices/DeviceRules.h"
#include "devices/modules/SamplerNode.h"
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

// What a walk saw, in order: "+60@3" a note on taken before frame 3, "[3,7)" a stretch.
std::vector<std::string> walkLog(const std::vector<Event>& events, int frames, int voice = -1, int note = -1,
                                 rules::Bend bend = rules::Bend::Ignore) {
    std::vector<std::string> log;
    int frame = 0;
    rules::NoteCursor cursor(events, voice, note, bend);
    cursor.walk(
        frames,
        [&](rules::NoteAction action, const Event& e) {
            const char* sign = action == rules::NoteAction::NoteOn ? "+" : action == rules::NoteAction::NoteOff ? "-" : "~";
            log.push_back(sign + std::to_string(e.note) + "@" + std::to_string(frame));
        },
        [&](int from, int to) {
            EXPECT_EQ(from, frame) << "stretches follow each other without gaps";
            log.push_back("[" + std::to_string(from) + "," + std::to_string(to) + ")");
            frame = to;
        });
    EXPECT_EQ(frame, frames);
    return log;
}

Event at(std::uint32_t offset, EventType type, int note, int velocity = 100, int channel = 0) {
    Event e{.type = type, .channel = static_cast<std::uint8_t>(channel), .note = static_cast<std::uint8_t>(note),
            .velocity = static_cast<std::uint8_t>(velocity)};
    e.frameOffset = offset;
    return e;
}

TEST(NoteCursorWalk, CutsTheBlockAtEachEventFrameAndTakesTheEventsFirst) {
    using V = std::vector<std::string>;
    EXPECT_EQ(walkLog({}, 16), (V{"[0,16)"}));
    EXPECT_EQ(walkLog({at(0, EventType::NoteOn, 60), at(5, EventType::NoteOn, 64), at(5, EventType::NoteOff, 60)}, 16),
              (V{"+60@0", "[0,5)", "+64@5", "-60@5", "[5,16)"}));
    // An event on the last frame still gets its own one-frame stretch.
    EXPECT_EQ(walkLog({at(15, EventType::NoteOn, 60)}, 16), (V{"[0,15)", "+60@15", "[15,16)"}));
}

TEST(NoteCursorWalk, EventsBeyondAShortenedBlockAreStillTakenAtItsEnd) {
    using V = std::vector<std::string>;
    EXPECT_EQ(walkLog({at(2, EventType::NoteOn, 60), at(40, EventType::NoteOff, 60)}, 8),
              (V{"[0,2)", "+60@2", "[2,8)", "-60@8"}));
    EXPECT_EQ(walkLog({at(3, EventType::NoteOff, 60)}, 0), (V{"-60@0"}));
}

TEST(NoteCursorWalk, FiltersStillApplyAndAFilteredEventStillCutsTheBlock) {
    using V = std::vector<std::string>;
    const std::vector<Event> events = {at(1, EventType::NoteOn, 60, 100, 1), at(2, EventType::NoteOn, 61, 0, 0),
                                       at(3, EventType::PitchBend, 0), at(4, EventType::NoteOn, 62, 100, 0)};
    EXPECT_EQ(walkLog(events, 6, 0, -1), (V{"[0,1)", "[1,2)", "-61@2", "[2,3)", "[3,4)", "+62@4", "[4,6)"}));
    EXPECT_EQ(walkLog(events, 6, -1, 60, rules::Bend::Take),
              (V{"[0,1)", "+60@1", "[1,2)", "[2,3)", "~0@3", "[3,4)", "[4,6)"}));
}

}  // namespace
}  // namespace ostrel::engine
