#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/AudioData.h"
#include "engine/graph/Node.h"

namespace ostrel::engine { inline namespace playback {

// An audio track's clips, played straight from their decoded sounds at the context's
// position: memory follows the sounds, not the song's length. Left and right of the sound
// (a mono sound on both) go to channels 0 and 1; further channels repeat the right.
class ClipPlayerNode : public Node {
public:
    struct Clip {
        std::shared_ptr<const AudioData> sound;  // never null
        std::int64_t startFrame = 0;             // song frame of the clip's first frame
        std::int64_t lengthFrames = 0;           // never negative
        std::int64_t offsetFrames = 0;           // sound frame heard at startFrame
    };

    // Not the audio thread: builds the list. Clips sum in the order added.
    void addClip(Clip clip);

    // Audio thread. Never allocates, locks or logs.
    void process(const ProcessContext& context, std::span<const AudioBuffer* const> inputs,
                 AudioBuffer& output) override;

private:
    std::vector<Clip> clips_;
};

} }  // namespace ostrel::engine::playback
