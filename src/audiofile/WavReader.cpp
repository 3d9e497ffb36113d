#include "audiofile/WavReader.h"

#include "core/Failure.h"
#include "core/files/RegularFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace ostrel::engine { inline namespace audiofile {
namespace {

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 65534;

const char* const kOutOfMemory = "not enough memory to load the WAV file";

std::uint16_t u16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// Random access to the file's bytes; reads past the end return fewer bytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Reads up to count bytes at offset into out (resized to what was read). False on an I/O error.
    virtual bool read(std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t>& out) = 0;
};

class MemorySource final : public ByteSource {
public:
    explicit MemorySource(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t>& out) override {
        const std::uint64_t begin = std::min<std::uint64_t>(offset, bytes_.size());
        const std::uint64_t end = std::min<std::uint64_t>(bytes_.size(), begin + count);
        out.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(begin), bytes_.begin() + static_cast<std::ptrdiff_t>(end));
        return true;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(core::RegularFile& file) : file_(file) {}
    std::uint64_t size() const override { return file_.size(); }
    bool read(std::uint64_t offset, std::uint64_t count, std::vector<std::uint8_t>& out) override {
        const std::uint64_t available = offset < size() ? size() - offset : 0;
        out.resize(static_cast<std::size_t>(std::min(count, available)));
        std::size_t got = 0;
        if (!out.empty() && !file_.readAt(offset, out.data(), out.size(), got)) {
            return false;
        }
        out.resize(got);
        return true;
    }

private:
    core::RegularFile& file_;
};

float decodeSample(const std::uint8_t* p, int bits, bool isFloat) {
    if (isFloat) {
        std::uint32_t raw = u32(p);
        if ((raw & 0x7F800000u) == 0x7F800000u) {
            return 0.0f;  // NaN and infinities would poison every mix they reach
        }
        float v = 0.0f;
        std::memcpy(&v, &raw, 4);
        return v;
    }
    switch (bits) {
        case 8:
            return static_cast<float>(static_cast<int>(p[0]) - 128) * 0.0078125f;
        case 16:
            return static_cast<float>(static_cast<std::int16_t>(u16(p))) * 3.0517578125e-05f;
        case 24: {
            std::int32_t v = static_cast<std::int32_t>(p[0] | (p[1] << 8) | (p[2] << 16));
            if ((v & 0x800000) != 0) {
                v -= 0x1000000;
            }
            return static_cast<float>(v) * 1.1920928955078125e-07f;
        }
        default:
            return static_cast<float>(static_cast<std::int32_t>(u32(p))) * 4.656612873077393e-10f;
    }
}

// What the chunks before the sound data say.
struct WavLayout {
    bool haveFormat = false;
    bool haveData = false;
    std::uint16_t tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::uint16_t bits = 0;
    std::uint64_t dataOffset = 0;
    std::uint64_t dataBytes = 0;
};

// Walks the chunks after the RIFF header up to the sound data; false for a damaged format chunk.
bool findChunks(ByteSource& source, std::uint64_t fileSize, WavLayout& layout, std::string* error) {
    std::uint64_t offset = 12;
    std::vector<std::uint8_t> chunk;
    while (offset + 8 <= fileSize) {
        if (!source.read(offset, 8, chunk) || chunk.size() < 8) {
            break;
        }
        const std::uint64_t size = u32(chunk.data() + 4);
        const std::uint64_t body = offset + 8;
        if (std::memcmp(chunk.data(), "fmt ", 4) == 0) {
            std::vector<std::uint8_t> fmt;
            if (size < 16 || body + 16 > fileSize || !source.read(body, std::min<std::uint64_t>(size, 26), fmt) ||
                fmt.size() < 16) {
                return core::fail(error, "the WAV file's format chunk is damaged");
            }
            layout.tag = u16(fmt.data());
            layout.channels = u16(fmt.data() + 2);
            layout.sampleRate = u32(fmt.data() + 4);
            layout.bits = u16(fmt.data() + 14);
            if (layout.tag == kTagExtensible && size >= 26 && fmt.size() >= 26) {
                layout.tag = u16(fmt.data() + 24);
            }
            layout.haveFormat = true;
        } else if (std::memcmp(chunk.data(), "data", 4) == 0) {
            layout.haveData = true;
            layout.dataOffset = body;
            layout.dataBytes = std::min(size, fileSize - body);
            break;
        }
        offset = body + size + (size & 1);
    }
    return true;
}

// The checks on what the chunks say, in a fixed order.
bool checkLayout(const WavLayout& layout, std::string* error) {
    if (!layout.haveFormat) {
        return core::fail(error, "the WAV file has no format chunk");
    }
    if (!layout.haveData) {
        return core::fail(error, "the WAV file has no sound data");
    }
    if (layout.dataBytes > kMaxWavDataBytes) {
        return core::fail(error, "the WAV file is too large to load");
    }
    if (layout.channels != 1 && layout.channels != 2) {
        return core::fail(error, "only mono and stereo WAV files are supported (this one has " +
                                     std::to_string(layout.channels) + " channels)");
    }
    if (layout.sampleRate < 8000 || layout.sampleRate > 384000) {
        return core::fail(error, "the WAV file's sample rate is not usable");
    }
    const bool isFloat = layout.tag == kTagFloat && layout.bits == 32;
    const bool isPcm = layout.tag == kTagPcm && (layout.bits == 8 || layout.bits == 16 || layout.bits == 24 || layout.bits == 32);
    if (!isFloat && !isPcm) {
        return core::fail(error, "this WAV format is not supported (use PCM 8/16/24/32-bit or 32-bit float)");
    }
    return true;
}

// The sound data of a checked layout, decoded into out.
bool readSamples(ByteSource& source, const WavLayout& layout, AudioData& out, std::string* error) {
    const std::uint16_t channels = layout.channels;
    const std::uint16_t bits = layout.bits;
    const bool isFloat = layout.tag == kTagFloat && bits == 32;
    const std::uint64_t bytesPerSample = bits / 8u;
    const std::uint64_t frames = layout.dataBytes / bytesPerSample / channels;
    std::vector<std::uint8_t> raw;
    if (!source.read(layout.dataOffset, frames * channels * bytesPerSample, raw) ||
        raw.size() < frames * channels * bytesPerSample) {
        return core::fail(error, "the WAV file's sound data could not be read");
    }

    std::vector<float> samples(static_cast<std::size_t>(frames * channels));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = decodeSample(raw.data() + i * bytesPerSample, bits, isFloat);
    }
    out.samples = std::move(samples);
    out.channels = channels;
    out.sampleRate = static_cast<double>(layout.sampleRate);
    out.frames = static_cast<std::int64_t>(frames);
    return true;
}

// The one decoder behind both entry points: walks the chunks, checks in a fixed order, and
// reads the sample bytes only once every check has passed.
bool decode(ByteSource& source, AudioData& out, std::string* error) {
    const std::uint64_t fileSize = source.size();
    std::vector<std::uint8_t> head;
    if (fileSize < 44 || !source.read(0, 12, head) || head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WAVE", 4) != 0) {
        return core::fail(error, "this is not a WAV file (it does not start with RIFF/WAVE)");
    }
    WavLayout layout;
    return findChunks(source, fileSize, layout, error) && checkLayout(layout, error) &&
           readSamples(source, layout, out, error);
}

}  // namespace

bool decodeWav(const std::vector<std::uint8_t>& bytes, AudioData& out, std::string* error) {
    try {
        MemorySource source(bytes);
        return decode(source, out, error);
    } catch (const std::bad_alloc&) {
        return core::fail(error, kOutOfMemory);
    }
}

bool loadWavFile(const std::filesystem::path& path, AudioData& out, std::string* error) {
    core::RegularFile file;
    // No size limit of the file's own: the sample data's is checked from its header, and
    // nothing else is read whole. A FIFO or a device is refused here without waiting.
    if (const core::FileReadProblem problem = file.open(path, std::numeric_limits<std::uint64_t>::max());
        problem != core::FileReadProblem::None) {
        return core::fail(error, "the file \"" + path.filename().string() +
                                     "\" could not be opened: " + core::whyNotRead(problem, file.systemError()));
    }
    try {
        FileSource source(file);
        return decode(source, out, error);
    } catch (const std::bad_alloc&) {
        return core::fail(error, kOutOfMemory);
    }
}

} }  // namespace ostrel::engine::audiofile
