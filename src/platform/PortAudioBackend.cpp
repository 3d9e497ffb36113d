#include "platform/PortAudioBackend.h"

#include "platform/AlsaQuiet.h"
#include "core/Failure.h"

#include <jack/jack.h>
#include <pa_jack.h>
#include <portaudio.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace ostrel::engine { inline namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxNativeIdBytes = 256;

void silentJack(const char*) {}

// Without a sound card or a JACK server, ALSA, JACK and PortAudio's probing print dozens
// of lines to stderr. Our own messages say what matters, so theirs are switched off once
// per process, before PortAudio first looks at the system.
void quietSystemAudio() {
    static std::once_flag once;
    std::call_once(once, [] {
        silenceAlsaErrors();
        jack_set_error_function(&silentJack);
        jack_set_info_function(&silentJack);
        // Never let probing spawn a JACK server of its own; a user's running server is used.
        setenv("JACK_NO_START_SERVER", "1", 0);
        PaJack_SetClientName("Ostrel");
    });
}

std::string errorText(PaError error) {
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* info = Pa_GetLastHostErrorInfo();
        if (info != nullptr && info->errorText != nullptr && info->errorText[0] != '\0') {
            return info->errorText;
        }
    }
    return Pa_GetErrorText(error);
}

// ALSA's "null" plug-in swallows frames as fast as they come: it is no clock.
bool isUsableOutput(const PaDeviceInfo& device, const PaHostApiInfo& api) {
    if (device.maxOutputChannels < 1) {
        return false;
    }
    return !(api.type == paALSA && std::strcmp(device.name, "null") == 0);
}

}  // namespace

struct PortAudioBackend::Callbacks {
    // Audio thread. Never allocates, locks or logs.
    static int render(const void*, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* user) {
        auto& self = *static_cast<PortAudioBackend*>(user);
        auto* out = static_cast<float*>(output);
        const auto t0 = Clock::now();
        if (self.callback_ != nullptr) {
            self.callback_(self.user_, out, static_cast<uint32_t>(frames));
        } else {
            std::memset(out, 0, frames * self.config_.channels * sizeof(float));
        }
        const auto t1 = Clock::now();
        self.meter_.record(std::chrono::duration<double>(t1 - t0).count(),
                           static_cast<int>(frames), self.deviceRate_);
        return paContinue;
    }

    // PortAudio's thread, once the stream has become inactive.
    static void finished(void* user) {
        auto& self = *static_cast<PortAudioBackend*>(user);
        if (!self.closing_.load()) {
            self.state_.store(static_cast<uint32_t>(BackendState::StoppedByDevice));
        }
    }
};

PortAudioBackend::~PortAudioBackend() {
    close();
    if (paReady_) {
        Pa_Terminate();
    }
}

std::string PortAudioBackend::nativeDeviceId(std::string_view hostApiName,
                                             std::string_view deviceName) {
    std::string id;
    id.reserve(hostApiName.size() + 1 + deviceName.size());
    id.append(hostApiName).append("/").append(deviceName);
    if (id.size() > kMaxNativeIdBytes) {
        id.resize(kMaxNativeIdBytes);
    }
    // Zero bytes at the end would not survive the id text.
    while (!id.empty() && id.back() == '\0') {
        id.pop_back();
    }
    return id;
}

bool PortAudioBackend::ensurePortAudio() {
    if (paReady_) {
        return true;
    }
    if (abandoned_) {
        return false;
    }
    quietSystemAudio();
    paReady_ = Pa_Initialize() == paNoError;
    return paReady_;
}

void PortAudioBackend::rescan() {
    if (abandoned_) {
        return;
    }
    if (paReady_) {
        Pa_Terminate();
        paReady_ = false;
    }
    ensurePortAudio();
}

int PortAudioBackend::preferredHostApi() const {
    const int apiCount = Pa_GetHostApiCount();
    auto hasOutput = [](int api) {
        const PaHostApiInfo* info = Pa_GetHostApiInfo(api);
        if (info == nullptr) {
            return false;
        }
        for (int i = 0; i < info->deviceCount; ++i) {
            const PaDeviceIndex index = Pa_HostApiDeviceIndexToDeviceIndex(api, i);
            const PaDeviceInfo* device = Pa_GetDeviceInfo(index);
            if (device != nullptr && isUsableOutput(*device, *info)) {
                return true;
            }
        }
        return false;
    };
    const PaHostApiIndex jack = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    if (jack >= 0 && hasOutput(jack)) {
        return jack;
    }
    const PaHostApiIndex fallback = Pa_GetDefaultHostApi();
    if (fallback >= 0 && hasOutput(fallback)) {
        return fallback;
    }
    for (int api = 0; api < apiCount; ++api) {
        if (hasOutput(api)) {
            return api;
        }
    }
    return -1;
}

std::vector<PortAudioBackend::Device> PortAudioBackend::outputDevices() const {
    std::vector<Device> devices;
    const int preferred = preferredHostApi();
    if (preferred < 0) {
        return devices;
    }
    const PaDeviceIndex preferredDefault = Pa_GetHostApiInfo(preferred)->defaultOutputDevice;
    const int count = Pa_GetDeviceCount();
    for (int index = 0; index < count; ++index) {
        const PaDeviceInfo* device = Pa_GetDeviceInfo(index);
        if (device == nullptr) {
            continue;
        }
        const PaHostApiInfo* api = Pa_GetHostApiInfo(device->hostApi);
        if (api == nullptr || !isUsableOutput(*device, *api)) {
            continue;
        }
        devices.push_back(Device{index, nativeDeviceId(api->name, device->name), device->name,
                                 index == preferredDefault});
    }
    // A host API whose default output is not usable still needs a default.
    bool anyDefault = false;
    for (const Device& device : devices) {
        anyDefault = anyDefault || device.isDefault;
    }
    if (!anyDefault) {
        for (Device& device : devices) {
            if (Pa_GetDeviceInfo(device.index)->hostApi == preferred) {
                device.isDefault = true;
                break;
            }
        }
    }
    return devices;
}

std::string PortAudioBackend::backendName() {
    if (usingNull_ && null_.state() == BackendState::Running) {
        return null_.backendName();
    }
    if (stream_ != nullptr && streamHostApi_ >= 0) {
        return Pa_GetHostApiInfo(streamHostApi_)->name;
    }
    if (!ensurePortAudio()) {
        return null_.backendName();
    }
    const int api = preferredHostApi();
    if (api < 0) {
        return null_.backendName();
    }
    return Pa_GetHostApiInfo(api)->name;
}

std::vector<AudioDeviceInfo> PortAudioBackend::listDevices() {
    if (stream_ == nullptr) {
        rescan();
    }
    if (!paReady_) {
        return null_.listDevices();
    }
    std::vector<Device> devices = outputDevices();
    if (devices.empty()) {
        return null_.listDevices();
    }
    std::vector<AudioDeviceInfo> list;
    list.reserve(devices.size());
    for (Device& device : devices) {
        list.push_back(
            AudioDeviceInfo{encodeDeviceId(device.nativeId), std::move(device.name), device.isDefault});
    }
    return list;
}

bool PortAudioBackend::openStream(int deviceIndex, std::string* reason) {
    const PaDeviceInfo* device = Pa_GetDeviceInfo(deviceIndex);
    if (device == nullptr) {
        *reason = Pa_GetErrorText(paInvalidDevice);
        return false;
    }
    const double rate = std::trunc(config_.sampleRate);
    if (!(rate > 0.0) || !std::isfinite(rate)) {
        *reason = Pa_GetErrorText(paInvalidSampleRate);
        return false;
    }
    PaStreamParameters output{};
    output.device = deviceIndex;
    output.channelCount = static_cast<int>(config_.channels);
    output.sampleFormat = paFloat32;
    output.suggestedLatency = device->defaultLowOutputLatency;
    output.hostApiSpecificStreamInfo = nullptr;
    PaStream* stream = nullptr;
    const PaError result = Pa_OpenStream(&stream, nullptr, &output, rate, config_.bufferFrames,
                                         paNoFlag, &Callbacks::render, this);
    if (result != paNoError) {
        *reason = errorText(result);
        return false;
    }
    stream_ = stream;
    streamHostApi_ = device->hostApi;
    return true;
}

void PortAudioBackend::closeStream() {
    if (stream_ == nullptr) {
        return;
    }
    const PaHostApiInfo* api = Pa_GetHostApiInfo(streamHostApi_);
    if (streamStarted_ && api != nullptr && api->type == paJACK && Pa_IsStreamActive(stream_) == 0) {
        // The JACK server went away (or dropped us). PortAudio's JACK host then waits ten
        // minutes for a process callback that never comes, to stop, to close and to
        // terminate. Leave the stream and PortAudio as they are; this back-end goes on
        // with the null output.
        stream_ = nullptr;
        streamHostApi_ = -1;
        streamStarted_ = false;
        paReady_ = false;
        abandoned_ = true;
        return;
    }
    // Once Pa_CloseStream returns, the render callback is no longer running.
    Pa_AbortStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    streamHostApi_ = -1;
    streamStarted_ = false;
}

bool PortAudioBackend::open(const AudioConfig& config, RenderCallback callback, void* user,
                            std::string* error) {
    closing_.store(true);
    closeStream();
    if (usingNull_) {
        null_.close();
        usingNull_ = false;
    }
    uint32_t running = static_cast<uint32_t>(BackendState::Running);
    state_.compare_exchange_strong(running, static_cast<uint32_t>(BackendState::Closed));

    callback_ = callback;
    user_ = user;
    config_ = config;
    meter_.reset();

    std::string wanted;
    const bool particular = !config.deviceId.empty() && decodeDeviceId(config.deviceId, wanted);
    std::string reason;
    // The scan PortAudio made may be stale: a device plugged in or gone, a JACK server
    // started or stopped. When the first try fails, look again and try once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0) {
            rescan();
        }
        const std::vector<Device> devices =
            ensurePortAudio() ? outputDevices() : std::vector<Device>{};
        if (devices.empty()) {
            if (attempt == 0) {
                continue;
            }
            usingNull_ = true;
            return null_.open(config, callback, user, error);
        }
        int chosen = -1;
        int fallback = devices.front().index;
        for (const Device& device : devices) {
            if (particular && chosen < 0 && device.nativeId == wanted) {
                chosen = device.index;
            }
            if (device.isDefault) {
                fallback = device.index;
            }
        }
        if (particular && chosen < 0 && attempt == 0) {
            continue;
        }
        closing_.store(false);
        bool opened = chosen >= 0 && openStream(chosen, &reason);
        if (!opened && chosen != fallback) {
            opened = openStream(fallback, &reason);
        }
        if (opened) {
            break;
        }
        closing_.store(true);
    }
    if (stream_ == nullptr) {
        closing_.store(true);
        state_.store(static_cast<uint32_t>(BackendState::Failed));
        core::fail(error, "could not open the sound card: " + reason);
        return false;
    }
    return startStream(error);
}

bool PortAudioBackend::startStream(std::string* error) {
    const PaStreamInfo* info = Pa_GetStreamInfo(stream_);
    deviceRate_ = info != nullptr ? info->sampleRate : std::trunc(config_.sampleRate);
    meter_.setFormat(config_.bufferFrames, deviceRate_);
    Pa_SetStreamFinishedCallback(stream_, &Callbacks::finished);

    const PaError started = Pa_StartStream(stream_);
    if (started != paNoError) {
        closing_.store(true);
        closeStream();
        state_.store(static_cast<uint32_t>(BackendState::Failed));
        core::fail(error, "could not start the sound card: " + errorText(started));
        return false;
    }
    streamStarted_ = true;
    state_.store(static_cast<uint32_t>(BackendState::Running));
    return true;
}

void PortAudioBackend::close() {
    closing_.store(true);
    closeStream();
    if (usingNull_) {
        null_.close();
        return;
    }
    uint32_t running = static_cast<uint32_t>(BackendState::Running);
    state_.compare_exchange_strong(running, static_cast<uint32_t>(BackendState::Closed));
}

BackendState PortAudioBackend::state() const {
    if (usingNull_) {
        return null_.state();
    }
    uint32_t current = state_.load();
    // PortAudio's JACK host API notices a server that went away without calling back.
    if (current == static_cast<uint32_t>(BackendState::Running) && stream_ != nullptr &&
        !closing_.load() && Pa_IsStreamActive(stream_) == 0) {
        state_.compare_exchange_strong(current,
                                       static_cast<uint32_t>(BackendState::StoppedByDevice));
        current = state_.load();
    }
    return static_cast<BackendState>(current);
}

LoadStats PortAudioBackend::loadStats() const {
    return usingNull_ ? null_.loadStats() : meter_.snapshot();
}

} }  // namespace ostrel::engine::platform
