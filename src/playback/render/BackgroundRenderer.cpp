#include "playback/render/BackgroundRenderer.h"

#include "audiofile/WavWriter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <new>
#include <utility>

namespace ostrel::engine { inline namespace playback {
namespace {

const char kNotRendered[] = "the project could not be rendered";
const char kNothingToHear[] = "nothing to hear yet";

// Below this peak an export would be a file of silence.
constexpr float kAudiblePeak = 1e-6f;

// The render a Covered one follows goes on until it is final this much further past the
// playhead than the newer one's lead (and a little more): an estimate that falls short then
// costs a later hand-over, not a hold.
constexpr double kCoverFactor = 1.5;
constexpr double kCoverSeconds = 0.5;
constexpr double kEverBeat = 1e300;

// A frame of a timed track, in beats.
double beatsAt(const BackingTrack::View& track, std::int64_t frame) {
    return static_cast<double>(frame) * track.timing.bpm / (60.0 * track.timing.sampleRate);
}

// Where a track's frames end in beats; endless when it has no tempo or is final to its end.
double coveredBeats(const BackingTrack::View& track) {
    if (!track.begun || !track.timed() || track.abandoned || track.end >= track.frames) {
        return kEverBeat;
    }
    return beatsAt(track, track.end);
}

// The text of the exception being handled.
std::string failureText() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return "there is not enough memory to render the project";
    } catch (const std::exception& e) {
        return std::string(kNotRendered) + ": " + e.what();
    } catch (...) {
        return kNotRendered;
    }
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Wall time a render's speed is measured over, at least: pieces come in bursts.
constexpr double kPaceSpan = 0.02;

float peakOf(const std::vector<float>& samples) {
    float peak = 0.0f;
    for (float s : samples) {
        peak = std::max(peak, std::abs(s));
    }
    return peak;
}

// What became of an export, in the one line a user looks for: its file, and its length and
// what it cost, or why there is none.
void logExport(core::Logger& logger, const RenderJob& job, const RenderResult& result, double tookSeconds) {
    if (!result.ok) {
        logger.log(core::LogLevel::ERROR, "project", "the song was not exported to " + job.outputPath + ": " + result.error);
        return;
    }
    char figures[96];
    std::snprintf(figures, sizeof figures, " (%.1f s of song in %.2f s)", result.seconds, tookSeconds);
    logger.log(core::LogLevel::INFO, "project", "exported the song to " + job.outputPath + figures);
}

}  // namespace

BackgroundRenderer::BackgroundRenderer(core::Logger& logger) : BackgroundRenderer(logger, {}) {}

BackgroundRenderer::BackgroundRenderer(core::Logger& logger, RenderFunction render, PlaybackRenderFunction playback)
    : logger_(logger),
      render_(render ? std::move(render) : RenderFunction(renderProject)),
      playback_(playback ? std::move(playback) : PlaybackRenderFunction(renderForPlayback)) {}

BackgroundRenderer::~BackgroundRenderer() { stop(); }

void BackgroundRenderer::submit(RenderJob job) {
    std::optional<std::stop_source> outdated;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        if (!threadStarted_) {
            // Set only once the thread runs, so a failed start is tried again next time.
            worker_ = std::thread(&BackgroundRenderer::run, this);
            threadStarted_ = true;
        }
        const bool playback = job.kind == RenderJobKind::PlaybackRebuild;
        if (!playback) {
            job.unfinished = std::make_shared<const core::TemporaryFiles::Entry>(
                std::filesystem::path(std::u8string(job.outputPath.begin(), job.outputPath.end())),
                core::TemporaryFiles::Kind::Export);
        }
        const auto waitingRebuild =
            playback ? std::find_if(pending_.begin(), pending_.end(),
                                    [](const RenderJob& waiting) { return waiting.kind == RenderJobKind::PlaybackRebuild; })
                     : pending_.end();
        if (waitingRebuild != pending_.end()) {
            *waitingRebuild = std::move(job);
        } else {
            pending_.push_back(std::move(job));
        }
        outdated = outdatedStop();
    }
    workReady_.notify_one();
    if (outdated) {
        outdated->request_stop();
    }
}

std::vector<RenderResult> BackgroundRenderer::takeResults() {
    std::optional<std::stop_source> outdated;
    std::vector<RenderResult> taken;
    {
        std::lock_guard lock(mutex_);
        taken.assign(std::make_move_iterator(results_.begin()), std::make_move_iterator(results_.end()));
        results_.clear();
        outdated = outdatedStop();
    }
    if (outdated) {
        outdated->request_stop();
    }
    return taken;
}

std::optional<std::stop_source> BackgroundRenderer::outdatedStop() {
    const auto next = std::find_if(pending_.begin(), pending_.end(), [](const RenderJob& waiting) {
        return waiting.kind == RenderJobKind::PlaybackRebuild && waiting.track != nullptr;
    });
    if (!running_ || next == pending_.end()) {
        return std::nullopt;
    }
    if (next->takeOver == TakeOver::AtOnce || !next->playhead || next->snapshot == nullptr) {
        return running_->stop;
    }
    const BackingTrack::View track = running_->track->view();
    if (!track.begun) {
        return std::nullopt;  // still building its tracks: that work is the next frames' too
    }
    if (track.abandoned || !track.timed() || track.end >= track.frames) {
        return running_->stop;
    }
    const PlayheadReading at = next->playhead();
    if (next->loop.enabled && at.beats < next->loop.endBeats) {
        return running_->stop;  // the loop brings the playhead back: the newer one renders it whole
    }
    const bool heard = at.heard == running_->track.get();
    double waited = 0.0;
    if (heard) {
        // Heard, and held on: slower than real time, it never gets ahead to cover anything.
        if (at.held) {
            return running_->stop;
        }
        const auto now = std::chrono::steady_clock::now();
        if (!running_->heardSince) {
            running_->heardSince = now;
        }
        waited = std::chrono::duration<double>(now - *running_->heardSince).count();
    }
    // The engine can be playing it only from its first frame on, and only as far as it is
    // final; the newer render must be final before the playhead gets there.
    if (at.beats < beatsAt(track, track.from)) {
        return std::nullopt;
    }
    const double ahead = (coveredBeats(track) - at.beats) * 60.0 / at.bpm;  // seconds of song
    const double lead = leadSeconds(*next);
    if (ahead >= kCoverFactor * lead + kCoverSeconds) {
        return running_->stop;
    }
    // Not covered yet: heard, it stops once the hold that may follow (the newer one's lead
    // less what this one has ready) is no longer than the change has waited, so on a machine
    // that renders slowly a change is heard after a wait and a hold of about the same length
    // rather than after a long wait, or a long hold.
    if (heard && waited >= lead - ahead) {
        return running_->stop;
    }
    return std::nullopt;
}

double BackgroundRenderer::leadSeconds(const RenderJob& job) const {
    // As long as the last render that started inside the song took, else reckoned from
    // how fast the renders so far built their tracks and made the song final.
    const double lag = pace_.lagSeconds.load(std::memory_order_relaxed);
    if (lag >= 0.0) {
        return lag;
    }
    const double speed = pace_.speed.load(std::memory_order_relaxed);
    const double setup = pace_.setupSeconds.load(std::memory_order_relaxed);
    if (!(speed > 0.0) || setup < 0.0 || job.snapshot == nullptr) {
        return 0.0;  // nothing measured yet: from the playhead, as soon as it can
    }
    return setup + (preRollSeconds(*job.snapshot) + kTakeOverSeconds) / speed;
}

std::int64_t BackgroundRenderer::coveredFrom(const RenderJob& job) const {
    const PlayheadReading at = job.playhead();
    // Where the playhead will be once this render is final, but never past where the track
    // played meanwhile ends: there the transport will wait for this one. It begins to wait a
    // chunk and a fade before that end, so this one starts a take-over's stretch before it.
    const double secondsToBeats = at.bpm / 60.0;
    const double heldAt = lastCovered_ - kTakeOverSeconds * secondsToBeats;
    double beats = std::max(at.beats, std::min(at.beats + leadSeconds(job) * secondsToBeats, heldAt));
    if (job.loop.enabled && at.beats < job.loop.endBeats) {
        beats = std::min(beats, job.loop.startBeats);
    }
    const double framesPerBeat = job.settings.sampleRate * 60.0 / renderTempo(*job.snapshot);
    const double frames = std::max(0.0, beats) * framesPerBeat;
    return frames < 9.0e18 ? std::llround(frames) : 0;
}

void BackgroundRenderer::cancelPlayback() {
    std::optional<std::stop_source> running;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(pending_, [](const RenderJob& waiting) { return waiting.kind == RenderJobKind::PlaybackRebuild; });
        if (running_) {
            running = running_->stop;
        }
    }
    if (running) {
        running->request_stop();
    }
}

void BackgroundRenderer::stop() {
    std::optional<std::stop_source> running;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
        // Nobody will play them; exports are still written.
        std::erase_if(pending_, [](const RenderJob& waiting) { return waiting.track != nullptr; });
        if (running_) {
            running = running_->stop;
        }
    }
    if (running) {
        running->request_stop();
    }
    workReady_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
    std::lock_guard lock(mutex_);
    results_.clear();
    pending_.clear();
}

void BackgroundRenderer::push(RenderResult result) {
    try {
        std::lock_guard lock(mutex_);
        results_.push_back(std::move(result));
    } catch (...) {
        logger_.log(core::LogLevel::ERROR, "project", "a background render result was lost");
    }
}

void BackgroundRenderer::run() {
    for (;;) {
        RenderJob job;
        std::stop_token stop;
        {
            std::unique_lock lock(mutex_);
            workReady_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            // Leaves only with no job waiting, so stop still renders what was submitted.
            if (pending_.empty()) {
                return;
            }
            job = std::move(pending_.front());
            pending_.pop_front();
            if (job.kind == RenderJobKind::PlaybackRebuild && job.track != nullptr) {
                if (job.takeOver == TakeOver::Covered && job.playhead && job.snapshot != nullptr) {
                    job.playFrom = coveredFrom(job);
                }
                running_ = RunningPlayback{};
                running_->track = job.track;
                stop = running_->stop.get_token();
            }
        }

        if (job.kind == RenderJobKind::PlaybackRebuild && job.track != nullptr) {
            renderPlayback(job, stop);
            {
                std::lock_guard lock(mutex_);
                lastCovered_ = coveredBeats(job.track->view());
                running_.reset();
            }
            job.snapshot.reset();
            continue;
        }

        RenderResult result;
        const auto begun = std::chrono::steady_clock::now();
        try {
            renderJob(result, job);
        } catch (...) {
            // Nothing may escape the thread: the failure becomes the job's result.
            result = RenderResult{};
            result.kind = job.kind;
            result.generation = job.generation;
            result.error = failureText();
            if (job.kind != RenderJobKind::WavExport) {
                logger_.log(core::LogLevel::WARN, "project", "a background render failed: " + result.error);
            }
        }
        if (job.kind == RenderJobKind::WavExport) {
            logExport(logger_, job, result, secondsSince(begun));
        }
        job.snapshot.reset();
        job.unfinished.reset();  // written or failed: nothing more to lose
        push(std::move(result));
    }
}

void BackgroundRenderer::renderPlayback(const RenderJob& job, std::stop_token stop) {
    RenderResult result;
    result.kind = job.kind;
    result.generation = job.generation;
    result.track = job.track;
    const auto seconds = [&job] {
        const double rate = job.settings.sampleRate;
        return rate > 0.0 ? static_cast<double>(job.track->view().frames) / rate : 0.0;
    };
    // Set on a render thread; read here after the render has joined its threads.
    bool started = false;
    const auto begun = std::chrono::steady_clock::now();
    PlaybackRender render;
    render.from = job.playFrom;
    render.stop = stop;
    render.started = [&](const std::vector<std::string>& warnings) {
        pace_.setupSeconds.store(secondsSince(begun), std::memory_order_relaxed);
        RenderResult early = result;
        early.ok = true;
        early.warnings = warnings;
        early.seconds = seconds();
        early.playFrom = job.track->view().from;
        push(std::move(early));
        started = true;
    };
    // Called one at a time, under the mix's lock.
    std::int64_t firstEnd = -1;
    std::chrono::steady_clock::time_point firstAt;
    const auto takeOver = static_cast<std::int64_t>(std::ceil(kTakeOverSeconds * job.settings.sampleRate));
    bool lagged = job.playFrom <= 0;  // from the song's start there is no pre-roll to learn from
    render.progress = [&](std::int64_t end) {
        const auto now = std::chrono::steady_clock::now();
        if (!lagged && end >= job.track->view().from + takeOver) {
            pace_.lagSeconds.store(secondsSince(begun), std::memory_order_relaxed);
            lagged = true;
        }
        if (firstEnd < 0) {
            firstEnd = end;
            firstAt = now;
            return;
        }
        const double wall = std::chrono::duration<double>(now - firstAt).count();
        if (wall >= kPaceSpan && job.settings.sampleRate > 0.0) {
            const double song = static_cast<double>(end - firstEnd) / job.settings.sampleRate;
            pace_.speed.store(song / wall, std::memory_order_relaxed);
        }
    };
    std::vector<std::string> warnings;
    std::string text;
    bool rendered = false;
    try {
        rendered = job.snapshot != nullptr && playback_(*job.snapshot, job.settings, render, *job.track, &warnings, &text);
    } catch (...) {
        text = failureText();
    }
    if (rendered) {
        char line[96];
        std::snprintf(line, sizeof line, "rendered the song for playback (%.1f s of song in %.2f s)", seconds(),
                      secondsSince(begun));
        logger_.log(core::LogLevel::INFO, "project", line);
        if (!started) {
            result.ok = true;
            result.warnings = std::move(warnings);
            result.seconds = seconds();
            result.playFrom = job.track->view().from;
            push(std::move(result));
        }
        return;
    }
    if (stop.stop_requested()) {
        return;  // a newer job or a cancel ended it; nobody waits for the rest
    }
    if (text.empty()) {
        text = kNotRendered;
    }
    logger_.log(core::LogLevel::WARN, "project", "a background render failed: " + text);
    if (started) {
        job.track->abandon();  // the engine must not wait for frames that will not come
        return;
    }
    result.error = text;
    push(std::move(result));
}

void BackgroundRenderer::renderJob(RenderResult& result, const RenderJob& job) {
    result = RenderResult{};
    result.kind = job.kind;
    result.generation = job.generation;

    RenderOutput output;
    std::string text;
    const bool rendered = job.snapshot != nullptr && render_(*job.snapshot, job.settings, &output, &text);
    if (!rendered) {
        result.error = text.empty() ? kNotRendered : text;
        if (job.kind != RenderJobKind::WavExport) {
            logger_.log(core::LogLevel::WARN, "project", "a background render failed: " + result.error);
        }
        return;
    }
    const AudioData& audio = output.audio;
    result.seconds = audio.sampleRate > 0.0 ? static_cast<double>(audio.frames) / audio.sampleRate : 0.0;

    if (job.kind != RenderJobKind::PlaybackRebuild) {
        if (audio.frames == 0 || peakOf(audio.samples) < kAudiblePeak) {
            result.error = kNothingToHear;
            return;
        }
        const std::filesystem::path path(std::u8string(job.outputPath.begin(), job.outputPath.end()));
        std::string writeError;
        if (!saveWav(audio, path, WavFormat::Pcm16, &writeError)) {
            result.error = writeError;
            return;
        }
        result.ok = true;
        result.path = job.outputPath;
        return;
    }

    if (audio.frames > 0) {
        result.track = std::make_shared<BackingTrack>(output.audio.samples, output.audio.channels,
                                                      TrackTiming{audio.sampleRate, renderTempo(*job.snapshot)});
    }
    result.ok = true;
}

} }  // namespace ostrel::engine::playback
