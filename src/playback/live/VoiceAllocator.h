#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace ostrel::engine { inline namespace playback {

// One voice slot of a polyphonic instrument.
struct Voice {
    std::int32_t note = -1;      // the note it plays or last played; -1 before its first
    bool active = false;         // sounding: its key is down or the pedal holds it
    bool heldBySustain = false;  // key up, pedal down
    std::uint64_t age = 0;       // allocator counter at its last note on or off
};

// What the caller must send: a note on or off for one voice.
struct VoiceAction {
    std::int32_t voice = 0;
    std::uint8_t type = 0;  // EventType: 0 note on, 1 note off
    std::uint32_t note = 0;
    std::uint32_t velocity = 0;  // 0 for a note off
};

// The answer to a released key; the values are fixed (0, 1, 2).
enum class NoteRelease : int { Nothing = 0, HeldByPedal = 1, Now = 2 };

// Chooses the voice for each note (retrigger, else the free voice released longest ago, else
// steal the oldest) and keeps the sustain pedal. With one voice it is in mono mode: no voice
// state, every note on voice 0, the pedal holds keys. Used by one thread only.
class VoiceAllocator {
public:
    static constexpr int kMaxVoices = 8;
    static constexpr int kNoVoice = -1;

    explicit VoiceAllocator(int voices = kMaxVoices);

    // A note outside 0..127 changes nothing and answers voice kNoVoice, which is never sent.
    VoiceAction noteOn(int note, int velocity);

    // What became of the key: nothing sounded, the pedal now holds it, or action (a note
    // off) is to be sent.
    NoteRelease noteOff(int note, VoiceAction& action);

    // Note offs caused by the pedal change; only a release causes any.
    std::vector<VoiceAction> setSustain(bool down);

    // Note offs for everything that may sound; the pedal goes up.
    std::vector<VoiceAction> releaseAll();

    // Forgets every voice and marked key; keeps the count, the counter and the pedal.
    void reset();

    // Callers release every voice first.
    void setVoiceCount(int voices);

    int voiceCount() const { return voiceCount_; }
    bool sustain() const { return sustain_; }
    const Voice& voice(int index) const { return voices_[static_cast<std::size_t>(index)]; }

private:
    bool mono() const { return voiceCount_ == 1; }
    void stamp(Voice& voice) { voice.age = ++ageCounter_; }

    std::array<Voice, kMaxVoices> voices_{};
    std::array<bool, 128> sustainedKeys_{};
    int voiceCount_ = kMaxVoices;
    std::uint64_t ageCounter_ = 0;
    bool sustain_ = false;
};

} }  // namespace ostrel::engine::playback
