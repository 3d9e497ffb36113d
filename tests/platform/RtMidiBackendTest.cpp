#include "platform/Backends.h"
#include "platform/RtMidiBackend.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/MidiInput.h"

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
}

}  // namespace
}  // namespace ostrel::engine
