#include "devices/BuiltinInstruments.h"

#include <utility>

#include "devices/DrumKit.h"

namespace ostrel::engine {

namespace {

using Knobs = std::map<std::string, double>;

// Keyboard "output" knob values.
constexpr double kPitch = 0;
constexpr double kGate = 1;
constexpr double kVelocity = 2;

// Oscillator waveforms.
constexpr int kSine = 0;
constexpr int kTriangle = 1;
constexpr int kSaw = 2;
constexpr int kSquare = 3;

Knobs envelope(double attackMs, double decayMs, double sustain, double releaseMs) {
    return {{"attack_ms", attackMs}, {"decay_ms", decayMs}, {"sustain", sustain}, {"release_ms", releaseMs}};
}

Knobs lowPass(double cutoffHz, double resonance) {
    return {{"mode", 0.0}, {"cutoff_hz", cutoffHz}, {"resonance", resonance}};
}

}  // namespace

Patch makeBasicVoicePatch(const char* name, Knobs oscillator, Knobs filter, Knobs ampEnvelope, Knobs filterEnvelope,
                          double cvAmount) {
    Patch patch;
    patch.name = name;
    int nextId = 0;
    PatchBuilder b(nextId, patch);
    filter["cv_amount"] = cvAmount;

    const int pitch = b.addNode("ostrel.mod.keyboard", "Pitch", {{"output", kPitch}});
    const int gate = b.addNode("ostrel.mod.keyboard", "Gate", {{"output", kGate}});
    const int osc = b.addNode("ostrel.mod.vco", "Oscillator", std::move(oscillator));
    const int filterEnv = b.addNode("ostrel.mod.adsr", "Filter envelope", std::move(filterEnvelope));
    const int vcf = b.addNode("ostrel.mod.vcf", "Filter", std::move(filter));
    const int ampEnv = b.addNode("ostrel.mod.adsr", "Amp envelope", std::move(ampEnvelope));
    const int amp = b.addNode("ostrel.mod.vca", "Amplifier", {{"level", 1.0}});
    const int velocity = b.addNode("ostrel.mod.keyboard", "Velocity", {{"output", kVelocity}});
    const int velocityAmp = b.addNode("ostrel.mod.vca", "Velocity amplifier", {{"level", 1.0}});

    b.connect(pitch, osc, 0);
    b.connect(gate, filterEnv, 0);
    b.connect(gate, ampEnv, 0);
    b.connect(osc, vcf, 0);
    b.connect(filterEnv, vcf, 1);  // cutoff control
    b.connect(vcf, amp, 0);
    b.connect(ampEnv, amp, 1);
    b.connect(amp, velocityAmp, 0);
    b.connect(velocity, velocityAmp, 1);
    patch.output = velocityAmp;
    return patch;
}

Patch makePadPatch(const char* name, int waveform, double detuneCents, double cutoffHz, double resonance,
                   double attackMs, double releaseMs, double sweepRateHz, double cvAmount) {
    Patch patch;
    patch.name = name;
    patch.category = "pad";
    int nextId = 0;
    PatchBuilder b(nextId, patch);
    const double wave = waveform;

    const int pitch = b.addNode("ostrel.mod.keyboard", "Pitch", {{"output", kPitch}});
    const int gate = b.addNode("ostrel.mod.keyboard", "Gate", {{"output", kGate}});
    const int oscA =
        b.addNode("ostrel.mod.vco", "Oscillator A", {{"waveform", wave}, {"fine", -detuneCents}, {"level", 0.6}});
    const int oscB =
        b.addNode("ostrel.mod.vco", "Oscillator B", {{"waveform", wave}, {"fine", detuneCents}, {"level", 0.6}});
    const int mix = b.addNode("ostrel.mod.mixer", "Mix", {{"level_1", 0.5}, {"level_2", 0.5}});
    const int sweep = b.addNode("ostrel.mod.lfo", "Slow sweep",
                                {{"rate_hz", sweepRateHz}, {"waveform", kTriangle}, {"depth", 1.0}});
    const int vcf = b.addNode(
        "ostrel.mod.vcf", "Filter",
        {{"mode", 0.0}, {"cutoff_hz", cutoffHz}, {"resonance", resonance}, {"cv_amount", cvAmount}});
    const int ampEnv = b.addNode("ostrel.mod.adsr", "Amp envelope", envelope(attackMs, 600, 0.85, releaseMs));
    const int amp = b.addNode("ostrel.mod.vca", "Amplifier", {{"level", 1.0}});
    const int velocity = b.addNode("ostrel.mod.keyboard", "Velocity", {{"output", kVelocity}});
    const int velocityAmp = b.addNode("ostrel.mod.vca", "Velocity amplifier", {{"level", 1.0}});

    b.connect(pitch, oscA, 0);
    b.connect(pitch, oscB, 0);
    b.connect(oscA, mix, 0);
    b.connect(oscB, mix, 1);
    b.connect(mix, vcf, 0);
    b.connect(sweep, vcf, 1);  // cutoff control
    b.connect(gate, ampEnv, 0);
    b.connect(vcf, amp, 0);
    b.connect(ampEnv, amp, 1);
    b.connect(amp, velocityAmp, 0);
    b.connect(velocity, velocityAmp, 1);
    patch.output = velocityAmp;
    return patch;
}

Patch makeFmPatch(const char* name, Knobs knobs) {
    Patch patch;
    patch.name = name;
    patch.category = "fm";
    int nextId = 0;
    PatchBuilder b(nextId, patch);
    patch.output = b.addNode("ostrel.mod.fm", "FM synth", std::move(knobs));
    return patch;
}

std::vector<Patch> builtinPatches() {
    std::vector<Patch> list;
    list.reserve(19);

    list.push_back(makeBasicVoicePatch("Modular Lead", {{"waveform", kSaw}, {"level", 0.6}}, lowPass(700, 0.45),
                                       envelope(4, 300, 0.7, 250), envelope(2, 450, 0.25, 300), 2.5));
    list.push_back(withCategory(
        "bass", makeBasicVoicePatch("Modular Bass",
                                    {{"waveform", kSquare}, {"coarse", -24}, {"pulse_width", 0.4}, {"level", 0.4}},
                                    lowPass(180, 0.3), envelope(2, 200, 0.8, 120), envelope(1, 180, 0.1, 120), 3.0)));

    Patch modularPad = makePadPatch("Modular Pad", kSaw, 7, 1400, 0.25, 700, 1400, 0.25, 0.8);
    modularPad.nodes[3].parameters["coarse"] = 0.0;  // "Oscillator B"
    list.push_back(std::move(modularPad));

    list.push_back(makeModularDrums());

    list.push_back(makeBasicVoicePatch("Square Lead", {{"waveform", kSquare}, {"pulse_width", 0.5}, {"level", 0.45}},
                                       lowPass(1800, 0.3), envelope(3, 250, 0.75, 220), envelope(2, 350, 0.4, 250),
                                       1.5));
    list.push_back(makeBasicVoicePatch("Soft Pluck", {{"waveform", kSaw}, {"level", 0.5}}, lowPass(500, 0.2),
                                       envelope(1, 260, 0, 200), envelope(1, 220, 0, 150), 3.5));
    list.push_back(makeBasicVoicePatch("Glass Bell", {{"waveform", kSine}, {"coarse", 12}, {"level", 0.5}},
                                       lowPass(6000, 0.1), envelope(1, 1400, 0, 900), envelope(1, 500, 0.3, 300), 0.5));
    list.push_back(makeBasicVoicePatch("Acid Saw", {{"waveform", kSaw}, {"level", 0.45}}, lowPass(300, 0.75),
                                       envelope(1, 160, 0.6, 80), envelope(1, 230, 0, 100), 3.5));
    list.push_back(withCategory(
        "bass", makeBasicVoicePatch("Sub Bass", {{"waveform", kSine}, {"coarse", -24}, {"level", 0.7}},
                                    lowPass(400, 0.1), envelope(2, 120, 1.0, 120), envelope(1, 100, 1.0, 100), 0.2)));
    list.push_back(withCategory(
        "bass", makeBasicVoicePatch("Growl Bass", {{"waveform", kSaw}, {"coarse", -24}, {"level", 0.35}},
                                    lowPass(220, 0.55), envelope(2, 200, 0.8, 120), envelope(1, 260, 0.15, 150), 4.0)));
    list.push_back(withCategory(
        "bass", makeBasicVoicePatch("Square Bass",
                                    {{"waveform", kSquare}, {"coarse", -24}, {"pulse_width", 0.25}, {"level", 0.35}},
                                    lowPass(350, 0.25), envelope(2, 180, 0.85, 100), envelope(1, 150, 0.2, 100), 2.0)));

    list.push_back(makePadPatch("Warm Strings", kSaw, 12, 1000, 0.15, 450, 900, 0.2, 0.6));
    list.push_back(makePadPatch("Glass Pad", kTriangle, 5, 3200, 0.2, 900, 1600, 0.15, 0.8));

    list.push_back(makeFmPatch("FM E-Piano", {{"algorithm", 3},
                                              {"release_ms", 250},
                                              {"op1_ratio", 1},
                                              {"op1_level", 1.0},
                                              {"op1_decay_ms", 900},
                                              {"op1_sustain", 0.05},
                                              {"op2_ratio", 1},
                                              {"op2_level", 0.35},
                                              {"op2_decay_ms", 500},
                                              {"op2_sustain", 0},
                                              {"op3_ratio", 1},
                                              {"op3_level", 0.5},
                                              {"op3_decay_ms", 1200},
                                              {"op3_sustain", 0.03},
                                              {"op4_ratio", 14},
                                              {"op4_level", 0.2},
                                              {"op4_decay_ms", 60},
                                              {"op4_sustain", 0}}));
    list.push_back(makeFmPatch("FM Bell", {{"algorithm", 3},
                                           {"release_ms", 1500},
                                           {"op1_ratio", 1},
                                           {"op1_level", 1.0},
                                           {"op1_decay_ms", 2500},
                                           {"op1_sustain", 0},
                                           {"op2_ratio", 3.5},
                                           {"op2_level", 0.55},
                                           {"op2_decay_ms", 1800},
                                           {"op2_sustain", 0},
                                           {"op3_ratio", 2.76},
                                           {"op3_level", 0.4},
                                           {"op3_decay_ms", 1400},
                                           {"op3_sustain", 0},
                                           {"op4_ratio", 5.4},
                                           {"op4_level", 0.35},
                                           {"op4_decay_ms", 900},
                                           {"op4_sustain", 0}}));
    list.push_back(makeFmPatch("FM Bass", {{"algorithm", 0},
                                           {"feedback", 0.25},
                                           {"release_ms", 120},
                                           {"op1_ratio", 0.5},
                                           {"op1_level", 1.0},
                                           {"op1_decay_ms", 400},
                                           {"op1_sustain", 0.8},
                                           {"op2_ratio", 0.5},
                                           {"op2_level", 0.45},
                                           {"op2_decay_ms", 250},
                                           {"op2_sustain", 0.25},
                                           {"op3_ratio", 1},
                                           {"op3_level", 0.3},
                                           {"op3_decay_ms", 150},
                                           {"op3_sustain", 0.1},
                                           {"op4_ratio", 0.5},
                                           {"op4_level", 0.15},
                                           {"op4_decay_ms", 200},
                                           {"op4_sustain", 0.2}}));
    list.push_back(makeFmPatch("FM Brass", {{"algorithm", 2},
                                            {"feedback", 0.2},
                                            {"release_ms", 180},
                                            {"op1_ratio", 1},
                                            {"op1_level", 1.0},
                                            {"op1_attack_ms", 40},
                                            {"op1_decay_ms", 400},
                                            {"op1_sustain", 0.85},
                                            {"op2_ratio", 1},
                                            {"op2_level", 0.7},
                                            {"op2_attack_ms", 80},
                                            {"op2_decay_ms", 500},
                                            {"op2_sustain", 0.5},
                                            {"op3_ratio", 1},
                                            {"op3_level", 0.35},
                                            {"op3_attack_ms", 90},
                                            {"op3_decay_ms", 500},
                                            {"op3_sustain", 0.5},
                                            {"op4_ratio", 1},
                                            {"op4_level", 0.25},
                                            {"op4_attack_ms", 90},
                                            {"op4_decay_ms", 500},
                                            {"op4_sustain", 0.5}}));
    list.push_back(makeFmPatch("FM Pad", {{"algorithm", 6},
                                          {"release_ms", 1600},
                                          {"op1_ratio", 1},
                                          {"op1_level", 1.0},
                                          {"op1_attack_ms", 700},
                                          {"op1_decay_ms", 800},
                                          {"op1_sustain", 0.8},
                                          {"op2_ratio", 2},
                                          {"op2_level", 0.18},
                                          {"op2_attack_ms", 900},
                                          {"op2_decay_ms", 900},
                                          {"op2_sustain", 0.7},
                                          {"op3_ratio", 1.005},
                                          {"op3_level", 0.8},
                                          {"op3_attack_ms", 800},
                                          {"op3_decay_ms", 800},
                                          {"op3_sustain", 0.8},
                                          {"op4_ratio", 0.995},
                                          {"op4_level", 0.7},
                                          {"op4_attack_ms", 900},
                                          {"op4_decay_ms", 800},
                                          {"op4_sustain", 0.8}}));
    list.push_back(makeFmPatch("FM Organ", {{"algorithm", 7},
                                            {"release_ms", 80},
                                            {"op1_ratio", 1},
                                            {"op1_level", 1.0},
                                            {"op1_attack_ms", 5},
                                            {"op1_sustain", 1.0},
                                            {"op2_ratio", 2},
                                            {"op2_level", 0.6},
                                            {"op2_attack_ms", 5},
                                            {"op2_sustain", 1.0},
                                            {"op3_ratio", 3},
                                            {"op3_level", 0.4},
                                            {"op3_attack_ms", 5},
                                            {"op3_sustain", 1.0},
                                            {"op4_ratio", 4},
                                            {"op4_level", 0.3},
                                            {"op4_attack_ms", 5},
                                            {"op4_sustain", 1.0}}));
    return list;
}

}  // namespace ostrel::engine
