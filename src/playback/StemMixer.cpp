#include "playback/StemMixer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

namespace ostrel::engine { inline namespace playback {
namespace {

// Frames a stem renders at a time: big enough that handing pieces over costs nothing
// next to rendering them, small enough that a held stem costs little memory.
constexpr std::int64_t kPieceFrames = 8192;
// Rendered pieces a stem may keep while the stems before it catch up.
constexpr std::size_t kPiecesAhead = 4;

struct StemSlot {
    bool failed = false;
    bool settled = false;   // built, and known whether it runs
    bool silent = false;    // adds nothing: it follows the stem before it
    bool finished = false;  // every piece is in the mix, or the stem adds none
    std::string error;
    std::vector<std::string> warnings;
    float gain = 0.0f;
    std::int64_t mixedPieces = 0;
    std::deque<std::vector<float>> ready;   // rendered, waiting for the stems before it
    std::vector<std::vector<float>> spare;  // mixed pieces, for reuse
};

// Every member but the constant ones is guarded by mutex_. Pieces go into the mix under
// the mutex; stems are built and rendered outside it.
class StemPool {
public:
    StemPool(std::size_t count, const StemBuilder& build, const StemMixSettings& settings, std::span<float> mix)
        : build_(build), settings_(settings), mix_(mix), slots_(count),
          channels_(static_cast<std::size_t>(std::max(1, settings.channels))),
          totalPieces_(settings.context.frames > 0 ? (settings.context.frames + kPieceFrames - 1) / kPieceFrames : 0) {}

    void setThreads(int threads) {
        std::lock_guard lock(mutex_);
        threads_ = std::max(1, threads);
        wake_.notify_all();
    }

    // One thread's share: takes stems in order until none is left or the mix stopped.
    void work() {
        try {
            workUntilDone();
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!exception_) {
                exception_ = std::current_exception();
            }
            stop_ = true;
            wake_.notify_all();
        }
    }

    // After every thread returned from work.
    bool finish(std::vector<std::string>* warnings, std::string* error) {
        if (exception_) {
            std::rethrow_exception(exception_);
        }
        for (StemSlot& slot : slots_) {
            if (slot.failed) {
                if (error != nullptr) {
                    *error = slot.error;
                }
                return false;
            }
        }
        if (warnings != nullptr) {
            for (StemSlot& slot : slots_) {
                warnings->insert(warnings->end(), slot.warnings.begin(), slot.warnings.end());
            }
        }
        return true;
    }

private:
    void workUntilDone() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [&] { return stop_ || next_ >= slots_.size() || held_ < threads_; });
            if (stop_ || next_ >= slots_.size()) {
                return;
            }
            const std::size_t index = next_++;
            ++held_;
            lock.unlock();

            TrackStem stem;
            std::string stemError;
            const bool built = build_(index, &stem, &stemError);

            lock.lock();
            StemSlot& slot = slots_[index];
            slot.warnings = std::move(stem.warnings);
            if (!built) {
                slot.failed = true;
                slot.error = std::move(stemError);
                // The stems before this one still finish building, so the first failure
                // in track order is the one reported.
                stop_ = true;
                wake_.notify_all();
                return;
            }
            const bool runs = stem.graph != nullptr && stem.gain != 0.0 && totalPieces_ > 0 &&
                              static_cast<std::size_t>(stem.graph->channels) == channels_;
            slot.settled = true;
            if (!runs) {
                slot.silent = true;
                mixReady();
                continue;
            }
            slot.gain = static_cast<float>(stem.gain);
            lock.unlock();
            const bool complete = run(index, stem);
            lock.lock();
            if (!complete) {
                return;
            }
        }
    }

    // Renders the stem piece by piece into its slot; false when the mix stopped.
    bool run(std::size_t index, TrackStem& stem) {
        OfflineRenderContext context = settings_.context;
        context.events = std::move(stem.events);
        OfflineGraphRunner runner(*stem.graph, context);
        StemSlot& slot = slots_[index];
        while (runner.remaining() > 0) {
            std::vector<float> piece;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [&] { return stop_ || slot.ready.size() < kPiecesAhead; });
                if (stop_) {
                    return false;
                }
                if (!slot.spare.empty()) {
                    piece = std::move(slot.spare.back());
                    slot.spare.pop_back();
                }
            }
            piece.resize(static_cast<std::size_t>(kPieceFrames) * channels_);
            const std::int64_t frames = runner.render(piece);
            piece.resize(static_cast<std::size_t>(frames) * channels_);
            std::lock_guard lock(mutex_);
            slot.ready.push_back(std::move(piece));
            mixReady();
        }
        stem.graph.reset();  // its delay lines and buffers go before the next stem is taken
        return true;
    }

    // Adds every piece whose stems before it are in the mix for those frames. Mutex held.
    void mixReady() {
        for (std::size_t k = firstOpen_; k < slots_.size(); ++k) {
            StemSlot& slot = slots_[k];
            const std::int64_t limit = k == 0 ? totalPieces_ : slots_[k - 1].mixedPieces;
            if (slot.silent) {
                slot.mixedPieces = limit;
            }
            while (!slot.ready.empty() && slot.mixedPieces < limit) {
                std::vector<float>& piece = slot.ready.front();
                const std::size_t at = static_cast<std::size_t>(slot.mixedPieces * kPieceFrames) * channels_;
                float* out = mix_.data() + at;
                const std::size_t n = std::min(piece.size(), mix_.size() - std::min(at, mix_.size()));
                for (std::size_t i = 0; i < n; ++i) {
                    out[i] += piece[i] * slot.gain;
                }
                slot.spare.push_back(std::move(piece));
                slot.ready.pop_front();
                ++slot.mixedPieces;
            }
            if (slot.settled && !slot.finished && slot.mixedPieces == totalPieces_) {
                slot.finished = true;
                slot.spare.clear();
                slot.spare.shrink_to_fit();
                --held_;
            }
        }
        while (firstOpen_ < slots_.size() && slots_[firstOpen_].finished) {
            ++firstOpen_;
        }
        wake_.notify_all();
    }

    const StemBuilder& build_;
    const StemMixSettings& settings_;
    std::span<float> mix_;
    std::vector<StemSlot> slots_;
    const std::size_t channels_;
    const std::int64_t totalPieces_;

    std::mutex mutex_;
    std::condition_variable wake_;
    int threads_ = 1;
    int held_ = 0;               // stems taken and not yet wholly in the mix
    std::size_t next_ = 0;       // the next stem to take
    std::size_t firstOpen_ = 0;  // the first stem not wholly in the mix
    bool stop_ = false;
    std::exception_ptr exception_;
};

}  // namespace

bool mixStems(std::size_t count, const StemBuilder& build, const StemMixSettings& settings, std::span<float> mix,
              std::vector<std::string>* warnings, std::string* error) {
    StemPool pool(count, build, settings, mix);
    const std::size_t wanted = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(1, settings.threads)), 1,
                                                       std::max<std::size_t>(count, 1));
    std::vector<std::thread> helpers;
    for (std::size_t i = 1; i < wanted; ++i) {
        try {
            helpers.emplace_back([&pool] { pool.work(); });
        } catch (const std::system_error&) {
            break;  // fewer threads render the same mix
        }
    }
    pool.setThreads(static_cast<int>(helpers.size()) + 1);
    pool.work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return pool.finish(warnings, error);
}

} }  // namespace ostrel::engine::playback
