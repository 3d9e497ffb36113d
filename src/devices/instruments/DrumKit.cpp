#include "devices/instruments/DrumKit.h"

#include <string>

namespace ostrel::engine { inline namespace devices {

namespace {

DrumKitLayer tone(double coarse, double pitchAmount, double pitchDecayMs, double decayMs, double level) {
    DrumKitLayer layer;
    layer.tone = true;
    layer.coarse = coarse;
    layer.pitchAmount = pitchAmount;
    layer.pitchDecayMs = pitchDecayMs;
    layer.decayMs = decayMs;
    layer.level = level;
    return layer;
}

DrumKitLayer noise(int filterMode, double cutoffHz, double resonance, double decayMs, double level) {
    DrumKitLayer layer;
    layer.filterMode = filterMode;
    layer.cutoffHz = cutoffHz;
    layer.resonance = resonance;
    layer.decayMs = decayMs;
    layer.level = level;
    return layer;
}

constexpr int kGate = 1;
constexpr int kVelocity = 2;

}  // namespace

const std::vector<DrumKitVoice>& modularDrumKitVoices() {
    static const std::vector<DrumKitVoice> kit = {
        {"Kick", 36, {tone(-28, 2.0, 60, 320, 1.0)}},
        {"Snare", 38, {tone(-9, 0.5, 30, 110, 0.55), noise(1, 1200, 0.2, 180, 0.9)}},
        {"Clap", 39, {noise(2, 1400, 0.5, 140, 1.0)}},
        {"Low tom", 41, {tone(-19, 0.8, 80, 350, 1.0)}},
        {"Closed hat", 42, {noise(1, 7500, 0.15, 35, 0.8)}},
        {"High tom", 45, {tone(-12, 0.8, 80, 300, 1.0)}},
        {"Open hat", 46, {noise(1, 6500, 0.15, 260, 0.8)}},
        {"Crash", 49, {noise(1, 3500, 0.1, 900, 0.7)}},
    };
    return kit;
}

Patch makeModularDrums() {
    Patch patch;
    patch.name = "Modular Drums";
    patch.category = "drums";
    patch.voices = 1;
    int nextId = 0;
    PatchBuilder b(nextId, patch);

    std::vector<int> outputs;
    int drum = 0;
    for (const DrumKitVoice& voice : modularDrumKitVoices()) {
        const std::string name = voice.name;
        auto label = [&name](const char* part) { return name + part; };
        const double note = voice.note;
        const std::size_t firstNode = patch.nodes.size();
        const int key = b.addNode("ostrel.mod.keyboard", label(" key").c_str(), {{"output", kGate}, {"note", note}});
        const int velocity =
            b.addNode("ostrel.mod.keyboard", label(" velocity").c_str(), {{"output", kVelocity}, {"note", note}});

        for (const DrumKitLayer& layer : voice.layers) {
            int source = 0;
            if (layer.tone) {
                const int drop = b.addNode("ostrel.mod.adsr", label(" pitch drop").c_str(),
                                           {{"attack_ms", 0.5},
                                            {"decay_ms", layer.pitchDecayMs},
                                            {"sustain", 0.0},
                                            {"release_ms", 10.0}});
                const int amount =
                    b.addNode("ostrel.mod.attenuverter", label(" pitch amount").c_str(), {{"amount", layer.pitchAmount}});
                source = b.addNode("ostrel.mod.vco", label(" tone").c_str(),
                                   {{"waveform", 0.0}, {"coarse", layer.coarse}, {"level", layer.level}});
                b.connect(key, drop, 0);
                b.connect(drop, amount, 0);
                b.connect(amount, source, 0);
            } else {
                const int noiseNode = b.addNode("ostrel.mod.noise", label(" noise").c_str(), {{"level", layer.level}});
                source = b.addNode("ostrel.mod.vcf", label(" filter").c_str(),
                                   {{"mode", static_cast<double>(layer.filterMode)},
                                    {"cutoff_hz", layer.cutoffHz},
                                    {"resonance", layer.resonance},
                                    {"cv_amount", 0.0}});
                b.connect(noiseNode, source, 0);
            }
            // Sustain 0: the drum dies away even while the key is held.
            const int envelope = b.addNode(
                "ostrel.mod.adsr", label(" envelope").c_str(),
                {{"attack_ms", 0.5}, {"decay_ms", layer.decayMs}, {"sustain", 0.0}, {"release_ms", 20.0}});
            const int amplifier = b.addNode("ostrel.mod.vca", label(" amplifier").c_str(), {{"level", 1.0}});
            const int velocityAmp =
                b.addNode("ostrel.mod.vca", label(" velocity amplifier").c_str(), {{"level", 1.0}});
            b.connect(key, envelope, 0);
            b.connect(source, amplifier, 0);
            b.connect(envelope, amplifier, 1);
            b.connect(amplifier, velocityAmp, 0);
            b.connect(velocity, velocityAmp, 1);
            outputs.push_back(velocityAmp);
        }
        // Each drum sleeps on its own while it is silent.
        for (std::size_t i = firstNode; i < patch.nodes.size(); ++i) patch.nodes[i].voice = drum;
        ++drum;
    }

    const int mix = addMixerNode(patch, outputs, nextId, 0.5, 0.7);
    const int kitLevel = b.addNode("ostrel.mod.attenuverter", "Kit level", {{"amount", 1.0}});
    b.connect(mix, kitLevel, 0);
    patch.output = kitLevel;
    return patch;
}

} }  // namespace ostrel::engine::devices
