#pragma once

#include <cstdint>

namespace ostrel::engine {

enum class EventType : std::uint8_t {
    NoteOn = 0,
    NoteOff = 1,
    ControlChange = 2,
    PitchBend = 3,
    ParamChange = 4,
};

// One event inside a block. A plain aggregate of 20 bytes.
struct Event {
    // Frame inside the current block; the event queue fills it in when handing out.
    std::uint32_t frameOffset = 0;
    EventType type = EventType::NoteOn;
    // MIDI channel; in live instrument graphs the voice number the event is meant for.
    std::uint8_t channel = 0;
    // Note number, or the controller number of a control change.
    std::uint8_t note = 0;
    // Velocity, or the controller value of a control change.
    std::uint8_t velocity = 0;
    // Knob index of a parameter change.
    std::uint32_t param = 0;
    // New knob value of a parameter change; bend amount -1..1 of a pitch bend.
    float value = 0.0f;
    // Linear ramp length of a parameter change in frames; below 1 the value jumps.
    std::int32_t rampFrames = 0;
};

// An event stamped with a frame of the engine's sample clock; -1 means as soon as possible.
struct TimedEvent {
    std::int64_t time = -1;
    Event event;
};

static_assert(sizeof(TimedEvent) == 32, "the event ring holds 32-byte slots");

}  // namespace ostrel::engine
