#pragma once

#include "engine/AudioBackend.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace ostrel::engine { inline namespace platform {

// A silent output paced by the steady clock on a thread of its own: the engine runs in
// real time where there is no sound card. Deadlines are counted from the start in whole
// frames, so the period holds on average and nothing drifts.
class NullAudioBackend final : public IAudioBackend {
public:
    static constexpr const char* kName = "Null";
    static constexpr const char* kDeviceName = "Null output";

    NullAudioBackend() = default;
    ~NullAudioBackend() override;
    NullAudioBackend(const NullAudioBackend&) = delete;
    NullAudioBackend& operator=(const NullAudioBackend&) = delete;

    std::string backendName() override;
    std::vector<AudioDeviceInfo> listDevices() override;
    [[nodiscard]] bool open(const AudioConfig& config, RenderCallback callback, void* user,
              std::string* error) override;
    void close() override;
    BackendState state() const override;
    LoadStats loadStats() const override;

    // The id text of the one device.
    static std::string deviceId();

private:
    void run();

    AudioConfig config_{};
    RenderCallback callback_ = nullptr;
    void* user_ = nullptr;
    std::vector<float> buffer_;  // where the silent device's frames go; sized by open
    std::atomic<uint32_t> state_{0};
    LoadMeter meter_;

    std::thread thread_;
    std::mutex wakeMutex_;  // only for sleeping; never held around the callback
    std::condition_variable wake_;
    bool stopRequested_ = false;  // guarded by wakeMutex_
};

} }  // namespace ostrel::engine::platform
