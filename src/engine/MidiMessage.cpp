#include "engine/MidiMessage.h"

#include <algorithm>
#include <array>

namespace ostrel::engine {

namespace {

constexpr std::uint8_t kNoteOff = 0x80;
constexpr std::uint8_t kNoteOn = 0x90;
constexpr std::uint8_t kControlChange = 0xB0;
constexpr std::uint8_t kPitchBend = 0xE0;
constexpr double kBendCentre = 8192.0;  // 14-bit bend value at rest

}  // namespace

bool parseMidiMessage(const std::uint8_t* bytes, int length, Event& out) {
    if (bytes == nullptr || length < 1 || bytes[0] < 0x80) return false;
    const std::uint8_t status = bytes[0];
    const std::uint8_t kind = status & 0xF0;
    if (kind != kNoteOff && kind != kNoteOn && kind != kControlChange && kind != kPitchBend) return false;
    if (length < 3) return false;
    const std::uint8_t first = bytes[1] & 0x7F;
    const std::uint8_t second = bytes[2] & 0x7F;

    Event event;
    event.channel = status & 0x0F;
    switch (kind) {
        case kNoteOn:
        case kNoteOff:
            event.type = kind == kNoteOn && second != 0 ? EventType::NoteOn : EventType::NoteOff;
            event.note = first;
            event.velocity = second;
            break;
        case kControlChange:
            event.type = EventType::ControlChange;
            event.note = first;
            event.velocity = second;
            break;
        default:
            event.type = EventType::PitchBend;
            event.value = static_cast<float>(std::clamp((second * 128 + first - kBendCentre) / kBendCentre, -1.0, 1.0));
            break;
    }
    out = event;
    return true;
}

std::string describeMidiMessage(const std::uint8_t* bytes, int length) {
    Event event;
    if (!parseMidiMessage(bytes, length, event)) return {};
    const std::string channel = " (channel " + std::to_string(event.channel + 1) + ")";
    switch (event.type) {
        case EventType::NoteOn:
            return "Note on " + midiNoteName(event.note) + ", velocity " + std::to_string(event.velocity) + channel;
        case EventType::NoteOff:
            return "Note off " + midiNoteName(event.note) + channel;
        case EventType::ControlChange:
            return "Controller " + std::to_string(event.note) + " = " + std::to_string(event.velocity) + channel;
        default:
            // The conversion to int cuts toward zero, as the monitor wants.
            return "Pitch bend " + std::to_string(static_cast<int>(event.value * 100.0f)) + " %" + channel;
    }
}

std::string midiNoteName(int note) {
    static constexpr std::array<const char*, 12> kNames{"C", "C#", "D", "D#", "E", "F",
                                                       "F#", "G", "G#", "A", "A#", "B"};
    // Floor division, so that a note below 0 would still name a real octave.
    const int octave = (note >= 0 ? note / 12 : (note - 11) / 12);
    const int pitchClass = note - octave * 12;
    return std::string(kNames[static_cast<std::size_t>(pitchClass)]) + std::to_string(octave - 1) + " (" +
           std::to_string(note) + ")";
}

}  // namespace ostrel::engine
