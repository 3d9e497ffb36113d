// Cost of one 512-frame block of each modular module, and of one whole voice
// (keyboard, two oscillators, filter, two envelopes, amplifier) at 48 kHz.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/DeviceCatalog.h"
#include "devices/modules/AdsrNode.h"
#include "devices/modules/KeyboardCvNode.h"
#include "devices/modules/LfoNode.h"
#include "devices/modules/MixModule.h"
#include "devices/modules/SamplerNode.h"
#include "devices/modules/VcaNode.h"
#include "devices/modules/VcfNode.h"
#include "devices/modules/VcoNode.h"

#include "BenchSupport.h"

namespace {

using namespace ostrel::engine;

constexpr int kBlock = 512;
constexpr double kRate = 48000.0;

AudioBuffer signal(float hz) {
    AudioBuffer b(1, kBlock);
    for (int i = 0; i < kBlock; ++i) b.channel(0)[i] = 0.8f * std::sin(6.2831853f * hz * i / static_cast<float>(kRate));
    return b;
}

void moduleBlock(benchmark::State& state, const char* typeId) {
    std::unique_ptr<DeviceNode> device = createDevice(typeId);
    device->prepare(kRate);
    if (auto* sampler = dynamic_cast<SamplerNode*>(device.get())) {
        auto sound = std::make_shared<AudioData>();
        sound->channels = 2;
        sound->sampleRate = 44100.0;
        sound->frames = 44100;
        sound->samples.assign(2 * 44100, 0.25f);
        sampler->sample = sound;
        std::uint32_t loop = 0;
        ostrel::bench::require(sampler->findParameter("loop", loop), "the sampler's loop knob");
        sampler->params.setValue(loop, 1.0f);
    }
    // Pitch-like inputs that move, so the filter recomputes its coefficients every frame.
    // Two sets taken in turn: modules that keep the last block they computed per thread
    // (voices in step share it) would otherwise copy the same block every time.
    const AudioBuffer in0 = signal(220.0f), in1 = signal(3.0f), other0 = signal(223.0f), other1 = signal(3.1f);
    const AudioBuffer* inputs[] = {&in0, &in1, &in0, &in1};
    const AudioBuffer* otherInputs[] = {&other0, &other1, &other0, &other1};
    AudioBuffer out(2, kBlock);
    Event on{};
    on.type = EventType::NoteOn;
    on.note = 60;
    on.velocity = 100;
    const Event events[] = {on};
    ProcessContext ctx;
    ctx.frames = kBlock;
    ctx.sampleRate = kRate;
    ctx.events = events;
    device->process(ctx, inputs, out);
    ctx.events = {};
    bool other = false;
    for (auto _ : state) {
        other = !other;
        device->process(ctx, other ? otherInputs : inputs, out);
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}

BENCHMARK_CAPTURE(moduleBlock, keyboard, "ostrel.mod.keyboard");
BENCHMARK_CAPTURE(moduleBlock, vco, "ostrel.mod.vco");
BENCHMARK_CAPTURE(moduleBlock, vcf, "ostrel.mod.vcf");
BENCHMARK_CAPTURE(moduleBlock, vca, "ostrel.mod.vca");
BENCHMARK_CAPTURE(moduleBlock, adsr, "ostrel.mod.adsr");
BENCHMARK_CAPTURE(moduleBlock, lfo, "ostrel.mod.lfo");
BENCHMARK_CAPTURE(moduleBlock, noise, "ostrel.mod.noise");
BENCHMARK_CAPTURE(moduleBlock, attenuverter, "ostrel.mod.attenuverter");
BENCHMARK_CAPTURE(moduleBlock, mixer, "ostrel.mod.mixer");
BENCHMARK_CAPTURE(moduleBlock, sampler, "ostrel.mod.sampler");

// Keyboard (pitch and gate copies), two detuned saws mixed, a filter swept by its own
// envelope, an amplifier envelope: the shape of a typical built-in voice.
void fullVoiceBlock(benchmark::State& state) {
    KeyboardCvNode pitch, gate;
    VcoNode osc1, osc2;
    MixModule mix;
    VcfNode filter;
    AdsrNode filterEnv, ampEnv;
    VcaNode amp;
    std::uint32_t index = 0;
    ostrel::bench::require(gate.findParameter("output", index), "the gate's output knob");
    gate.params.setValue(index, 1.0f);
    ostrel::bench::require(osc2.findParameter("fine", index), "the oscillator's fine knob");
    osc2.params.setValue(index, 7.0f);
    for (Node* n : std::initializer_list<Node*>{&pitch, &gate, &osc1, &osc2, &mix, &filter, &filterEnv, &ampEnv, &amp})
        n->prepare(kRate);
    AudioBuffer p(1, kBlock), g(1, kBlock), o1(1, kBlock), o2(1, kBlock), m(1, kBlock), f(1, kBlock),
        fe(1, kBlock), ae(1, kBlock), out(2, kBlock);
    Event on{};
    on.type = EventType::NoteOn;
    on.note = 60;
    on.velocity = 100;
    const Event events[] = {on};
    ProcessContext first;
    first.frames = kBlock;
    first.sampleRate = kRate;
    first.events = events;
    ProcessContext ctx = first;
    ctx.events = {};
    auto block = [&](const ProcessContext& c) {
        pitch.process(c, {}, p);
        gate.process(c, {}, g);
        const AudioBuffer* pin[] = {&p};
        osc1.process(ctx, pin, o1);
        osc2.process(ctx, pin, o2);
        const AudioBuffer* min[] = {&o1, &o2};
        mix.process(ctx, min, m);
        const AudioBuffer* gin[] = {&g};
        filterEnv.process(ctx, gin, fe);
        ampEnv.process(ctx, gin, ae);
        const AudioBuffer* fin[] = {&m, &fe};
        filter.process(ctx, fin, f);
        const AudioBuffer* ain[] = {&f, &ae};
        amp.process(ctx, ain, out);
    };
    block(first);
    for (auto _ : state) {
        block(ctx);
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(fullVoiceBlock);

// An envelope under a key held for a second and let go for a second, block by block:
// attack, decay, a long sustain, release and silence, as a pad's voice spends its time.
void envelopeHeldKey(benchmark::State& state) {
    AdsrNode env;
    env.prepare(kRate);
    std::uint32_t index = 0;
    ostrel::bench::require(env.findParameter("release_ms", index), "the envelope's release knob");
    env.params.setValue(index, 800.0f);
    AudioBuffer open(1, kBlock), closed(1, kBlock), out(1, kBlock);
    std::fill_n(open.channel(0), kBlock, 1.0f);
    ProcessContext ctx;
    ctx.frames = kBlock;
    ctx.sampleRate = kRate;
    constexpr int kBlocksPerSecond = static_cast<int>(kRate) / kBlock;
    int block = 0;
    for (auto _ : state) {
        const AudioBuffer* gate[] = {block++ % (2 * kBlocksPerSecond) < kBlocksPerSecond ? &open : &closed};
        env.process(ctx, gate, out);
        benchmark::DoNotOptimize(out.data.data());
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(envelopeHeldKey);

// Six voices' LFOs with no restart input, in step as a chord's voices run them: a slow
// triangle into each filter's cutoff. Items: frames of one voice.
void lfoChord(benchmark::State& state) {
    LfoNode lfos[6];
    std::uint32_t index = 0;
    for (LfoNode& l : lfos) {
        l.prepare(kRate);
        ostrel::bench::require(l.findParameter("waveform", index), "the LFO's waveform knob");
        l.params.setValue(index, 1.0f);
        ostrel::bench::require(l.findParameter("rate_hz", index), "the LFO's rate knob");
        l.params.setValue(index, 0.25f);
    }
    AudioBuffer out(1, kBlock);
    ProcessContext ctx;
    ctx.frames = kBlock;
    ctx.sampleRate = kRate;
    for (auto _ : state) {
        for (LfoNode& l : lfos) {
            l.process(ctx, {}, out);
            benchmark::DoNotOptimize(out.data.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(lfoChord);

}  // namespace
