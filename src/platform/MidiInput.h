#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/MidiBackend.h"

namespace ostrel::engine { inline namespace platform {

// The driver-independent half of MIDI input: naming, filtering and sizing.

inline constexpr const char* kMidiNotPluggedIn = "that MIDI device is not plugged in";
inline constexpr const char* kMidiInUse = "the MIDI device is in use by another program (close it and try again)";
inline constexpr const char* kMidiCannotStart = "the system could not start the MIDI device";

// Inputs in the driver's order; the k-th repeat of a name (k = 2, 3, ...) gets " #k".
std::vector<MidiInputInfo> nameMidiInputs(const std::vector<std::string>& deviceNames);

// ALSA port names end in " client:port", numbers that change with every re-plug;
// "Keys:Keys MIDI 1 24:0" becomes "Keys:Keys MIDI 1". Other names are returned whole.
std::string withoutAlsaAddress(std::string_view portName);

// Bytes of a short message with this status, or 0 when it is not passed on:
// system real-time (0xF8 and up), system exclusive (0xF0) and data bytes.
uint32_t midiMessageLength(uint8_t status);

// Sizes one raw message from the driver and hands it to the callback, or drops it.
// A message shorter than its status needs is padded with zeros.
// MIDI driver's thread. Never allocates, locks or logs.
void deliverMidiMessage(const uint8_t* bytes, std::size_t count, MidiInputCallback callback, void* user);

// The user's text for a port the system would not open, from the system's reason.
std::string midiOpenFailureMessage(std::string_view systemReason);

} }  // namespace ostrel::engine::platform
