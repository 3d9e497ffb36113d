#include "engine/MidiInputRing.h"

#include <algorithm>

namespace ostrel::engine {

MidiInputWord packMidiInputWord(const std::uint8_t* bytes, std::uint32_t length) noexcept {
    if (bytes == nullptr || length == 0) return 0;
    const std::uint32_t count = std::min<std::uint32_t>(length, 3);
    MidiInputWord word = count << 24;
    for (std::uint32_t i = 0; i < count; ++i) word |= static_cast<MidiInputWord>(bytes[i]) << (8 * i);
    return word;
}

std::uint32_t unpackMidiInputWord(MidiInputWord word, std::uint8_t (&bytes)[3]) noexcept {
    const std::uint32_t count = std::min<std::uint32_t>(word >> 24, 3);
    for (std::uint32_t i = 0; i < 3; ++i) {
        bytes[i] = i < count ? static_cast<std::uint8_t>((word >> (8 * i)) & 0xFF) : 0;
    }
    return count;
}

MidiInputRing::MidiInputRing() noexcept { slots_.fill(0); }

bool MidiInputRing::push(MidiInputWord word) noexcept {
    const std::uint64_t w = writeCount_.load(std::memory_order_relaxed);
    // Acquire: the consumer has read a slot before it gives it back.
    if (w - readCount_.load(std::memory_order_acquire) >= kCapacity) return false;
    slots_[w % kCapacity] = word;
    // Release: the word is in its slot before the consumer sees the new count.
    writeCount_.store(w + 1, std::memory_order_release);
    return true;
}

bool MidiInputRing::pop(MidiInputWord& word) noexcept {
    const std::uint64_t r = readCount_.load(std::memory_order_relaxed);
    if (r == writeCount_.load(std::memory_order_acquire)) return false;
    word = slots_[r % kCapacity];
    // Release: the slot has been read before the producer may fill it again.
    readCount_.store(r + 1, std::memory_order_release);
    return true;
}

void MidiInputRing::discardAll() noexcept {
    readCount_.store(writeCount_.load(std::memory_order_acquire), std::memory_order_release);
}

std::uint64_t MidiInputRing::waiting() const noexcept {
    const std::uint64_t r = readCount_.load(std::memory_order_acquire);
    return writeCount_.load(std::memory_order_acquire) - r;
}

}  // namespace ostrel::engine
