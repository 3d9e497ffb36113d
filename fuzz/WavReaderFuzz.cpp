// fuzz-links: ostrel_audiofile
// Arbitrary bytes as a WAV file: the reader must refuse or decode, never crash or overrun.
#include "audiofile/Peaks.h"
#include "audiofile/Resample.h"
#include "audiofile/WavReader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> bytes(data, data + size);
    ostrel::engine::AudioData out;
    std::string error;
    if (ostrel::engine::decodeWav(bytes, out, &error)) {
        if (out.samples.size() != static_cast<std::size_t>(out.frames * out.channels)) {
            __builtin_trap();
        }
        ostrel::engine::computePeaks(out, 64);
        if (out.frames < 4096) {
            ostrel::engine::resampleAudio(out, 48000.0);
        }
    } else if (error.empty()) {
        __builtin_trap();  // every refusal says why
    }
    return 0;
}
