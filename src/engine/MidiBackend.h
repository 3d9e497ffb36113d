#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ostrel::engine {

// One short MIDI message of 1 to 3 bytes; the bytes are valid only during the call.
// MIDI driver's thread. Must not block: copy the message into a ring and return.
using MidiInputCallback = void (*)(void* user, const uint8_t* bytes, uint32_t length);

// One MIDI input. id and name hold the same text: the device's name, with " #2", " #3"
// appended to repeats, so a stored choice survives re-plugging.
struct MidiInputInfo {
    std::string id;
    std::string name;

    bool operator==(const MidiInputInfo&) const = default;
};

// MIDI keyboards: list the inputs, open one with a callback, close it.
// GUI thread only. Once close() returns no callback is running or will run.
class IMidiBackend {
public:
    virtual ~IMidiBackend() = default;
    virtual std::string name() = 0;  // the driver's name
    virtual std::vector<MidiInputInfo> listInputs() = 0;
    // Closes whatever is open first. On failure nothing is open and error (may be null)
    // gets the reason.
    [[nodiscard]] virtual bool open(const std::string& id, MidiInputCallback callback, void* user, std::string* error) = 0;
    virtual void close() = 0;
    virtual bool isOpen() = 0;
};

}  // namespace ostrel::engine
