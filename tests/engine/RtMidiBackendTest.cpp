#include "engine/RtMidiBackend.h"

#include <gtest/gtest.h>

#include <RtMidi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/MidiInput.h"

namespace ostrel::engine {
namespace {

void ignore(void*, const uint8_t*, uint32_t) {}

// A software keyboard on the sequencer, or null on a machine without one.
std::unique_ptr<RtMidiOut> virtualKeyboard(const std::string& port) {
    try {
        auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, "Ostrel test");
        out->openVirtualPort(port);
        return out;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

TEST(RtMidiBackendContract, TheDriverIsNamedAlsaAndANewBackendIsClosedAndClosesTwiceHarmlessly) {
    const std::unique_ptr<IMidiBackend> backend = createMidiBackend();
    EXPECT_EQ(backend->name(), "ALSA");
    EXPECT_FALSE(backend->isOpen());
    backend->close();
    backend->close();
    EXPECT_FALSE(backend->isOpen());
}

TEST(RtMidiBackendContract, ListedInputsHaveEqualIdAndNameAndNoAddress) {
    RtMidiBackend backend;
    for (const MidiInputInfo& input : backend.listInputs()) {  // empty without a sequencer
        EXPECT_EQ(input.id, input.name);
        EXPECT_EQ(withoutAlsaAddress(input.id), input.id);
    }
}

TEST(RtMidiBackendContract, OpeningAnInputThatIsNotListedFailsAndLeavesItClosed) {
    RtMidiBackend backend;
    std::string error;
    EXPECT_FALSE(backend.open("No Such Keyboard \x01", &ignore, nullptr, &error));
    EXPECT_EQ(error, "that MIDI device is not plugged in");
    EXPECT_FALSE(backend.isOpen());
    EXPECT_FALSE(backend.open("No Such Keyboard \x01", &ignore, nullptr, nullptr));
}

TEST(RtMidiBackendContract, AFailedOpenClosesTheInputThatWasOpen) {
    const auto keyboard = virtualKeyboard("Keys A");
    if (!keyboard) GTEST_SKIP() << "no ALSA sequencer here";
    RtMidiBackend backend;
    std::string error;
    ASSERT_TRUE(backend.open("Ostrel test:Keys A", &ignore, nullptr, &error)) << error;
    EXPECT_TRUE(backend.isOpen());
    EXPECT_FALSE(backend.open("No Such Keyboard \x01", &ignore, nullptr, &error));
    EXPECT_EQ(error, "that MIDI device is not plugged in");
    EXPECT_FALSE(backend.isOpen());
}

struct Collected {
    std::atomic<int> count{0};
    std::atomic<uint32_t> lengths{0};
    std::atomic<bool> sawRealTime{false};
};

void collect(void* user, const uint8_t* bytes, uint32_t length) {
    auto& collected = *static_cast<Collected*>(user);
    if (bytes[0] >= 0xF8) collected.sawRealTime.store(true, std::memory_order_relaxed);
    collected.lengths.fetch_add(length, std::memory_order_relaxed);
    collected.count.fetch_add(1, std::memory_order_release);
}

TEST(RtMidiBackendDelivery, AKeyboardsMessagesArriveFilteredAndStopAtClose) {
    const auto keyboard = virtualKeyboard("Keys B");
    if (!keyboard) GTEST_SKIP() << "no ALSA sequencer here";
    RtMidiBackend backend;
    Collected collected;
    std::string error;
    ASSERT_TRUE(backend.open("Ostrel test:Keys B", &collect, &collected, &error)) << error;

    std::vector<unsigned char> clock{0xF8}, program{0xC5, 0x07}, note{0x90, 0x3C, 0x64};
    keyboard->sendMessage(&clock);
    keyboard->sendMessage(&program);
    keyboard->sendMessage(&note);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (collected.count.load(std::memory_order_acquire) < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(collected.count.load(), 2);
    EXPECT_EQ(collected.lengths.load(), 5u);
    EXPECT_FALSE(collected.sawRealTime.load());

    backend.close();
    const int atClose = collected.count.load(std::memory_order_acquire);
    keyboard->sendMessage(&note);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(collected.count.load(), atClose);
}

}  // namespace
}  // namespace ostrel::engine
