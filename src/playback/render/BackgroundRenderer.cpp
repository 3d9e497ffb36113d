#include "playback/render/BackgroundRenderer.h"

#include "audiofile/WavWriter.h"

#include <algorithm>
#include <cmath>
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

float peakOf(const std::vector<float>& samples) {
    float peak = 0.0f;
    for (float s : samples) {
        peak = std::max(peak, std::abs(s));
    }
    return peak;
}

}  // namespace

BackgroundRenderer::BackgroundRenderer(core::Logger& logger) : BackgroundRenderer(logger, renderProject) {}

BackgroundRenderer::BackgroundRenderer(core::Logger& logger, RenderFunction render)
    : logger_(logger), render_(std::move(render)) {}

BackgroundRenderer::~BackgroundRenderer() { stop(); }

void BackgroundRenderer::submit(RenderJob job) {
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
        const auto waitingRebuild =
            job.kind == RenderJobKind::PlaybackRebuild
                ? std::find_if(pending_.begin(), pending_.end(),
                               [](const RenderJob& waiting) { return waiting.kind == RenderJobKind::PlaybackRebuild; })
                : pending_.end();
        if (waitingRebuild != pending_.end()) {
            *waitingRebuild = std::move(job);
        } else {
            pending_.push_back(std::move(job));
        }
    }
    workReady_.notify_one();
}

std::vector<RenderResult> BackgroundRenderer::takeResults() {
    std::lock_guard lock(mutex_);
    std::vector<RenderResult> taken(std::make_move_iterator(results_.begin()), std::make_move_iterator(results_.end()));
    results_.clear();
    return taken;
}

void BackgroundRenderer::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        stopping_ = true;
    }
    workReady_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
    std::lock_guard lock(mutex_);
    results_.clear();
    pending_.clear();
}

void BackgroundRenderer::run() {
    for (;;) {
        RenderJob job;
        {
            std::unique_lock lock(mutex_);
            workReady_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
            // Leaves only with no job waiting, so stop still renders what was submitted.
            if (pending_.empty()) {
                return;
            }
            job = std::move(pending_.front());
            pending_.pop_front();
        }

        RenderResult result;
        try {
            renderJob(result, job);
        } catch (...) {
            // Nothing may escape the thread: the failure becomes the job's result.
            std::string text = kNotRendered;
            try {
                throw;
            } catch (const std::bad_alloc&) {
                text = "there is not enough memory to render the project";
            } catch (const std::exception& e) {
                text = std::string(kNotRendered) + ": " + e.what();
            } catch (...) {
            }
            result = RenderResult{};
            result.kind = job.kind;
            result.generation = job.generation;
            result.error = text;
            logger_.log(core::LogLevel::WARN, "project", "a background render failed: " + text);
        }
        job.snapshot.reset();

        try {
            std::lock_guard lock(mutex_);
            results_.push_back(std::move(result));
        } catch (...) {
            logger_.log(core::LogLevel::ERROR, "project", "a background render result was lost");
        }
    }
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
        logger_.log(core::LogLevel::WARN, "project", "a background render failed: " + result.error);
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
            logger_.log(core::LogLevel::ERROR, "project", writeError);
            return;
        }
        result.ok = true;
        result.path = job.outputPath;
        return;
    }

    if (audio.frames > 0) {
        auto track = std::make_shared<BackingTrack>();
        track->samples = std::move(output.audio.samples);
        track->channels = output.audio.channels;
        track->frames = output.audio.frames;
        result.track = std::move(track);
    }
    result.ok = true;
}

} }  // namespace ostrel::engine::playback
