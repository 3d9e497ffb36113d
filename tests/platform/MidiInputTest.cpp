#include "platform/MidiInput.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::engine {
namespace {

using Messages = std::vector<std::vector<uint8_t>>;

void record(void* user, const uint8_t* bytes, uint32_t length) {
    static_cast<Messages*>(user)->emplace_back(bytes, bytes + length);
}

Messages deliver(std::vector<uint8_t> raw) {
    Messages received;
    deliverMidiMessage(raw.data(), raw.size(), &record, &received);
    return received;
}

TEST(MidiInputNaming, RepeatedNamesAreNumberedFromTwoByteForByteWhateverLiesBetween) {
    const std::vector<MidiInputInfo> expected{{"USB Keyboard", "USB Keyboard"}, {"USB Keyboard #2", "USB Keyboard #2"},
                                              {"Pads", "Pads"},                 {"USB Keyboard #3", "USB Keyboard #3"},
                                              {"Pads #2", "Pads #2"},           {"pads", "pads"},
                                              {"", ""},                         {" #2", " #2"}};
    EXPECT_EQ(nameMidiInputs({"USB Keyboard", "USB Keyboard", "Pads", "USB Keyboard", "Pads", "pads", "", ""}),
              expected);
}

// Re-plugging moves a device to new client numbers; its listed id must not change.
TEST(MidiInputNaming, TheChangingAlsaClientAndPortNumbersAreDroppedAndNothingElse) {
    const std::pair<const char*, const char*> cases[] = {
        {"Midi Through:Midi Through Port-0 14:0", "Midi Through:Midi Through Port-0"},
        {"Keystation 49:Keystation 49 MIDI 1 24:0", "Keystation 49:Keystation 49 MIDI 1"},
        {"Keys:Keys 128:15", "Keys:Keys"},
        {"Keys:Keys", "Keys:Keys"}, {"Keys 49", "Keys 49"}, {"Keys 24:", "Keys 24:"},
        {"Keys :0", "Keys :0"},     {"24:0", "24:0"},       {"", ""},
    };
    for (const auto& [name, stripped] : cases) {
        EXPECT_EQ(withoutAlsaAddress(name), stripped) << name;
    }
    EXPECT_EQ(nameMidiInputs({withoutAlsaAddress("Keys:Keys MIDI 1 20:0")}),
              nameMidiInputs({withoutAlsaAddress("Keys:Keys MIDI 1 28:0")}));
}

TEST(MidiInputSizing, EveryStatusHasTheLengthOfItsMessageAndRealTimeSysexAndDataBytesNone) {
    for (int status = 0; status < 256; ++status) {
        uint32_t expected = 0;
        if (status >= 0x80 && status < 0xF0) expected = status >= 0xC0 && status < 0xE0 ? 2 : 3;
        if (status == 0xF1 || status == 0xF3) expected = 2;  // time code quarter frame, song select
        if (status == 0xF2) expected = 3;                    // song position
        if (status >= 0xF4 && status <= 0xF7) expected = 1;
        EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), expected) << std::hex << status;
    }
}

TEST(MidiInputDelivery, MessagesArriveAtTheirLengthPaddedOrCutAndRealTimeOrSysexNever) {
    EXPECT_EQ(deliver({0xC5, 0x07}), (Messages{{0xC5, 0x07}}));
    EXPECT_EQ(deliver({0x90, 0x3C, 0x64}), (Messages{{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(deliver({0xF2, 0x10, 0x02}), (Messages{{0xF2, 0x10, 0x02}}));
    EXPECT_EQ(deliver({0xF6}), (Messages{{0xF6}}));
    EXPECT_EQ(deliver({0x90, 0x3C}), (Messages{{0x90, 0x3C, 0x00}}));
    EXPECT_EQ(deliver({0xC0, 0x01, 0x02, 0x03}), (Messages{{0xC0, 0x01}}));
    for (uint8_t status : {0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}) {
        EXPECT_TRUE(deliver({status}).empty()) << int(status);
    }
    EXPECT_TRUE(deliver({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}).empty());

    EXPECT_TRUE(deliver({}).empty());
}

TEST(MidiInputOpenFailure, ABusyPortGetsTheInUseMessageAnyOtherReasonIsQuoted) {
    EXPECT_EQ(midiOpenFailureMessage("Device or resource busy"),
              "the MIDI device is in use by another program (close it and try again)");
    EXPECT_EQ(midiOpenFailureMessage("port already IN USE"), kMidiInUse);
    EXPECT_EQ(midiOpenFailureMessage("ALSA error making port connection"),
              "the system could not open the MIDI device (ALSA error making port connection)");
}

}  // namespace
}  // namespace ostrel::engine
