#include "playback/live/VoiceAllocator.h"

#include "engine/Event.h"

#include <algorithm>

namespace ostrel::engine { inline namespace playback {
namespace {

constexpr std::uint8_t kNoteOn = static_cast<std::uint8_t>(EventType::NoteOn);
constexpr std::uint8_t kNoteOff = static_cast<std::uint8_t>(EventType::NoteOff);

bool validNote(int note) { return note >= 0 && note <= 127; }

VoiceAction noteOffAction(int voice, int note) {
    return VoiceAction{voice, kNoteOff, static_cast<std::uint32_t>(note), 0};
}

}  // namespace

VoiceAllocator::VoiceAllocator(int voices) : voiceCount_(std::clamp(voices, 1, kMaxVoices)) {}

VoiceAction VoiceAllocator::noteOn(int note, int velocity) {
    const VoiceAction ignored{kNoVoice, kNoteOn, static_cast<std::uint32_t>(note), static_cast<std::uint32_t>(velocity)};
    if (!validNote(note)) {
        return ignored;
    }
    if (mono()) {
        sustainedKeys_[static_cast<std::size_t>(note)] = false;
        return VoiceAction{0, kNoteOn, static_cast<std::uint32_t>(note), static_cast<std::uint32_t>(velocity)};
    }

    int chosen = -1;
    for (int v = voiceCount_ - 1; v >= 0 && chosen < 0; --v) {
        if (voices_[v].active && voices_[v].note == note) {
            chosen = v;
        }
    }
    // Smallest age wins and the lowest number breaks ties: strict < while scanning upwards.
    enum class Among { FreeVoices, AllVoices };
    auto oldest = [this](Among among) {
        const bool freeOnly = among == Among::FreeVoices;
        int best = -1;
        for (int v = 0; v < voiceCount_; ++v) {
            if (freeOnly && voices_[v].active) {
                continue;
            }
            if (best < 0 || voices_[v].age < voices_[best].age) {
                best = v;
            }
        }
        return best;
    };
    if (chosen < 0) {
        chosen = oldest(Among::FreeVoices);
    }
    if (chosen < 0) {
        chosen = oldest(Among::AllVoices);
    }

    Voice& voice = voices_[chosen];
    voice.note = note;
    voice.active = true;
    voice.heldBySustain = false;
    stamp(voice);
    return VoiceAction{chosen, kNoteOn, static_cast<std::uint32_t>(note), static_cast<std::uint32_t>(velocity)};
}

NoteRelease VoiceAllocator::noteOff(int note, VoiceAction& action) {
    if (!validNote(note)) {
        return NoteRelease::Nothing;
    }
    if (mono()) {
        if (sustain_) {
            sustainedKeys_[static_cast<std::size_t>(note)] = true;
            return NoteRelease::HeldByPedal;
        }
        action = noteOffAction(0, note);
        return NoteRelease::Now;
    }
    for (int v = 0; v < voiceCount_; ++v) {
        Voice& voice = voices_[v];
        if (!voice.active || voice.note != note || voice.heldBySustain) {
            continue;
        }
        if (sustain_) {
            voice.heldBySustain = true;
            return NoteRelease::HeldByPedal;
        }
        voice.active = false;
        stamp(voice);
        action = noteOffAction(v, note);
        return NoteRelease::Now;
    }
    return NoteRelease::Nothing;
}

std::vector<VoiceAction> VoiceAllocator::setSustain(bool down) {
    std::vector<VoiceAction> actions;
    if (down == sustain_) {
        return actions;
    }
    sustain_ = down;
    if (down) {
        return actions;
    }
    if (mono()) {
        for (int key = 0; key < 128; ++key) {
            if (sustainedKeys_[static_cast<std::size_t>(key)]) {
                sustainedKeys_[static_cast<std::size_t>(key)] = false;
                actions.push_back(noteOffAction(0, key));
            }
        }
        return actions;
    }
    for (int v = 0; v < voiceCount_; ++v) {
        Voice& voice = voices_[v];
        if (voice.active && voice.heldBySustain) {
            voice.active = false;
            voice.heldBySustain = false;
            stamp(voice);
            actions.push_back(noteOffAction(v, voice.note));
        }
    }
    return actions;
}

std::vector<VoiceAction> VoiceAllocator::releaseAll() {
    sustain_ = false;
    sustainedKeys_.fill(false);
    std::vector<VoiceAction> actions;
    if (mono()) {
        actions.reserve(128);
        for (int key = 0; key < 128; ++key) {
            actions.push_back(noteOffAction(0, key));
        }
        return actions;
    }
    for (int v = 0; v < voiceCount_; ++v) {
        if (voices_[v].active) {
            actions.push_back(noteOffAction(v, voices_[v].note));
        }
    }
    for (Voice& voice : voices_) {
        voice.active = false;
        voice.heldBySustain = false;
    }
    return actions;
}

void VoiceAllocator::reset() {
    voices_.fill(Voice{});
    sustainedKeys_.fill(false);
}

void VoiceAllocator::setVoiceCount(int voices) { voiceCount_ = std::clamp(voices, 1, kMaxVoices); }

} }  // namespace ostrel::engine::playback
