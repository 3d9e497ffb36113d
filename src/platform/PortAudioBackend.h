#pragma once

#include "engine/AudioBackend.h"
#include "platform/NullAudioBackend.h"

namespace ostrel::engine { inline namespace platform {

// Sound output through PortAudio, 32-bit float interleaved. When PortAudio cannot start or
// offers no output device, everything goes to the silent NullAudioBackend instead.
//
// PortAudio has no stable device id, so a device's native id is its host API's name, "/"
// and its name, at most 256 bytes. The host API in use is JACK when a JACK server offers
// an output (the user started it on purpose), else PortAudio's default one.
class PortAudioBackend final : public IAudioBackend {
public:
    PortAudioBackend() = default;
    ~PortAudioBackend() override;
    PortAudioBackend(const PortAudioBackend&) = delete;
    PortAudioBackend& operator=(const PortAudioBackend&) = delete;

    std::string backendName() override;
    // Scans the devices afresh when nothing is open, so that a device plugged in since shows.
    std::vector<AudioDeviceInfo> listDevices() override;
    [[nodiscard]] bool open(const AudioConfig& config, RenderCallback callback, void* user,
              std::string* error) override;
    void close() override;
    BackendState state() const override;
    LoadStats loadStats() const override;

    // The native id PortAudio's device gets: host API name, "/", device name, cut to 256 bytes.
    static std::string nativeDeviceId(std::string_view hostApiName, std::string_view deviceName);

private:
    struct Device {
        int index = -1;
        std::string nativeId;
        std::string name;
        bool isDefault = false;
    };

    bool ensurePortAudio();
    void rescan();
    std::vector<Device> outputDevices() const;
    int preferredHostApi() const;
    [[nodiscard]] bool openStream(int deviceIndex, std::string* reason);
    // Starts the stream open is left with; on failure closes it and the back-end has failed.
    [[nodiscard]] bool startStream(std::string* error);
    void closeStream();

    struct Callbacks;  // PortAudio's callbacks, with the library's own types

    bool paReady_ = false;
    void* stream_ = nullptr;  // PaStream*
    int streamHostApi_ = -1;
    bool streamStarted_ = false;
    bool abandoned_ = false;  // PortAudio is stuck on a dead JACK server; never touched again
    AudioConfig config_{};
    RenderCallback callback_ = nullptr;
    void* user_ = nullptr;
    double deviceRate_ = 0.0;  // the rate the stream really runs at
    mutable std::atomic<uint32_t> state_{0};
    std::atomic<bool> closing_{false};  // set before every stop that we cause ourselves
    LoadMeter meter_;

    NullAudioBackend null_;
    bool usingNull_ = false;  // the last open went to the null output; state and load are its
};

} }  // namespace ostrel::engine::platform
