#include "engine/AudioBackend.h"

#include <algorithm>

namespace ostrel::engine {

void LoadMeter::record(double busySeconds, int frames, double sampleRate) {
    callbacks_.fetch_add(1, std::memory_order_relaxed);
    frames_.fetch_add(static_cast<uint64_t>(std::max(frames, 0)), std::memory_order_relaxed);
    if (!(sampleRate > 0.0)) {
        return;
    }
    const double period = frames / sampleRate;
    if (!(period > 0.0)) {
        return;
    }
    const double ratio = busySeconds / period;
    if (ratio > 1.0) {
        overloads_.fetch_add(1, std::memory_order_relaxed);
    }
    const double previous = load_.load(std::memory_order_relaxed);
    load_.store(0.1 * std::min(1.0, ratio) + 0.9 * previous, std::memory_order_relaxed);
}

void LoadMeter::reset() {
    callbacks_.store(0, std::memory_order_relaxed);
    frames_.store(0, std::memory_order_relaxed);
    overloads_.store(0, std::memory_order_relaxed);
    load_.store(0.0, std::memory_order_relaxed);
}

void LoadMeter::setFormat(uint32_t bufferFrames, double sampleRate) {
    bufferFrames_ = bufferFrames;
    sampleRate_ = sampleRate;
}

LoadStats LoadMeter::snapshot() const {
    LoadStats stats;
    stats.callbacks = callbacks_.load(std::memory_order_relaxed);
    stats.frames = frames_.load(std::memory_order_relaxed);
    stats.overloads = overloads_.load(std::memory_order_relaxed);
    stats.load = load_.load(std::memory_order_relaxed);
    stats.bufferFrames = bufferFrames_;
    stats.sampleRate = sampleRate_;
    return stats;
}

std::string encodeDeviceId(std::string_view nativeId) {
    static constexpr char digits[] = "0123456789abcdef";
    size_t length = nativeId.size();
    while (length > 0 && nativeId[length - 1] == '\0') {
        --length;
    }
    std::string text;
    text.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(nativeId[i]);
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

bool decodeDeviceId(std::string_view text, std::string& nativeId) {
    if (text.size() % 2 != 0 || text.size() > 512) {
        return false;
    }
    auto value = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        return -1;
    };
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = value(text[i]);
        const int low = value(text[i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    nativeId = std::move(bytes);
    return true;
}

}  // namespace ostrel::engine
