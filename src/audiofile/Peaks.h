#pragma once

#include "engine/AudioData.h"

#include <vector>

namespace ostrel::engine { inline namespace audiofile {

// Reduces a sound to bins peak values (the largest absolute sample of every channel in each
// bin) for drawing its waveform. Bins that no frame falls into stay 0.
std::vector<float> computePeaks(const AudioData& data, int bins);

} }  // namespace ostrel::engine::audiofile
