#include "engine/MidiMessage.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace ostrel::engine {
namespace {

struct Decoded {
    bool ok = false;
    Event event;
    std::string text;
};

Decoded decode(std::initializer_list<std::uint8_t> message) {
    const std::vector<std::uint8_t> bytes(message);
    Decoded d;
    d.event.note = 0xEE;  // a refused message must leave the event alone
    d.ok = parseMidiMessage(bytes.data(), static_cast<int>(bytes.size()), d.event);
    d.text = describeMidiMessage(bytes.data(), static_cast<int>(bytes.size()));
    return d;
}

TEST(MidiMessageDecoding, NoteOnGivesItsNoteVelocityAndChannel) {
    const Decoded d = decode({0x90, 0x3C, 0x64});
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.event.type, EventType::NoteOn);
    EXPECT_EQ(d.event.note, 60);
    EXPECT_EQ(d.event.velocity, 100);
    EXPECT_EQ(d.event.channel, 0);
    EXPECT_EQ(d.event.frameOffset, 0u);
    EXPECT_EQ(d.event.param, 0u);
    EXPECT_EQ(d.event.rampFrames, 0);
    EXPECT_EQ(d.text, "Note on C4 (60), velocity 100 (channel 1)");
}

TEST(MidiMessageDecoding, NoteOnAtVelocityZeroAndNoteOffBothReleaseTheNote) {
    const Decoded zero = decode({0x90, 0x3C, 0x00});
    ASSERT_TRUE(zero.ok);
    EXPECT_EQ(zero.event.type, EventType::NoteOff);
    EXPECT_EQ(zero.event.note, 60);
    EXPECT_EQ(zero.text, "Note off C4 (60) (channel 1)");

    const Decoded off = decode({0x8F, 0x40, 0x20});
    ASSERT_TRUE(off.ok);
    EXPECT_EQ(off.event.type, EventType::NoteOff);
    EXPECT_EQ(off.event.velocity, 0x20);
    EXPECT_EQ(off.event.channel, 15);
    EXPECT_EQ(off.text, "Note off E4 (64) (channel 16)");
}

TEST(MidiMessageDecoding, ControlChangeCarriesControllerAndValue) {
    const Decoded d = decode({0xB1, 0x07, 0x7F});
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.event.type, EventType::ControlChange);
    EXPECT_EQ(d.event.note, 7);
    EXPECT_EQ(d.event.velocity, 127);
    EXPECT_EQ(d.event.channel, 1);
    EXPECT_EQ(d.text, "Controller 7 = 127 (channel 2)");
}

TEST(MidiMessageDecoding, PitchBendSpansMinusOneToJustBelowOneAroundTheCentre) {
    const Decoded centre = decode({0xE0, 0x00, 0x40});
    ASSERT_TRUE(centre.ok);
    EXPECT_EQ(centre.event.type, EventType::PitchBend);
    EXPECT_EQ(centre.event.value, 0.0f);
    EXPECT_EQ(centre.event.note, 0);
    EXPECT_EQ(centre.text, "Pitch bend 0 % (channel 1)");

    const Decoded down = decode({0xE0, 0x00, 0x00});
    EXPECT_EQ(down.event.value, -1.0f);
    EXPECT_EQ(down.text, "Pitch bend -100 % (channel 1)");

    const Decoded up = decode({0xE3, 0x7F, 0x7F});
    EXPECT_FLOAT_EQ(up.event.value, 8191.0f / 8192.0f);
    EXPECT_EQ(up.text, "Pitch bend 99 % (channel 4)") << "the per cent is cut toward zero";

    const Decoded slightlyDown = decode({0xE0, 0x7F, 0x3F});  // one step below the centre
    EXPECT_EQ(slightlyDown.text, "Pitch bend 0 % (channel 1)");
}

TEST(MidiMessageDecoding, DataBytesAreMaskedToSevenBits) {
    const Decoded d = decode({0x90, 0xBC, 0xE4});
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.event.note, 0x3C);
    EXPECT_EQ(d.event.velocity, 0x64);
}

TEST(MidiMessageRefusals, OtherStatusesShortMessagesAndRunningStatusAreRefused) {
    for (const Decoded& d : {decode({0xC0, 0x05}), decode({0xA0, 0x3C, 0x40}), decode({0xD0, 0x40}),
                             decode({0xF2, 0x01, 0x02}), decode({0xFE}), decode({0x90, 0x3C}), decode({0xB0, 0x07}),
                             decode({0xE0}), decode({0x3C, 0x64, 0x00})}) {
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.event.note, 0xEE) << "the event is left alone";
        EXPECT_EQ(d.text, "");
    }
    Event event;
    EXPECT_FALSE(parseMidiMessage(nullptr, 3, event));
    const std::uint8_t bytes[3] = {0x90, 60, 100};
    EXPECT_FALSE(parseMidiMessage(bytes, 0, event));
    EXPECT_FALSE(parseMidiMessage(bytes, -1, event));
    EXPECT_EQ(describeMidiMessage(nullptr, 3), "");
}

TEST(MidiNoteNames, NameOctaveAndNumberWithMiddleCInOctaveFour) {
    EXPECT_EQ(midiNoteName(60), "C4 (60)");
    EXPECT_EQ(midiNoteName(0), "C-1 (0)");
    EXPECT_EQ(midiNoteName(61), "C#4 (61)");
    EXPECT_EQ(midiNoteName(69), "A4 (69)");
    EXPECT_EQ(midiNoteName(59), "B3 (59)");
    EXPECT_EQ(midiNoteName(127), "G9 (127)");
}

}  // namespace
}  // namespace ostrel::engine
