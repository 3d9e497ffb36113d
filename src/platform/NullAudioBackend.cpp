#include "platform/NullAudioBackend.h"

#include "core/Failure.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <system_error>

namespace ostrel::engine { inline namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// Limits of the pretend device, so that a bad setting cannot ask for a huge buffer.
constexpr uint32_t kMaxBufferFrames = 65536;
constexpr uint32_t kMaxChannels = 64;
constexpr double kMinRate = 1000.0;
constexpr double kMaxRate = 1536000.0;

// Behind by more than this many periods (a suspended machine, a stopped debugger), the
// device starts counting afresh, as a real card would underrun, instead of racing.
constexpr int64_t kResyncPeriods = 8;

}  // namespace

NullAudioBackend::~NullAudioBackend() {
    close();
}

std::string NullAudioBackend::backendName() {
    return kName;
}

std::string NullAudioBackend::deviceId() {
    return encodeDeviceId(std::string(kName) + "/" + kDeviceName);
}

std::vector<AudioDeviceInfo> NullAudioBackend::listDevices() {
    return {AudioDeviceInfo{deviceId(), kDeviceName, true}};
}

bool NullAudioBackend::open(const AudioConfig& config, RenderCallback callback, void* user,
                            std::string* error) {
    close();
    if (config.channels < 1 || config.channels > kMaxChannels) {
        state_.store(static_cast<uint32_t>(BackendState::Failed));
        core::fail(error, "could not open the sound card: invalid number of channels");
        return false;
    }
    if (!(config.sampleRate >= kMinRate && config.sampleRate <= kMaxRate)) {
        state_.store(static_cast<uint32_t>(BackendState::Failed));
        core::fail(error, "could not open the sound card: invalid sample rate");
        return false;
    }
    if (config.bufferFrames < 1 || config.bufferFrames > kMaxBufferFrames) {
        state_.store(static_cast<uint32_t>(BackendState::Failed));
        core::fail(error, "could not open the sound card: invalid buffer size");
        return false;
    }
    config_ = config;
    callback_ = callback;
    user_ = user;
    buffer_.assign(size_t{config.bufferFrames} * config.channels, 0.0f);
    meter_.reset();
    meter_.setFormat(config.bufferFrames, config.sampleRate);
    {
        std::lock_guard lock(wakeMutex_);
        stopRequested_ = false;
    }
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        state_.store(static_cast<uint32_t>(BackendState::Failed));
        core::fail(error, std::string("could not start the sound card: ") + e.what());
        return false;
    }
    state_.store(static_cast<uint32_t>(BackendState::Running));
    return true;
}

void NullAudioBackend::close() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(wakeMutex_);
            stopRequested_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    uint32_t running = static_cast<uint32_t>(BackendState::Running);
    state_.compare_exchange_strong(running, static_cast<uint32_t>(BackendState::Closed));
}

BackendState NullAudioBackend::state() const {
    return static_cast<BackendState>(state_.load());
}

LoadStats NullAudioBackend::loadStats() const {
    return meter_.snapshot();
}

void NullAudioBackend::run() {
    const uint32_t frames = config_.bufferFrames;
    const double rate = config_.sampleRate;
    const auto period = std::chrono::nanoseconds(std::llround(frames * 1e9 / rate));
    Clock::time_point base = Clock::now();
    uint64_t framesSinceBase = 0;

    std::unique_lock lock(wakeMutex_);
    while (!stopRequested_) {
        lock.unlock();
        const auto t0 = Clock::now();
        if (callback_ != nullptr) {
            callback_(user_, buffer_.data(), frames);
        }
        const auto t1 = Clock::now();
        meter_.record(std::chrono::duration<double>(t1 - t0).count(), static_cast<int>(frames),
                      rate);

        framesSinceBase += frames;
        auto deadline =
            base + std::chrono::nanoseconds(std::llround(framesSinceBase * 1e9 / rate));
        if (t1 - deadline > period * kResyncPeriods) {
            base = t1;
            framesSinceBase = 0;
            deadline = t1;
        }
        lock.lock();
        wake_.wait_until(lock, deadline, [this] { return stopRequested_; });
    }
}

} }  // namespace ostrel::engine::platform
