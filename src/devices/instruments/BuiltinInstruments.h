#pragma once

#include <map>
#include <string>
#include <vector>

#include "devices/patches/Patch.h"

namespace ostrel::engine { inline namespace devices {

// The 19 built-in instruments in menu order, built anew on each call; callers that
// keep the list hold their own copy. GUI or render thread.
std::vector<Patch> builtinPatches();

// The basic modular voice: keyboard pitch into an oscillator, a low-pass filter swept by
// its own envelope, an amplifier on the amp envelope and one on the key's velocity.
// The maps become the knobs of "Oscillator", "Filter", "Amp envelope" and "Filter
// envelope"; cvAmount is the filter's "cv_amount". Output is node 8.
Patch makeBasicVoicePatch(const char* name, std::map<std::string, double> oscillator,
                          std::map<std::string, double> filter, std::map<std::string, double> ampEnvelope,
                          std::map<std::string, double> filterEnvelope, double cvAmount);

// Two oscillators detuned by -/+detuneCents, mixed, through a filter that a slow LFO
// sweeps, then the amp envelope and velocity. Output is node 10.
Patch makePadPatch(const char* name, int waveform, double detuneCents, double cutoffHz, double resonance,
                   double attackMs, double releaseMs, double sweepRateHz, double cvAmount);

// One "ostrel.mod.fm" module carrying the given knobs.
Patch makeFmPatch(const char* name, std::map<std::string, double> knobs);

} }  // namespace ostrel::engine::devices
