#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace ostrel::engine {

// One short MIDI message in a word: bits 0-7 the status byte, 8-15 the second byte,
// 16-23 the third, 24-31 how many bytes count (1 to 3); bytes past the count are zero.
using MidiInputWord = std::uint32_t;

// Packs at most the first three bytes; 0 for no bytes.
MidiInputWord packMidiInputWord(const std::uint8_t* bytes, std::uint32_t length) noexcept;
// The message's byte count, and its bytes into `bytes` (three are always written).
std::uint32_t unpackMidiInputWord(MidiInputWord word, std::uint8_t (&bytes)[3]) noexcept;

// Short MIDI messages from the MIDI driver's thread to the GUI thread.
// Single producer (the driver's thread), single consumer (the GUI thread). Never blocks,
// allocates or locks. One fixed-size object: each counter sits alone on its own cache
// line, so the two threads never write the same line.
class alignas(64) MidiInputRing {
public:
    static constexpr std::uint64_t kCapacity = 1024;

    MidiInputRing() noexcept;
    MidiInputRing(const MidiInputRing&) = delete;
    MidiInputRing& operator=(const MidiInputRing&) = delete;

    // Producer thread only. False, and the message dropped, when kCapacity words wait.
    bool push(MidiInputWord word) noexcept;

    // Consumer thread only. False when empty.
    bool pop(MidiInputWord& word) noexcept;
    // Consumer thread only: forgets every waiting word. Only safe to call once the
    // producer can no longer push (the input is closed), or what it pushes meanwhile
    // may survive.
    void discardAll() noexcept;

    // Either thread; a snapshot that may be out of date as soon as it is read.
    std::uint64_t waiting() const noexcept;

private:
    // Counters only grow; the slot of a count is count modulo kCapacity.
    alignas(64) std::atomic<std::uint64_t> writeCount_{0};  // producer writes
    alignas(64) std::atomic<std::uint64_t> readCount_{0};   // consumer writes
    alignas(64) std::array<MidiInputWord, kCapacity> slots_;
};

}  // namespace ostrel::engine
