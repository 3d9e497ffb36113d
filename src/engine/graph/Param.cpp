#include "engine/graph/Param.h"

#include <algorithm>
#include <cmath>

namespace ostrel::engine {

ParamBlock::ParamBlock(std::span<const ParamDescriptor> table)
    : descriptors_(table.data()), count_(table.size()) {
    for (std::size_t i = 0; i < kMaxParams; ++i) {
        const float initial = i < count_ ? descriptors_[i].defaultValue : 0.0f;
        values_[i].store(initial, std::memory_order_relaxed);
    }
}

bool ParamBlock::stored(std::uint32_t index) const {
    return index < count_ && index < kMaxParams;
}

float ParamBlock::applyRule(std::uint32_t index, float value) const {
    const ParamDescriptor& row = descriptors_[index];
    if (std::isnan(value)) {
        value = row.defaultValue;
    } else if (value > row.max) {
        value = row.max;
    } else if (value < row.min) {
        value = row.min;
    }
    if (row.kind == ParamKind::OnOff) {
        value = value >= 0.5f ? 1.0f : 0.0f;
    }
    return value;
}

float ParamBlock::value(std::uint32_t index) const {
    if (!stored(index)) {
        return 0.0f;
    }
    // Relaxed: a single knob value, read whole; nothing else is ordered by it.
    return values_[index].load(std::memory_order_relaxed);
}

void ParamBlock::setValue(std::uint32_t index, float value) {
    if (!stored(index)) {
        return;
    }
    values_[index].store(applyRule(index, value), std::memory_order_relaxed);
}

bool ParamBlock::atRest(std::span<const Event> events) const {
    for (const Event& event : events) {
        if (event.type == EventType::ParamChange) {
            return false;
        }
    }
    const std::size_t knobs = std::min(count_, kMaxParams);
    for (std::size_t i = 0; i < knobs; ++i) {
        if (rampRemaining_[i] > 0) {
            return false;
        }
    }
    return true;
}

void ParamBlock::applyEvents(std::span<const Event> events, int frames) {
    for (const Event& event : events) {
        if (event.type != EventType::ParamChange || !stored(event.param)) {
            continue;
        }
        const std::uint32_t p = event.param;
        if (event.rampFrames < 1) {
            setValue(p, event.value);
            rampRemaining_[p] = 0;
            continue;
        }
        // The value rule also turns a NaN target into the default, so a ramp
        // never walks the knob through NaN.
        const float target = applyRule(p, event.value);
        rampTarget_[p] = target;
        rampStep_[p] = (target - values_[p].load(std::memory_order_relaxed)) / static_cast<float>(event.rampFrames);
        rampRemaining_[p] = event.rampFrames;
    }
    if (frames < 1) {
        return;
    }
    const std::size_t knobs = std::min(count_, kMaxParams);
    for (std::size_t i = 0; i < knobs; ++i) {
        if (rampRemaining_[i] <= 0) {
            continue;
        }
        const std::int32_t m = std::min(rampRemaining_[i], static_cast<std::int32_t>(frames));
        rampRemaining_[i] -= m;
        const float v = rampRemaining_[i] > 0
                            ? values_[i].load(std::memory_order_relaxed) + static_cast<float>(m) * rampStep_[i]
                            : rampTarget_[i];
        values_[i].store(applyRule(static_cast<std::uint32_t>(i), v), std::memory_order_relaxed);
    }
}

}  // namespace ostrel::engine
