#pragma once

// The rules every device follows in `process`, written once: events first, the
// block's frame count, plugged-in inputs, one signal in channel 0 copied to the
// others, knob reading, and the note cursor with its voice and note filters.
// Everything here is inline and runs on the audio thread without allocating.

#include <algorithm>
#include <cstdint>
#include <span>

#include "engine/AudioBuffer.h"
#include "engine/Event.h"
#include "engine/graph/Node.h"
#include "engine/graph/Param.h"

namespace ostrel::engine { inline namespace devices { namespace rules {

// Applies the block's parameter changes and ramps, then gives the frames a module
// (or the FM synth, or the sampler) computes: 0 when there is nothing to do.
inline int beginModuleBlock(ParamBlock& params, const ProcessContext& ctx, const AudioBuffer& out) {
    params.applyEvents(ctx.events, ctx.frames);
    if (out.channels < 1) return 0;
    return std::max(0, std::min(out.frames, ctx.frames));
}

// An effect's block: frames and the channels it processes (at most two).
struct EffectBlock {
    int frames = 0;
    int channels = 0;
    bool empty() const { return frames < 1 || channels < 1; }
};

inline EffectBlock beginEffectBlock(ParamBlock& params, const ProcessContext& ctx, const AudioBuffer& out) {
    params.applyEvents(ctx.events, ctx.frames);
    return {std::max(0, std::min(out.frames, ctx.frames)), std::clamp(out.channels, 0, 2)};
}

// Input k is plugged in when the list reaches it and the entry is not null.
inline bool isPlugged(std::span<const AudioBuffer* const> inputs, std::size_t k) {
    return inputs.size() > k && inputs[k] != nullptr;
}

// Channel 0 of input k, or null when it is not plugged in or carries no samples
// for `frames` frames (a shorter buffer would be read past its end).
inline const float* inputSignal(std::span<const AudioBuffer* const> inputs, std::size_t k, int frames) {
    if (!isPlugged(inputs, k)) return nullptr;
    const AudioBuffer& in = *inputs[k];
    if (in.channels < 1 || in.frames < frames) return nullptr;
    return in.data.data();
}

// Left and right of an effect's input 0; a mono input feeds both. Both null when
// nothing usable is plugged in.
struct StereoIn {
    const float* left = nullptr;
    const float* right = nullptr;

    // Frame i of a side, or silence when nothing is plugged in: an effect with a
    // tail (an echo, a room) keeps ringing out after its input is pulled.
    float leftAt(int i) const { return left != nullptr ? left[i] : 0.0f; }
    float rightAt(int i) const { return right != nullptr ? right[i] : 0.0f; }
};

inline StereoIn stereoInput(std::span<const AudioBuffer* const> inputs, int frames) {
    const float* left = inputSignal(inputs, 0, frames);
    if (left == nullptr) return {};
    const AudioBuffer& in = *inputs[0];
    return {left, in.channels > 1 ? left + in.frames : left};
}

// An effect's output sides; right is null when the output has one channel.
struct StereoOut {
    float* left = nullptr;
    float* right = nullptr;

    // Writes frame i of both sides; a mono output drops the right value.
    void write(int i, float l, float r) const {
        left[i] = l;
        if (right != nullptr) right[i] = r;
    }
};

inline StereoOut stereoOutput(AudioBuffer& out, const EffectBlock& block) {
    return {out.channel(0), block.channels > 1 ? out.channel(1) : nullptr};
}

// Zeroes the first `frames` samples of every channel.
inline void clearFrames(AudioBuffer& out, int frames) {
    for (int c = 0; c < out.channels; ++c) std::fill_n(out.channel(c), frames, 0.0f);
}

// For a device that only processes what comes in: channel 0 of input k, or null after
// silencing the block's frames of `out` when nothing usable is plugged in.
inline const float* inputOrSilence(std::span<const AudioBuffer* const> inputs, std::size_t k, AudioBuffer& out,
                                   int frames) {
    const float* in = inputSignal(inputs, k, frames);
    if (in == nullptr) clearFrames(out, frames);
    return in;
}

// The same for an effect's stereo input 0.
inline StereoIn stereoInputOrSilence(std::span<const AudioBuffer* const> inputs, AudioBuffer& out, int frames) {
    const StereoIn in = stereoInput(inputs, frames);
    if (in.left == nullptr) clearFrames(out, frames);
    return in;
}

// Copies the first `frames` samples of channel 0 to every further channel.
inline void copyChannel0(AudioBuffer& out, int frames) {
    const float* first = out.channel(0);
    for (int c = 1; c < out.channels; ++c) std::copy_n(first, frames, out.channel(c));
}

// Knob readings after the events of the block are applied.
inline float knob(const ParamBlock& params, std::uint32_t index) { return params.value(index); }
// A stepped knob is used truncated toward zero.
inline int steppedKnob(const ParamBlock& params, std::uint32_t index) {
    return static_cast<int>(params.value(index));
}
// An on/off knob is on at 0.5 or more.
inline bool switchKnob(const ParamBlock& params, std::uint32_t index) { return params.value(index) >= 0.5f; }

enum class NoteAction : std::uint8_t { NoteOn, NoteOff, PitchBend };

// Whether pitch bend reaches the device; only the keyboard module takes it.
enum class Bend : std::uint8_t { Ignore, Take };

// Whether any of the block's events reaches a device that answers notes through these
// filters, by the NoteCursor's rules below. Cost: one pass over the block's events.
inline bool notesReach(std::span<const Event> events, int voiceFilter, int noteFilter, Bend bend) {
    for (const Event& e : events) {
        if (e.type == EventType::PitchBend) {
            if (bend == Bend::Take) return true;
            continue;
        }
        if (e.type != EventType::NoteOn && e.type != EventType::NoteOff) continue;
        if (voiceFilter >= 0 && e.channel != voiceFilter) continue;
        if (noteFilter >= 0 && e.note != noteFilter) continue;
        return true;
    }
    return false;
}

// For Node::rest: input k is unplugged (or unusable for `frames` frames), or carries
// exact zeros this block.
inline bool quietInput(std::span<const AudioBuffer* const> inputs, std::uint32_t silentInputs, std::size_t k,
                       int frames) {
    return inputSignal(inputs, k, frames) == nullptr || (k < 32 && (silentInputs >> k & 1u) != 0);
}

// Walks a block's events in order for a device that answers notes. Before frame i
// the device takes every event whose frameOffset is at most i. Only note on and
// note off are notes (a note on with velocity 0 is a note off); they pass the voice
// filter (channel) and the note filter when those are 0 or more. Pitch bend, when
// taken, passes no filter: it reaches every voice.
class NoteCursor {
public:
    NoteCursor(std::span<const Event> events, int voiceFilter, int noteFilter, Bend bend = Bend::Ignore)
        : events_(events), voiceFilter_(voiceFilter), noteFilter_(noteFilter), bend_(bend) {}

    // Walks frames 0..frames-1 of the block: before each frame calls
    // handle(NoteAction, const Event&) for every event due at or before it, then
    // run(from, to) for the stretch up to the next event's frame (at least one frame,
    // at most the block's end), in which nothing new arrives. Events stamped beyond a
    // shortened block are taken after the last stretch, so a note off is never lost
    // (a stuck note). `run` fills every frame of its stretch.
    template <class Handler, class Stretch>
    void walk(int frames, Handler&& handle, Stretch&& run) {
        for (int i = 0; i < frames;) {
            takeDue(i, handle);
            const int until = static_cast<int>(std::clamp<std::int64_t>(nextOffset(frames), i + 1, frames));
            run(i, until);
            i = until;
        }
        while (next_ < events_.size()) dispatch(events_[next_++], handle);
    }

private:
    template <class Handler>
    void dispatch(const Event& e, Handler& handle) {
        if (e.type == EventType::PitchBend) {
            if (bend_ == Bend::Take) handle(NoteAction::PitchBend, e);
            return;
        }
        if (e.type != EventType::NoteOn && e.type != EventType::NoteOff) return;
        if (voiceFilter_ >= 0 && e.channel != voiceFilter_) return;
        if (noteFilter_ >= 0 && e.note != noteFilter_) return;
        const bool on = e.type == EventType::NoteOn && e.velocity > 0;
        handle(on ? NoteAction::NoteOn : NoteAction::NoteOff, e);
    }

    template <class Handler>
    void takeDue(int frame, Handler& handle) {
        while (next_ < events_.size() && static_cast<std::int64_t>(events_[next_].frameOffset) <= frame) {
            dispatch(events_[next_++], handle);
        }
    }

    // The frame offset of the next untaken event, or `fallback` when none is left.
    std::int64_t nextOffset(std::int64_t fallback) const {
        return next_ < events_.size() ? static_cast<std::int64_t>(events_[next_].frameOffset) : fallback;
    }

    std::span<const Event> events_;
    std::size_t next_ = 0;
    int voiceFilter_;
    int noteFilter_;
    Bend bend_;
};

} } }  // namespace ostrel::engine::devices::rules
