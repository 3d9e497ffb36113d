#include "audiofile/Peaks.h"
#include "audiofile/Resample.h"
#include "audiofile/WavReader.h"
#include "audiofile/WavWriter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "BenchSupport.h"

using namespace ostrel::engine;

namespace {

constexpr int kRate = 44100;

std::vector<float> tone(double seconds) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * kRate) * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 0.5f * static_cast<float>(std::sin(0.0314 * static_cast<double>(i / 2)));
    }
    return samples;
}

std::filesystem::path scratch(const char* name) {
    static const ostrel::bench::ScratchFolder folder;
    return folder / (std::string(name) + ".wav");
}

// Ten minutes of 16-bit stereo at 44.1 kHz: about 106 MB on disk.
const std::filesystem::path& tenMinuteFile() {
    static const std::filesystem::path file = [] {
        const auto path = scratch("ostrel-bench-10min");
        std::string error;
        if (!writeWavFile(path, tone(600.0), 2, kRate, WavFormat::Pcm16, &error)) {
            std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), error.c_str());
            std::exit(1);
        }
        return path;
    }();
    return file;
}

void BM_DecodeTenMinuteStereo16(benchmark::State& state) {
    tenMinuteFile();
    for (auto _ : state) {
        AudioData data;
        benchmark::DoNotOptimize(loadWavFile(tenMinuteFile(), data, nullptr));
    }
}
BENCHMARK(BM_DecodeTenMinuteStereo16)->Unit(benchmark::kMillisecond);

void BM_ResampleTenMinutesTo48k(benchmark::State& state) {
    AudioData data;
    ostrel::bench::require(loadWavFile(tenMinuteFile(), data, nullptr), "load the ten-minute file");
    for (auto _ : state) {
        benchmark::DoNotOptimize(resampleAudio(data, 48000.0));
    }
}
BENCHMARK(BM_ResampleTenMinutesTo48k)->Unit(benchmark::kMillisecond);

void BM_PeaksOfTenMinutes(benchmark::State& state) {
    AudioData data;
    ostrel::bench::require(loadWavFile(tenMinuteFile(), data, nullptr), "load the ten-minute file");
    for (auto _ : state) {
        benchmark::DoNotOptimize(computePeaks(data, 2000));
    }
}
BENCHMARK(BM_PeaksOfTenMinutes)->Unit(benchmark::kMillisecond);

// Includes the flush to disk, as an export does.
void BM_WriteFourMinuteExport16(benchmark::State& state) {
    const std::vector<float> samples = tone(240.0);
    const auto path = scratch("ostrel-bench-export");
    for (auto _ : state) {
        benchmark::DoNotOptimize(writeWavFile(path, samples, 2, kRate, WavFormat::Pcm16, nullptr));
    }
    std::filesystem::remove(path);
}
BENCHMARK(BM_WriteFourMinuteExport16)->Unit(benchmark::kMillisecond);

}  // namespace
