#pragma once

#include "engine/AudioData.h"

namespace ostrel::engine { inline namespace audiofile {

// Brings a sound to targetRate by linear interpolation (no filtering; one pass).
// A sound already at that rate, an empty one or a non-positive rate comes back as a copy.
AudioData resampleAudio(const AudioData& source, double targetRate);

} }  // namespace ostrel::engine::audiofile
