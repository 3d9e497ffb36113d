#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/log/Logger.h"
#include "engine/AudioData.h"
#include "model/document/Project.h"
#include "playback/render/SongRenderer.h"

namespace ostrel::engine { inline namespace playback {

enum class RenderJobKind : std::int32_t {
    PlaybackRebuild = 0,
    WavExport = 1,
};

struct RenderJob {
    RenderJobKind kind = RenderJobKind::PlaybackRebuild;
    std::shared_ptr<const model::Project> snapshot;  // immutable copy; may be null
    RenderSettings settings;
    std::string outputPath;        // UTF-8; the file an export writes, empty for playback
    std::uint64_t generation = 0;  // the submitter's number, copied into the result
};

struct RenderResult {
    RenderJobKind kind = RenderJobKind::PlaybackRebuild;
    std::uint64_t generation = 0;
    bool ok = false;
    std::string error;  // empty on success
    std::shared_ptr<BackingTrack> track;  // playback results with sound only
    std::string path;                     // exports that were written: the job's outputPath
    double seconds = 0.0;                 // rendered length
};

// Renders projects on a thread of its own, started by the first submit, so the GUI stays
// responsive. Jobs wait in the order submitted, except that a playback rebuild replaces a
// playback rebuild still waiting (only the newest edit needs to be heard); exports are
// never replaced or dropped. Every job that is rendered ends as exactly one result.
//
// submit, takeResults, stop and the destructor: GUI thread. One mutex guards the waiting
// jobs, the results and the stop flag; it is never held while rendering.
class BackgroundRenderer {
public:
    using RenderFunction =
        std::function<bool(const model::Project&, const RenderSettings&, RenderOutput*, std::string*)>;

    explicit BackgroundRenderer(core::Logger& logger);
    // Renders with render instead of renderProject (it runs on the worker thread).
    BackgroundRenderer(core::Logger& logger, RenderFunction render);
    ~BackgroundRenderer();
    BackgroundRenderer(const BackgroundRenderer&) = delete;
    BackgroundRenderer& operator=(const BackgroundRenderer&) = delete;

    // Starts the worker with the first job. Throws std::system_error when the thread cannot
    // be started; that job is not queued and a later submit tries again. After stop, jobs
    // are dropped.
    void submit(RenderJob job);

    // Every finished result, oldest first; the queue is emptied.
    std::vector<RenderResult> takeResults();

    // Lets the worker finish the job it renders and the jobs that wait, joins it and drops
    // the results not taken. Does nothing the second time or when no job ever came.
    void stop();

private:
    void run();
    void renderJob(RenderResult& result, const RenderJob& job);

    core::Logger& logger_;
    RenderFunction render_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::deque<RenderJob> pending_;
    std::deque<RenderResult> results_;
    bool stopping_ = false;
    bool threadStarted_ = false;
    std::thread worker_;
};

} }  // namespace ostrel::engine::playback
