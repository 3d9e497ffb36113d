#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ostrel::engine {

// Sound-card settings. An empty deviceId means the system's default output.
struct AudioConfig {
    std::string deviceId;
    double sampleRate = 48000.0;
    uint32_t bufferFrames = 512;  // frames per device period
    uint32_t channels = 2;
};

// Fills frames x channels interleaved 32-bit floats at out.
// Audio thread. Never allocates, locks or logs.
using RenderCallback = void (*)(void* user, float* out, uint32_t frames);

enum class BackendState : uint32_t {
    Closed = 0,
    Running = 1,
    StoppedByDevice = 2,
    Failed = 3,
};

struct AudioDeviceInfo {
    std::string id;  // device id text, see encodeDeviceId
    std::string name;
    bool isDefault = false;
};

struct LoadStats {
    uint64_t callbacks = 0;
    uint64_t frames = 0;
    uint64_t overloads = 0;  // callbacks that took longer than their frames last
    double load = 0.0;       // smoothed share of the period spent in the callback, 0..1
    uint32_t bufferFrames = 0;
    double sampleRate = 0.0;
};

// Times the render callback. record() runs on the audio thread, snapshot() on the GUI
// thread; setFormat() and reset() only while no device calls back.
class LoadMeter {
public:
    // Audio thread. Never allocates, locks or logs.
    void record(double busySeconds, int frames, double sampleRate);
    void reset();
    void setFormat(uint32_t bufferFrames, double sampleRate);
    LoadStats snapshot() const;

private:
    // Statistics only: nothing is ordered against them, so relaxed is enough.
    std::atomic<uint64_t> callbacks_{0};
    std::atomic<uint64_t> frames_{0};
    std::atomic<uint64_t> overloads_{0};
    std::atomic<double> load_{0.0};  // written by the audio thread only
    uint32_t bufferFrames_ = 0;
    double sampleRate_ = 0.0;
};

// The device id text: the native id bytes without trailing zero bytes, as lower-case
// hexadecimal, high digit first. Only zero bytes give an empty text.
std::string encodeDeviceId(std::string_view nativeId);

// The inverse: true only for a text of even length, at most 512 characters, of the
// digits 0-9 and a-f (an empty text decodes to no bytes). nativeId is set only on success.
[[nodiscard]] bool decodeDeviceId(std::string_view text, std::string& nativeId);

// The sound output. Every operation runs on the GUI thread; the render callback is
// called on the back-end's own audio thread between a successful open() and close().
class IAudioBackend {
public:
    virtual ~IAudioBackend() = default;

    // The name of the system audio layer in use.
    virtual std::string backendName() = 0;
    virtual std::vector<AudioDeviceInfo> listDevices() = 0;
    // Closes what is open, then opens and starts the device. A device id that does not
    // decode or names no device falls back to the default device.
    [[nodiscard]] virtual bool open(const AudioConfig& config, RenderCallback callback, void* user,
                      std::string* error) = 0;
    // When it returns, the callback is no longer running.
    virtual void close() = 0;
    virtual BackendState state() const = 0;
    virtual LoadStats loadStats() const = 0;
};

}  // namespace ostrel::engine
