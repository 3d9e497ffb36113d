#pragma once

#include <QString>

#include <vector>

namespace ostrel::app {

// Generated sounds for the demonstration switches: fixed formulas and a fixed noise seed, so
// every run writes the same bytes.

inline constexpr int kDemoSampleRate = 44100;

enum class DemoDrum { Kick = 0, Snare = 1, Hat = 2 };

// Half a second of a mono drum sound, before it is written: a falling sine for the kick,
// decaying noise for the snare and, quieter and shorter, the hi-hat.
std::vector<float> demoDrumSamples(DemoDrum drum);

// Writes demoDrumSamples to folder + "/" + fileName as mono 16-bit 44.1 kHz; kind 0 is a kick,
// 1 a snare, any other value a hi-hat. A failed write is left to whoever reads the file.
void writeDemoDrumSample(const QString& folder, const QString& fileName, int kind);

// Two seconds of an A major chord with a quarter-second rise and fall, interleaved stereo.
std::vector<float> demoChordFrames();

}  // namespace ostrel::app
