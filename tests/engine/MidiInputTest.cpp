#include "engine/MidiInput.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/AllocationCounter.h"

namespace ostrel::engine {
namespace {

struct Received {
    std::vector<std::vector<uint8_t>> messages;
};

void record(void* user, const uint8_t* bytes, uint32_t length) {
    static_cast<Received*>(user)->messages.emplace_back(bytes, bytes + length);
}

std::vector<std::vector<uint8_t>> deliver(std::vector<uint8_t> raw) {
    Received received;
    deliverMidiMessage(raw.data(), raw.size(), &record, &received);
    return received.messages;
}

// --- naming ---

TEST(MidiInputNaming, RepeatedNamesAreNumberedFromTwoAndAnotherNameBetweenChangesNothing) {
    const std::vector<MidiInputInfo> inputs =
        nameMidiInputs({"USB Keyboard", "USB Keyboard", "Pads", "USB Keyboard", "Pads"});
    const std::vector<MidiInputInfo> expected{{"USB Keyboard", "USB Keyboard"},
                                              {"USB Keyboard #2", "USB Keyboard #2"},
                                              {"Pads", "Pads"},
                                              {"USB Keyboard #3", "USB Keyboard #3"},
                                              {"Pads #2", "Pads #2"}};
    EXPECT_EQ(inputs, expected);
}

TEST(MidiInputNaming, NamesAreComparedByteForByte) {
    const std::vector<MidiInputInfo> inputs = nameMidiInputs({"keys", "Keys", "Keys ", "", ""});
    ASSERT_EQ(inputs.size(), 5u);
    EXPECT_EQ(inputs[0].id, "keys");
    EXPECT_EQ(inputs[1].id, "Keys");
    EXPECT_EQ(inputs[2].id, "Keys ");
    EXPECT_EQ(inputs[3].id, "");
    EXPECT_EQ(inputs[4].id, " #2");
}

TEST(MidiInputNaming, NoDevicesGiveAnEmptyList) { EXPECT_TRUE(nameMidiInputs({}).empty()); }

TEST(MidiInputNaming, TheChangingAlsaClientAndPortNumbersAreDropped) {
    EXPECT_EQ(withoutAlsaAddress("Midi Through:Midi Through Port-0 14:0"), "Midi Through:Midi Through Port-0");
    EXPECT_EQ(withoutAlsaAddress("Keystation 49:Keystation 49 MIDI 1 24:0"), "Keystation 49:Keystation 49 MIDI 1");
    EXPECT_EQ(withoutAlsaAddress("Keys:Keys 128:15"), "Keys:Keys");
}

TEST(MidiInputNaming, NamesWithoutAnAddressAreKeptWhole) {
    EXPECT_EQ(withoutAlsaAddress("Keys:Keys"), "Keys:Keys");
    EXPECT_EQ(withoutAlsaAddress("Keys 49"), "Keys 49");
    EXPECT_EQ(withoutAlsaAddress("Keys 24:"), "Keys 24:");
    EXPECT_EQ(withoutAlsaAddress("Keys :0"), "Keys :0");
    EXPECT_EQ(withoutAlsaAddress("24:0"), "24:0");
    EXPECT_EQ(withoutAlsaAddress(""), "");
}

// Re-plugging moves a device to new client numbers; its listed id must not change.
TEST(MidiInputNaming, ADeviceKeepsItsIdAcrossReplugging) {
    const auto before = nameMidiInputs({withoutAlsaAddress("Keys:Keys MIDI 1 20:0")});
    const auto after = nameMidiInputs({withoutAlsaAddress("Keys:Keys MIDI 1 28:0")});
    EXPECT_EQ(before, after);
}

// --- filtering and sizing ---

TEST(MidiInputSizing, EveryStatusHasTheLengthOfItsMessage) {
    for (int status = 0x80; status <= 0xBF; ++status) EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), 3u);
    for (int status = 0xC0; status <= 0xDF; ++status) EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), 2u);
    for (int status = 0xE0; status <= 0xEF; ++status) EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), 3u);
    EXPECT_EQ(midiMessageLength(0xF1), 2u);  // time code quarter frame
    EXPECT_EQ(midiMessageLength(0xF2), 3u);  // song position
    EXPECT_EQ(midiMessageLength(0xF3), 2u);  // song select
    for (int status : {0xF4, 0xF5, 0xF6, 0xF7}) EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), 1u);
}

TEST(MidiInputSizing, RealTimeSystemExclusiveAndDataBytesAreNotPassedOn) {
    for (int status = 0xF8; status <= 0xFF; ++status) EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), 0u);
    EXPECT_EQ(midiMessageLength(0xF0), 0u);
    for (int status = 0x00; status < 0x80; ++status) EXPECT_EQ(midiMessageLength(static_cast<uint8_t>(status)), 0u);
}

TEST(MidiInputDelivery, MessagesArriveWithTheirLength) {
    EXPECT_EQ(deliver({0xC5, 0x07}), (std::vector<std::vector<uint8_t>>{{0xC5, 0x07}}));
    EXPECT_EQ(deliver({0x90, 0x3C, 0x64}), (std::vector<std::vector<uint8_t>>{{0x90, 0x3C, 0x64}}));
    EXPECT_EQ(deliver({0xF2, 0x10, 0x02}), (std::vector<std::vector<uint8_t>>{{0xF2, 0x10, 0x02}}));
    EXPECT_EQ(deliver({0xF6}), (std::vector<std::vector<uint8_t>>{{0xF6}}));
}

TEST(MidiInputDelivery, ClockAndOtherRealTimeMessagesNeverReachTheCallback) {
    for (uint8_t status : {0xF8, 0xFA, 0xFB, 0xFC, 0xFE, 0xFF}) EXPECT_TRUE(deliver({status}).empty()) << int(status);
}

TEST(MidiInputDelivery, SystemExclusiveIsIgnored) {
    EXPECT_TRUE(deliver({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}).empty());
}

TEST(MidiInputDelivery, AShortMessageIsPaddedAndALongOneCutToItsLength) {
    EXPECT_EQ(deliver({0x90, 0x3C}), (std::vector<std::vector<uint8_t>>{{0x90, 0x3C, 0x00}}));
    EXPECT_EQ(deliver({0xC0, 0x01, 0x02, 0x03}), (std::vector<std::vector<uint8_t>>{{0xC0, 0x01}}));
}

TEST(MidiInputDelivery, NothingIsDeliveredWithoutACallbackOrBytes) {
    const uint8_t note[] = {0x90, 0x3C, 0x64};
    deliverMidiMessage(note, 3, nullptr, nullptr);  // must simply return
    Received received;
    deliverMidiMessage(note, 0, &record, &received);
    deliverMidiMessage(nullptr, 3, &record, &received);
    EXPECT_TRUE(received.messages.empty());
}

void countOnly(void* user, const uint8_t*, uint32_t length) { *static_cast<uint32_t*>(user) += length; }

TEST(MidiInputDelivery, DeliveryNeverTouchesTheHeap) {
    const uint8_t note[] = {0x90, 0x3C, 0x64};
    const uint8_t clock[] = {0xF8};
    uint32_t total = 0;
    test::AllocationCounter counter;
    deliverMidiMessage(note, 3, &countOnly, &total);
    deliverMidiMessage(clock, 1, &countOnly, &total);
    EXPECT_EQ(counter.allocations(), 0u);
    EXPECT_EQ(total, 3u);
}

// --- open failures ---

TEST(MidiInputOpenFailure, ABusyPortGetsTheInUseMessage) {
    EXPECT_EQ(midiOpenFailureMessage("Device or resource busy"), kMidiInUse);
    EXPECT_EQ(midiOpenFailureMessage("port already IN USE"), kMidiInUse);
    EXPECT_EQ(std::string(kMidiInUse), "the MIDI device is in use by another program (close it and try again)");
}

TEST(MidiInputOpenFailure, AnyOtherReasonIsQuotedInTheMessage) {
    EXPECT_EQ(midiOpenFailureMessage("ALSA error making port connection"),
              "the system could not open the MIDI device (ALSA error making port connection)");
}

}  // namespace
}  // namespace ostrel::engine
