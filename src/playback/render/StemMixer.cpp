#include "playback/render/StemMixer.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "core/Failure.h"
#include "playback/render/FeedNode.h"

namespace ostrel::engine { inline namespace playback {
namespace {

// Frames a stem renders at a time, about: big enough that handing pieces over costs
// nothing next to rendering them, small enough that a held stem costs little memory.
constexpr std::int64_t kPieceFrames = 8192;
// Rendered pieces a stem may keep while the stems before it catch up, and pieces a part
// may keep while the join catches up.
constexpr std::size_t kPiecesAhead = 4;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);


// One graph of a stem, run a piece at a time by whichever thread takes it.
struct Stage {
    // Both belong to the thread that has the stage busy.
    std::unique_ptr<Graph> graph;
    std::unique_ptr<OfflineGraphRunner> runner;
    bool busy = false;
    std::int64_t done = 0;                   // pieces rendered
    std::deque<std::vector<float>> pieces;  // a part's, waiting for the join
};

struct StemSlot {
    bool failed = false;
    bool settled = false;   // built, and known whether it runs
    bool silent = false;    // adds nothing: it follows the stem before it
    bool finished = false;  // every piece is in the mix, or the stem adds none
    std::string error;
    std::vector<std::string> warnings;
    float gain = 0.0f;
    std::int64_t mixedPieces = 0;           // the next piece to add; those before are in the mix or before its start
    std::deque<std::vector<float>> ready;   // rendered, waiting for the stems before it
    std::vector<std::vector<float>> spare;  // used pieces, for reuse

    std::vector<Stage> parts;  // one, whose pieces go straight to ready, unless joined
    bool joined = false;
    Stage join;
    std::vector<FeedNode*> feeds;  // of join, one per part
};

// What a thread may run next: a piece of a part of a stem, or of its join.
struct Work {
    std::size_t stem = kNone;
    std::size_t part = kNone;  // kNone: the join
};

// Every member but the constant ones is guarded by mutex_. Pieces go into the mix under
// the mutex; stems are built and rendered outside it.
class StemPool {
public:
    StemPool(std::size_t count, const StemBuilder& build, const StemMixSettings& settings, std::span<float> mix)
        : build_(build), settings_(settings), mix_(mix), slots_(count),
          channels_(static_cast<std::size_t>(std::max(1, settings.channels))),
          pieceFrames_(mixPieceFrames(settings.context.blockSize)),
          totalPieces_(settings.context.frames > 0 ? (settings.context.frames - 1) / pieceFrames_ + 1 : 0) {}

    void setThreads(int threads) {
        std::lock_guard lock(mutex_);
        threads_ = std::max(1, threads);
        // In time, piece p of the mix is final only once every stem has rendered it.
        heldLimit_ = settings_.order == MixOrder::InTime ? static_cast<int>(slots_.size()) : threads_;
        mixReady();  // without stems, the whole mix is final at once
    }

    // Any thread: the mix ends at the next piece.
    void requestStop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        stop_ = true;
        wake_.notify_all();
    }

    // One thread's share: takes stems in order while it may hold one more, and otherwise
    // runs the piece that lags most, until every stem is in the mix or the mix stopped.
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
        if (stopped_ && finalPieces_ < totalPieces_) {
            return core::fail(error, "the render was stopped");
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
            Work next;
            wake_.wait(lock, [&] {
                next = {};
                if (stop_ || firstOpen_ >= slots_.size() || (next_ < slots_.size() && held_ < heldLimit_)) {
                    return true;
                }
                next = pickWork();
                return next.stem != kNone;
            });
            if (stop_ || firstOpen_ >= slots_.size()) {
                return;
            }
            if (next.stem != kNone) {
                runPiece(lock, next);
                continue;
            }
            const std::size_t index = next_++;
            ++held_;
            lock.unlock();

            TrackStem stem;
            std::string stemError;
            const bool built = build_(index, &stem, &stemError);
            const bool runs = built && runnable(stem);
            std::vector<Stage> parts;
            Stage join;
            const std::int64_t firstPiece = runs ? firstPieceOf(stem) : 0;
            if (runs) {
                makeStages(stem, firstPiece, parts, join);
            }

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
            slot.settled = true;
            ++settled_;
            if (settled_ == slots_.size() && settings_.built) {
                std::vector<std::string> all;
                for (const StemSlot& each : slots_) {
                    all.insert(all.end(), each.warnings.begin(), each.warnings.end());
                }
                settings_.built(all);
            }
            if (!runs) {
                slot.silent = true;
                mixReady();
                continue;
            }
            slot.gain = static_cast<float>(stem.gain);
            slot.mixedPieces = firstPiece;
            slot.parts = std::move(parts);
            slot.joined = join.graph != nullptr;
            slot.join = std::move(join);
            slot.feeds = std::move(stem.feeds);
            mixReady();
        }
    }

    // A stem's graphs as stages from its first piece on: its parts and their join, or its one
    // graph. Outside the lock.
    void makeStages(TrackStem& stem, std::int64_t firstPiece, std::vector<Stage>& parts, Stage& join) const {
        OfflineRenderContext context = settings_.context;
        context.startPosition += firstPiece * pieceFrames_;
        context.frames -= firstPiece * pieceFrames_;
        context.events = std::move(stem.events);
        const auto stage = [&](std::unique_ptr<Graph> graph) {
            Stage made;
            made.done = firstPiece;
            made.runner = std::make_unique<OfflineGraphRunner>(*graph, context);
            made.graph = std::move(graph);
            return made;
        };
        if (stem.join) {
            for (std::unique_ptr<Graph>& part : stem.parts) {
                parts.push_back(stage(std::move(part)));
            }
            join = stage(std::move(stem.join));
        } else {
            parts.push_back(stage(std::move(stem.graph)));
        }
    }

    // The piece of the mix a stem's graphs start at.
    std::int64_t firstPieceOf(const TrackStem& stem) const {
        const std::int64_t offset = std::max<std::int64_t>(0, stem.start - settings_.context.startPosition);
        return std::min(offset / pieceFrames_, totalPieces_);
    }

    bool runnable(const TrackStem& stem) const {
        const auto fits = [&](const std::unique_ptr<Graph>& graph) {
            return graph != nullptr && static_cast<std::size_t>(graph->channels) == channels_;
        };
        if (stem.gain == 0.0 || totalPieces_ == 0) {
            return false;
        }
        if (stem.join == nullptr) {
            return fits(stem.graph);
        }
        return fits(stem.join) && !stem.parts.empty() && stem.feeds.size() == stem.parts.size() &&
               std::all_of(stem.parts.begin(), stem.parts.end(), fits) &&
               std::none_of(stem.feeds.begin(), stem.feeds.end(), [](const FeedNode* feed) { return feed == nullptr; });
    }

    // The piece that may run now and lags most (fewest pieces rendered), so every graph
    // of every stem moves on at about one pace; stem kNone when there is none. Mutex held.
    Work pickWork() const {
        Work best;
        std::int64_t fewest = totalPieces_;
        const auto consider = [&](const Stage& stage, std::size_t stem, std::size_t part) {
            if (!stage.busy && stage.done < fewest) {
                fewest = stage.done;
                best = {stem, part};
            }
        };
        for (std::size_t k = firstOpen_; k < next_ && k < slots_.size(); ++k) {
            const StemSlot& slot = slots_[k];
            if (!slot.settled || slot.silent || slot.finished) {
                continue;
            }
            const bool room = slot.ready.size() < kPiecesAhead;
            bool fed = true;
            for (std::size_t p = 0; p < slot.parts.size(); ++p) {
                const Stage& part = slot.parts[p];
                fed = fed && !part.pieces.empty();
                if (slot.joined ? part.pieces.size() < kPiecesAhead : room) {
                    consider(part, k, p);
                }
            }
            if (slot.joined && fed && room) {
                consider(slot.join, k, kNone);
            }
        }
        return best;
    }

    // Runs the next piece of work. Mutex held through lock, released meanwhile.
    void runPiece(std::unique_lock<std::mutex>& lock, Work work) {
        StemSlot& slot = slots_[work.stem];
        const bool join = work.part == kNone;
        Stage& stage = join ? slot.join : slot.parts[work.part];
        stage.busy = true;
        std::vector<std::vector<float>> inputs;
        if (join) {
            for (Stage& part : slot.parts) {
                inputs.push_back(std::move(part.pieces.front()));
                part.pieces.pop_front();
            }
        }
        std::vector<float> piece;
        if (!slot.spare.empty()) {
            piece = std::move(slot.spare.back());
            slot.spare.pop_back();
        }
        lock.unlock();

        for (std::size_t i = 0; i < inputs.size(); ++i) {
            slot.feeds[i]->feed(inputs[i], static_cast<int>(channels_));
        }
        piece.resize(static_cast<std::size_t>(pieceFrames_) * channels_);
        const std::int64_t frames = stage.runner->render(piece);
        piece.resize(static_cast<std::size_t>(frames) * channels_);
        if (stage.runner->remaining() == 0) {
            // Its delay lines and buffers go before the next stem is taken.
            stage.runner.reset();
            stage.graph.reset();
        }

        lock.lock();
        for (std::vector<float>& input : inputs) {
            slot.spare.push_back(std::move(input));
        }
        ++stage.done;
        stage.busy = false;
        if (!join && slot.joined) {
            stage.pieces.push_back(std::move(piece));
            wake_.notify_all();
        } else {
            slot.ready.push_back(std::move(piece));
            mixReady();
        }
    }

    // Adds every piece whose stems before it are in the mix for those frames. Mutex held.
    void mixReady() {
        std::int64_t limit = totalPieces_;  // pieces that every stem before this one is done with
        for (std::size_t k = firstOpen_; k < slots_.size(); ++k) {
            StemSlot& slot = slots_[k];
            if (slot.silent) {
                slot.mixedPieces = totalPieces_;
            }
            while (!slot.ready.empty() && slot.mixedPieces < limit) {
                std::vector<float>& piece = slot.ready.front();
                clearThrough(slot.mixedPieces + 1);
                const std::size_t at = static_cast<std::size_t>(slot.mixedPieces * pieceFrames_) * channels_;
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
            limit = std::min(limit, slot.mixedPieces);
        }
        while (firstOpen_ < slots_.size() && slots_[firstOpen_].finished) {
            ++firstOpen_;
        }
        // Every stem is done with the pieces before limit: they are final.
        clearThrough(limit);
        if (limit > finalPieces_) {
            finalPieces_ = limit;
            if (settings_.published) {
                settings_.published(std::min(finalPieces_ * pieceFrames_, settings_.context.frames));
            }
        }
        wake_.notify_all();
    }

    // Clears the pieces of an unwritten mix before `end` that were not cleared yet. Mutex held.
    void clearThrough(std::int64_t end) {
        if (settings_.memory != MixMemory::Unwritten) {
            return;
        }
        for (; clearedPieces_ < end; ++clearedPieces_) {
            const std::size_t at = std::min(static_cast<std::size_t>(clearedPieces_ * pieceFrames_) * channels_, mix_.size());
            const std::size_t n = std::min(static_cast<std::size_t>(pieceFrames_) * channels_, mix_.size() - at);
            std::fill_n(mix_.data() + at, n, 0.0f);
        }
    }

    const StemBuilder& build_;
    const StemMixSettings& settings_;
    std::span<float> mix_;
    std::vector<StemSlot> slots_;
    const std::size_t channels_;
    const std::int64_t pieceFrames_;
    const std::int64_t totalPieces_;

    std::mutex mutex_;
    std::condition_variable wake_;
    int threads_ = 1;
    int heldLimit_ = 1;         // stems that may be held at once
    int held_ = 0;               // stems taken and not yet wholly in the mix
    std::size_t next_ = 0;       // the next stem to take
    std::size_t settled_ = 0;    // stems built
    std::size_t firstOpen_ = 0;  // the first stem not wholly in the mix
    std::int64_t finalPieces_ = 0;    // pieces every stem is done with
    std::int64_t clearedPieces_ = 0;  // pieces of an unwritten mix cleared so far
    bool stop_ = false;
    bool stopped_ = false;  // by a stop request
    std::exception_ptr exception_;
};

}  // namespace

std::int64_t mixPieceFrames(std::uint32_t blockSize) {
    // Whole blocks, so each piece of a part is exactly the frames of a piece of its join.
    const std::int64_t block = std::max<std::int64_t>(1, blockSize);
    return block >= kPieceFrames ? block : kPieceFrames / block * block;
}

bool mixStems(std::size_t count, const StemBuilder& build, const StemMixSettings& settings, std::span<float> mix,
              std::vector<std::string>* warnings, std::string* error) {
    StemPool pool(count, build, settings, mix);
    // Runs at once when a stop was asked for before.
    const std::stop_callback onStop(settings.stop, [&pool] { pool.requestStop(); });
    // A stem in parts keeps a few threads busy: its groups of voices and their join.
    const std::size_t wanted = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(1, settings.threads)), 1,
                                                       std::max<std::size_t>(count, 1) * 3);
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
