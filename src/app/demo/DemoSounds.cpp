#include "app/demo/DemoSounds.h"

#include "audiofile/WavWriter.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ostrel::app {
namespace {

constexpr int kDrumFrames = kDemoSampleRate / 2;
constexpr int kChordFrames = 2 * kDemoSampleRate;
constexpr std::uint32_t kNoiseSeed = 12345;

}  // namespace

std::vector<float> demoDrumSamples(DemoDrum drum) {
    std::vector<float> samples(kDrumFrames, 0.0f);
    std::uint32_t state = kNoiseSeed;
    for (int i = 0; i < kDrumFrames; ++i) {
        const double t = static_cast<double>(i) / kDemoSampleRate;
        double value = 0.0;
        if (drum == DemoDrum::Kick) {
            // 440 Hz falling towards 140 Hz with a time constant of 1/30 s: the phase is the
            // integral of that frequency.
            value = std::sin(((1.0 - std::exp(-30.0 * t)) * 300.0 / 30.0 + 140.0 * t) * 6.2831853) *
                    std::exp(-9.0 * t);
        } else {
            state = state * 1664525u + 1013904223u;
            const double noise = static_cast<double>(state >> 8) * std::ldexp(1.0, -23) - 1.0;
            value = drum == DemoDrum::Snare ? std::exp(-20.0 * t) * noise : std::exp(-70.0 * t) * noise * 0.6;
        }
        samples[static_cast<std::size_t>(i)] = static_cast<float>(value * 0.9);
    }
    return samples;
}

void writeDemoDrumSample(const QString& folder, const QString& fileName, int kind) {
    const DemoDrum drum = kind == 0 ? DemoDrum::Kick : kind == 1 ? DemoDrum::Snare : DemoDrum::Hat;
    const std::vector<float> samples = demoDrumSamples(drum);
    (void)engine::writeWavFile(QFile::encodeName(folder + QStringLiteral("/") + fileName).toStdString(), samples, 1,
                               kDemoSampleRate, engine::WavFormat::Pcm16, nullptr);
}

std::vector<float> demoChordFrames() {
    std::vector<float> frames(static_cast<std::size_t>(kChordFrames) * 2, 0.0f);
    for (int i = 0; i < kChordFrames; ++i) {
        const double t = static_cast<double>(i) / kDemoSampleRate;
        const double envelope = std::min(4.0 * t, 1.0) * std::min(4.0 * (2.0 - t), 1.0);
        // C sharp, A and E in radians per second.
        const double value =
            (std::sin(1741.573301454 * t) + std::sin(1382.300766 * t) + std::sin(2071.1263704390003 * t)) * envelope *
            0.3;
        const auto sample = static_cast<float>(value);
        frames[2 * static_cast<std::size_t>(i)] = sample;
        frames[2 * static_cast<std::size_t>(i) + 1] = sample;
    }
    return frames;
}

}  // namespace ostrel::app
