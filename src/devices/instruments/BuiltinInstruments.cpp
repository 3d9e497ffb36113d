#include "devices/instruments/BuiltinInstruments.h"

#include <initializer_list>
#include <string>
#include <utility>

#include "devices/instruments/DrumKit.h"

namespace ostrel::engine { inline namespace devices {

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

// The end every modular voice shares: amp envelope, amplifier, and an amplifier on the
// key's velocity. Added as nodes first; wired by connectOutputStage once the caller's
// own cables are in, so cable order (and so the saved file) stays as it was.
struct OutputStage {
    int ampEnvelope;
    int amplifier;
    int velocity;
    int velocityAmplifier;
};

OutputStage addOutputStage(PatchBuilder& b, Knobs ampEnvelope) {
    OutputStage s;
    s.ampEnvelope = b.addNode("ostrel.mod.adsr", "Amp envelope", std::move(ampEnvelope));
    s.amplifier = b.addNode("ostrel.mod.vca", "Amplifier", {{"level", 1.0}});
    s.velocity = b.addNode("ostrel.mod.keyboard", "Velocity", {{"output", kVelocity}});
    s.velocityAmplifier = b.addNode("ostrel.mod.vca", "Velocity amplifier", {{"level", 1.0}});
    return s;
}

void connectOutputStage(PatchBuilder& b, Patch& patch, const OutputStage& s, int source) {
    b.connect(source, s.amplifier, 0);
    b.connect(s.ampEnvelope, s.amplifier, 1);
    b.connect(s.amplifier, s.velocityAmplifier, 0);
    b.connect(s.velocity, s.velocityAmplifier, 1);
    patch.output = s.velocityAmplifier;
}

// One FM operator's knobs; a time of kDefault is left out so the module's own default holds.
constexpr double kDefault = -1;

struct FmOperator {
    double ratio;
    double level;
    double attackMs;
    double decayMs;
    double sustain;
};

Knobs fmKnobs(Knobs common, std::initializer_list<FmOperator> operators) {
    int n = 1;
    for (const FmOperator& op : operators) {
        const std::string prefix = "op" + std::to_string(n++) + "_";
        common[prefix + "ratio"] = op.ratio;
        common[prefix + "level"] = op.level;
        if (op.attackMs >= 0) common[prefix + "attack_ms"] = op.attackMs;
        if (op.decayMs >= 0) common[prefix + "decay_ms"] = op.decayMs;
        common[prefix + "sustain"] = op.sustain;
    }
    return common;
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
    const OutputStage out = addOutputStage(b, std::move(ampEnvelope));

    b.connect(pitch, osc, 0);
    b.connect(gate, filterEnv, 0);
    b.connect(gate, out.ampEnvelope, 0);
    b.connect(osc, vcf, 0);
    b.connect(filterEnv, vcf, 1);  // cutoff control
    connectOutputStage(b, patch, out, vcf);
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
    const OutputStage out = addOutputStage(b, envelope(attackMs, 600, 0.85, releaseMs));

    b.connect(pitch, oscA, 0);
    b.connect(pitch, oscB, 0);
    b.connect(oscA, mix, 0);
    b.connect(oscB, mix, 1);
    b.connect(mix, vcf, 0);
    b.connect(sweep, vcf, 1);  // cutoff control
    b.connect(gate, out.ampEnvelope, 0);
    connectOutputStage(b, patch, out, vcf);
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

    list.push_back(makeFmPatch("FM E-Piano", fmKnobs({{"algorithm", 3}, {"release_ms", 250}},
                                                     {{1, 1.0, kDefault, 900, 0.05},
                                                      {1, 0.35, kDefault, 500, 0},
                                                      {1, 0.5, kDefault, 1200, 0.03},
                                                      {14, 0.2, kDefault, 60, 0}})));
    list.push_back(makeFmPatch("FM Bell", fmKnobs({{"algorithm", 3}, {"release_ms", 1500}},
                                                  {{1, 1.0, kDefault, 2500, 0},
                                                   {3.5, 0.55, kDefault, 1800, 0},
                                                   {2.76, 0.4, kDefault, 1400, 0},
                                                   {5.4, 0.35, kDefault, 900, 0}})));
    list.push_back(makeFmPatch("FM Bass", fmKnobs({{"algorithm", 0}, {"feedback", 0.25}, {"release_ms", 120}},
                                                  {{0.5, 1.0, kDefault, 400, 0.8},
                                                   {0.5, 0.45, kDefault, 250, 0.25},
                                                   {1, 0.3, kDefault, 150, 0.1},
                                                   {0.5, 0.15, kDefault, 200, 0.2}})));
    list.push_back(makeFmPatch("FM Brass", fmKnobs({{"algorithm", 2}, {"feedback", 0.2}, {"release_ms", 180}},
                                                   {{1, 1.0, 40, 400, 0.85},
                                                    {1, 0.7, 80, 500, 0.5},
                                                    {1, 0.35, 90, 500, 0.5},
                                                    {1, 0.25, 90, 500, 0.5}})));
    list.push_back(makeFmPatch("FM Pad", fmKnobs({{"algorithm", 6}, {"release_ms", 1600}},
                                                 {{1, 1.0, 700, 800, 0.8},
                                                  {2, 0.18, 900, 900, 0.7},
                                                  {1.005, 0.8, 800, 800, 0.8},
                                                  {0.995, 0.7, 900, 800, 0.8}})));
    list.push_back(makeFmPatch("FM Organ", fmKnobs({{"algorithm", 7}, {"release_ms", 80}},
                                                   {{1, 1.0, 5, kDefault, 1.0},
                                                    {2, 0.6, 5, kDefault, 1.0},
                                                    {3, 0.4, 5, kDefault, 1.0},
                                                    {4, 0.3, 5, kDefault, 1.0}})));
    return list;
}

} }  // namespace ostrel::engine::devices
