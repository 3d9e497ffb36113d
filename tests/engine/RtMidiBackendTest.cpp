#include "engine/RtMidiBackend.h"

#include <gtest/gtest.h>

#include <RtMidi.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "EngineTestSupport.h"
#include "engine/MidiInput.h"

namespace ostrel::engine {
namespace {

void ignore(void*, const uint8_t*, uint32_t) {}

TEST(RtMidiBackendContract, NamedAlsaListsStableNamesAndAnUnlistedInputFailsLeavingItClosed) {
    const std::unique_ptr<IMidiBackend> backend = createMidiBackend();
    EXPECT_EQ(backend->name(), "ALSA");
    EXPECT_FALSE(backend->isOpen());
    for (const MidiInputInfo& input : backend->listInputs()) {  // empty without a sequencer
        EXPECT_EQ(input.id, input.name);
        EXPECT_EQ(withoutAlsaAddress(input.id), input.id);
    }
    std::string error;
    EXPECT_FALSE(backend->open("No Such Keyboard \x01", &ignore, nullptr, &error));
    EXPECT_EQ(error, "that MIDI device is not plugged in");
    EXPECT_FALSE(backend->isOpen());
    backend->close();
    backend->close();
    EXPECT_FALSE(backend->isOpen());
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

// A software keyboard on the sequencer; skipped on a machine without one.
TEST(RtMidiBackendDelivery, AKeyboardsMessagesArriveFilteredStopAtCloseAndAFailedOpenClosesIt) {
    std::unique_ptr<RtMidiOut> keyboard;
    try {
        keyboard = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, "Ostrel test");
        keyboard->openVirtualPort("Keys");
    } catch (const RtMidiError&) {
        GTEST_SKIP() << "no ALSA sequencer here";
    }
    RtMidiBackend backend;
    Collected collected;
    std::string error;
    ASSERT_TRUE(backend.open("Ostrel test:Keys", &collect, &collected, &error)) << error;

    std::vector<unsigned char> clock{0xF8}, program{0xC5, 0x07}, note{0x90, 0x3C, 0x64};
    for (auto* message : {&clock, &program, &note}) {
        keyboard->sendMessage(message);
    }
    EXPECT_TRUE(test::waitUntil([&] { return collected.count.load(std::memory_order_acquire) >= 2; }));
    EXPECT_EQ(collected.lengths.load(), 5u);
    EXPECT_FALSE(collected.sawRealTime.load());

    backend.close();
    const int atClose = collected.count.load(std::memory_order_acquire);
    keyboard->sendMessage(&note);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(collected.count.load(), atClose);

    ASSERT_TRUE(backend.open("Ostrel test:Keys", &ignore, nullptr, &error)) << error;
    EXPECT_FALSE(backend.open("No Such Keyboard \x01", &ignore, nullptr, &error));
    EXPECT_FALSE(backend.isOpen()) << "a failed open closes the input that was open";
}

}  // namespace
}  // namespace ostrel::engine
