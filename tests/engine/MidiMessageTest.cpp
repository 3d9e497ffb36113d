#include "engine/MidiMessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ostrel::engine {
namespace {

struct Decoding {
    std::vector<std::uint8_t> bytes;
    EventType type;
    int note;
    int velocity;
    int channel;
    float bend;
    std::string text;
};

TEST(MidiMessageDecoding, EachPlayedMessageGivesItsEventAndItsMonitorText) {
    const Decoding cases[] = {
        {{0x90, 0x3C, 0x64}, EventType::NoteOn, 60, 100, 0, 0.0f, "Note on C4 (60), velocity 100 (channel 1)"},
        {{0x90, 0xBC, 0xE4}, EventType::NoteOn, 60, 100, 0, 0.0f, "Note on C4 (60), velocity 100 (channel 1)"},
        {{0x90, 0x3C, 0x00}, EventType::NoteOff, 60, 0, 0, 0.0f, "Note off C4 (60) (channel 1)"},
        {{0x8F, 0x40, 0x20}, EventType::NoteOff, 64, 0x20, 15, 0.0f, "Note off E4 (64) (channel 16)"},
        {{0xB1, 0x07, 0x7F}, EventType::ControlChange, 7, 127, 1, 0.0f, "Controller 7 = 127 (channel 2)"},
        {{0xE0, 0x00, 0x40}, EventType::PitchBend, 0, 0, 0, 0.0f, "Pitch bend 0 % (channel 1)"},
        {{0xE0, 0x00, 0x00}, EventType::PitchBend, 0, 0, 0, -1.0f, "Pitch bend -100 % (channel 1)"},
        // The per cent is cut toward zero, on both sides of the centre.
        {{0xE3, 0x7F, 0x7F}, EventType::PitchBend, 0, 0, 3, 8191.0f / 8192.0f, "Pitch bend 99 % (channel 4)"},
        {{0xE0, 0x7F, 0x3F}, EventType::PitchBend, 0, 0, 0, -1.0f / 8192.0f, "Pitch bend 0 % (channel 1)"},
    };
    for (const Decoding& c : cases) {
        const std::string label = c.text + " from byte " + std::to_string(c.bytes[0]);
        Event event;
        event.note = 0xEE;  // every field the message carries is written
        ASSERT_TRUE(parseMidiMessage(c.bytes.data(), static_cast<int>(c.bytes.size()), event)) << label;
        EXPECT_EQ(event.type, c.type) << label;
        EXPECT_EQ(event.note, c.note) << label;
        EXPECT_EQ(event.channel, c.channel) << label;
        EXPECT_FLOAT_EQ(event.value, c.bend) << label;
        if (c.type != EventType::PitchBend) {
            EXPECT_EQ(event.velocity, c.velocity) << label;
        }
        EXPECT_EQ(event.frameOffset, 0u) << label;
        EXPECT_EQ(describeMidiMessage(c.bytes.data(), static_cast<int>(c.bytes.size())), c.text) << label;
    }
}

TEST(MidiMessageDecoding, OtherStatusesShortMessagesAndRunningStatusAreRefusedAndLeaveTheEventAlone) {
    const std::vector<std::vector<std::uint8_t>> refused = {{0xC0, 0x05}, {0xA0, 0x3C, 0x40}, {0xD0, 0x40},
                                                            {0xF2, 0x01, 0x02}, {0xFE}, {0x90, 0x3C},
                                                            {0xB0, 0x07}, {0xE0}, {0x3C, 0x64, 0x00}};
    for (const std::vector<std::uint8_t>& bytes : refused) {
        Event event;
        event.note = 0xEE;
        EXPECT_FALSE(parseMidiMessage(bytes.data(), static_cast<int>(bytes.size()), event)) << int(bytes[0]);
        EXPECT_EQ(event.note, 0xEE);
        EXPECT_EQ(describeMidiMessage(bytes.data(), static_cast<int>(bytes.size())), "");
    }
    Event event;
    const std::uint8_t bytes[3] = {0x90, 60, 100};
    EXPECT_FALSE(parseMidiMessage(nullptr, 3, event));
    EXPECT_FALSE(parseMidiMessage(bytes, 0, event));
    EXPECT_FALSE(parseMidiMessage(bytes, -1, event));
    EXPECT_EQ(describeMidiMessage(nullptr, 3), "");
}

TEST(MidiNoteNames, NameOctaveAndNumberWithMiddleCInOctaveFour) {
    const std::pair<int, const char*> names[] = {{60, "C4 (60)"}, {0, "C-1 (0)"},  {61, "C#4 (61)"},
                                                 {69, "A4 (69)"}, {59, "B3 (59)"}, {127, "G9 (127)"}};
    for (const auto& [note, name] : names) EXPECT_EQ(midiNoteName(note), name);
}

}  // namespace
}  // namespace ostrel::engine
