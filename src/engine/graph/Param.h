#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "engine/Event.h"

namespace ostrel::engine {

enum class ParamKind : std::uint8_t {
    Continuous = 0,
    Stepped = 1,  // used truncated toward zero
    OnOff = 2,    // on at 0.5 or more
};

// One row of a device's constant knob table.
struct ParamDescriptor {
    std::uint32_t index = 0;  // the row's position in its table
    const char* id = "";      // stable key in project, patch and preset files ("time_ms")
    const char* name = "";
    const char* unit = "";
    float min = 0.0f;
    float max = 1.0f;
    float defaultValue = 0.0f;
    ParamKind kind = ParamKind::Continuous;
    const char* help = "";
};

// The knob values of one device, with their linear ramps. Holds at most kMaxParams
// knobs; indexes at or beyond that or beyond the table are never stored or read.
//
// Belongs to the thread that runs the device, except that the GUI thread may call
// setValue on a running live device: each value is a relaxed atomic, so a reader sees
// the old or the new value, never a mixture. No call here allocates or locks.
class ParamBlock {
public:
    static constexpr std::size_t kMaxParams = 32;

    explicit ParamBlock(std::span<const ParamDescriptor> table);
    ParamBlock(const ParamBlock&) = delete;
    ParamBlock& operator=(const ParamBlock&) = delete;

    // The device's table, all rows (also those beyond kMaxParams).
    std::span<const ParamDescriptor> descriptors() const { return {descriptors_, count_}; }
    std::size_t count() const { return count_; }

    // 0 for an index without a stored knob.
    float value(std::uint32_t index) const;
    // Clamps to the row's range, turns a NaN into the default and snaps on/off knobs.
    // A running ramp on the knob goes on from the stored value.
    void setValue(std::uint32_t index, float value);
    // Audio thread (or the render worker). Never allocates, locks or logs.
    // Applies the block's parameter changes at the block's start, then moves running
    // ramps on by frames; a ramp's last block lands exactly on its target.
    void applyEvents(std::span<const Event> events, int frames);
    // No knob moves in this block: no parameter change among the events and no ramp running.
    bool atRest(std::span<const Event> events) const;

private:
    bool stored(std::uint32_t index) const;
    float applyRule(std::uint32_t index, float value) const;

    const ParamDescriptor* descriptors_;
    std::size_t count_;
    std::array<std::atomic<float>, kMaxParams> values_;
    std::array<float, kMaxParams> rampStep_{};
    std::array<float, kMaxParams> rampTarget_{};
    std::array<std::int32_t, kMaxParams> rampRemaining_{};
};

}  // namespace ostrel::engine
