#include "playback/live/LiveInstrument.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "devices/instruments/BuiltinInstruments.h"
#include "devices/patches/PatchGraph.h"
#include "devices/patches/PolyphonicPatch.h"

namespace ostrel::engine { inline namespace playback {

namespace {

constexpr std::uint8_t kSustainController = 64;
// The graph player takes graphs built for blocks of up to this many frames.
constexpr std::uint32_t kGraphMaxBlock = AudioEngine::kMaxChunk;

Patch firstBuiltinPatch() {
    std::vector<Patch> patches = builtinPatches();
    return patches.empty() ? Patch{} : std::move(patches.front());
}

int effectiveVoices(const Patch& patch, int polyphony) {
    return std::clamp(std::min(patch.voices, polyphony), 1, VoiceAllocator::kMaxVoices);
}

// The module knob a sound knob maps to, at sound knob value k in 0..1.
float mappedValue(int knob, float base, float k) {
    switch (knob) {
        case LiveInstrument::kBrightness:
            return base * std::pow(4.0f, 2.0f * k - 1.0f);
        case LiveInstrument::kResonance:
            return base + (k - 0.5f);
        default:  // attack and release
            return base * std::pow(10.0f, 2.0f * k - 1.0f);
    }
}

}  // namespace

LiveInstrument::LiveInstrument(AudioEngine* engine) : engine_(engine), patch_(firstBuiltinPatch()) {
    voices_.setVoiceCount(effectiveVoices(patch_, polyphony_));
}

bool LiveInstrument::postEvent(EventType type, int note, int velocity, int voice) {
    if (note < 0 || note > 127 || voice < 0) return false;
    TimedEvent timed;
    timed.time = -1;  // as soon as possible
    timed.event.frameOffset = 0;
    timed.event.type = type;
    timed.event.channel = static_cast<std::uint8_t>(voice);  // the voice copy that answers
    timed.event.note = static_cast<std::uint8_t>(note);
    timed.event.velocity = static_cast<std::uint8_t>(std::clamp(velocity, 0, 127));
    return engine_->events().push(timed);
}

void LiveInstrument::post(const std::vector<VoiceAction>& actions) {
    for (const VoiceAction& action : actions) {
        postEvent(static_cast<EventType>(action.type), static_cast<int>(action.note),
                  static_cast<int>(action.velocity), action.voice);
    }
}

bool LiveInstrument::noteOn(int note, int velocity) {
    if (note < 0 || note > 127) return false;
    const VoiceAction action = voices_.noteOn(note, std::max(velocity, 1));
    return postEvent(EventType::NoteOn, note, static_cast<int>(action.velocity), action.voice);
}

bool LiveInstrument::noteOff(int note) {
    if (note < 0 || note > 127) return false;
    VoiceAction action;
    switch (voices_.noteOff(note, action)) {
        case NoteRelease::Nothing:
            return false;
        case NoteRelease::HeldByPedal:
            return true;  // the pedal holds it; its note off goes out when the pedal comes up
        default:
            return postEvent(EventType::NoteOff, note, 0, action.voice);
    }
}

bool LiveInstrument::sendEvent(const Event& event) {
    if (event.type == EventType::ControlChange && event.note == kSustainController) {
        // A control change carries its value in the velocity field.
        setSustain(event.velocity >= 64);
        return true;
    }
    TimedEvent timed;
    timed.time = -1;
    timed.event = event;
    timed.event.frameOffset = 0;
    return engine_->events().push(timed);
}

void LiveInstrument::setSustain(bool down) { post(voices_.setSustain(down)); }

bool LiveInstrument::isReady() const {
    return built_ && !dirty_ && engine_->backend().state() == BackendState::Running &&
           engine_->openCount() == builtForOpenCount_;
}

void LiveInstrument::releaseAllVoices() {
    const std::vector<VoiceAction> offs = voices_.releaseAll();
    // With the card closed there is no graph to hear them, and the queue is replaced at
    // the next open anyway.
    if (engine_->backend().state() == BackendState::Running) post(offs);
}

void LiveInstrument::updateVoiceCount() {
    const int count = effectiveVoices(patch_, polyphony_);
    if (count == voices_.voiceCount()) return;
    releaseAllVoices();
    voices_.setVoiceCount(count);
    dirty_ = true;
}

void LiveInstrument::setPatch(Patch&& patch) {
    releaseAllVoices();
    soundKnobs_.fill(0.5f);
    patch_ = std::move(patch);
    updateVoiceCount();
    dirty_ = true;
}

void LiveInstrument::setEffects(bool on) {
    if (on == effects_) return;
    effects_ = on;
    dirty_ = true;
}

void LiveInstrument::setPolyphony(int voices) {
    voices = std::clamp(voices, 1, VoiceAllocator::kMaxVoices);
    if (voices == polyphony_) return;
    polyphony_ = voices;
    updateVoiceCount();
}

void LiveInstrument::setLevel(float level) {
    if (std::isnan(level)) return;
    level_ = std::clamp(level, 0.0f, 1.0f);
    if (isReady() && levelNode_ != nullptr) levelNode_->params.setValue(0, level_ * levelFactor());
}

void LiveInstrument::setSoundKnob(int knob, float value) {
    if (knob < 0 || knob >= kSoundKnobs || std::isnan(value)) return;
    soundKnobs_[static_cast<std::size_t>(knob)] = std::clamp(value, 0.0f, 1.0f);
    if (!isReady()) return;
    for (const KnobBinding& binding : bindings_) {
        if (binding.knob == knob) applyBinding(binding);
    }
}

float LiveInstrument::soundKnob(int knob) const {
    return knob >= 0 && knob < kSoundKnobs ? soundKnobs_[static_cast<std::size_t>(knob)] : 0.0f;
}

void LiveInstrument::applyBinding(const KnobBinding& binding) {
    const float k = soundKnobs_[static_cast<std::size_t>(binding.knob)];
    float value = mappedValue(binding.knob, binding.base, k);
    if (value < binding.min) value = binding.min;
    if (value > binding.max) value = binding.max;
    binding.node->params.setValue(binding.param, value);
}

bool LiveInstrument::rebuild(std::string* error) {
    if (isReady()) return true;
    if (engine_->backend().state() != BackendState::Running) {
        if (error != nullptr) *error = "the sound card is not open";
        return false;
    }

    int levelId = 0;
    const Patch poly = makePolyphonicPatch(patch_, level_, effects_ ? VoiceEffects::EchoAndRoom : VoiceEffects::None,
                                           voices_.voiceCount(), &levelId);
    const AudioConfig& config = engine_->config();
    PatchGraph built = buildPatchGraph(poly, config.sampleRate, kGraphMaxBlock, config.channels, error);
    if (built.graph == nullptr) return false;

    const auto level = built.nodesById.find(levelId);
    DeviceNode* levelNode = level == built.nodesById.end() ? nullptr : level->second;
    if (!engine_->publishGraph(std::move(built.graph))) {
        if (error != nullptr) *error = "the sound engine did not accept the instrument";
        return false;
    }

    bindings_.clear();
    const auto bind = [this](DeviceNode* node, const char* id, int knob) {
        std::uint32_t index = 0;
        if (!node->findParameter(id, index)) return;
        const ParamDescriptor& row = node->params.descriptors()[index];
        bindings_.push_back({node, index, knob, node->params.value(index), row.min, row.max});
    };
    for (const PatchNode& node : poly.nodes) {
        const auto found = built.nodesById.find(node.id);
        if (found == built.nodesById.end()) continue;
        if (node.device == "ostrel.mod.vcf") {
            bind(found->second, "cutoff_hz", kBrightness);
            bind(found->second, "resonance", kResonance);
        } else if (node.device == "ostrel.mod.adsr" && node.label == "Amp envelope") {
            bind(found->second, "attack_ms", kAttack);
            bind(found->second, "release_ms", kRelease);
        }
    }

    levelNode_ = levelNode;
    builtForOpenCount_ = engine_->openCount();
    dirty_ = false;
    built_ = true;
    // The new graph starts with every voice free; the pedal stays where it is.
    voices_.reset();
    for (const KnobBinding& binding : bindings_) applyBinding(binding);
    return true;
}

} }  // namespace ostrel::engine::playback
