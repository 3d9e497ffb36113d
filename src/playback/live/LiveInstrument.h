#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "devices/patches/Patch.h"
#include "engine/Event.h"
#include "engine/graph/DeviceNode.h"
#include "playback/AudioEngine.h"
#include "playback/live/VoiceAllocator.h"

namespace ostrel::engine { inline namespace playback {

// A module knob that one of the four sound knobs moves in the published graph.
struct KnobBinding {
    DeviceNode* node = nullptr;  // owned by the published graph
    std::uint32_t param = 0;
    std::int32_t knob = 0;  // sound knob 0..3
    float base = 0.0f;      // the module knob's value as built: the patch's or the default
    float min = 0.0f;
    float max = 0.0f;
};

// The instrument played by hand. Turns the current patch into a polyphonic graph,
// publishes it to the engine and posts key presses as events for the audio thread.
//
// GUI thread only. The audio thread sees only the published graph and the events; the
// knobs moved here are relaxed atomics inside that graph.
class LiveInstrument {
public:
    static constexpr int kBrightness = 0;  // filter cutoff, a quarter to four times the patch's
    static constexpr int kResonance = 1;   // filter resonance, the patch's -0.5 to +0.5
    static constexpr int kAttack = 2;      // "Amp envelope" attack, a tenth to ten times
    static constexpr int kRelease = 3;     // "Amp envelope" release, a tenth to ten times
    static constexpr int kSoundKnobs = 4;

    // Not owned; outlives the instrument. Starts with the first built-in instrument.
    explicit LiveInstrument(AudioEngine* engine);

    // False for a note outside 0..127 or a full event queue. A velocity below 1 becomes 1.
    bool noteOn(int note, int velocity);
    // True without an event when the pedal now holds the note; false when nothing sounds.
    bool noteOff(int note);
    // Controller 64 is the sustain pedal, down at a value (in `velocity`) of 64 or more;
    // anything else is queued as given, to be played as soon as possible.
    bool sendEvent(const Event& event);
    void setSustain(bool down);

    // The published graph matches the settings and the sound card has not been reopened.
    bool isReady() const;
    // Builds and publishes the graph unless ready. False with a reason when the card is
    // closed, the patch cannot be built or the engine refuses it; the old graph plays on.
    [[nodiscard]] bool rebuild(std::string* error);

    void setPatch(Patch&& patch);
    void setEffects(bool on);
    void setPolyphony(int voices);
    // Level 0..1 and sound knobs 0..1 take effect at once when ready, else at the next
    // rebuild. A value that is not a number is ignored.
    void setLevel(float level);
    void setSoundKnob(int knob, float value);

    const Patch& patch() const { return patch_; }
    bool effects() const { return effects_; }
    float level() const { return level_; }
    int polyphony() const { return polyphony_; }
    float soundKnob(int knob) const;
    // Its voice count is the number of voice copies played.
    const VoiceAllocator& voices() const { return voices_; }
    const std::vector<KnobBinding>& bindings() const { return bindings_; }
    const DeviceNode* levelNode() const { return levelNode_; }

private:
    bool postEvent(EventType type, int note, int velocity, int voice);
    void post(const std::vector<VoiceAction>& actions);
    void releaseAllVoices();
    void updateVoiceCount();
    void applyBinding(const KnobBinding& binding);
    float levelFactor() const { return voices_.voiceCount() > 1 ? 2.0f : 1.0f; }

    AudioEngine* engine_;
    Patch patch_;
    bool effects_ = false;
    float level_ = 0.7f;
    int polyphony_ = VoiceAllocator::kMaxVoices;
    VoiceAllocator voices_{VoiceAllocator::kMaxVoices};
    bool dirty_ = true;
    bool built_ = false;
    std::uint32_t builtForOpenCount_ = 0;
    std::array<float, kSoundKnobs> soundKnobs_{0.5f, 0.5f, 0.5f, 0.5f};
    std::vector<KnobBinding> bindings_;
    DeviceNode* levelNode_ = nullptr;
};

} }  // namespace ostrel::engine::playback
