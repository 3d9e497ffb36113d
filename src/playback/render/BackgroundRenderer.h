#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/files/TemporaryFiles.h"
#include "core/log/Logger.h"
#include "engine/BackingTrack.h"
#include "model/document/Project.h"
#include "playback/Transport.h"
#include "playback/render/SongRenderer.h"

namespace ostrel::engine { inline namespace playback {

enum class RenderJobKind : std::int32_t {
    PlaybackRebuild = 0,
    WavExport = 1,
};

// How a playback job takes over from the playback render running when it comes.
enum class TakeOver {
    // A new play, or a sound card at another rate: what renders now will not be played.
    AtOnce,
    // An edit while playing: the engine plays the running render's track until this one's is
    // final, so the running one goes on until its track reaches far enough past the playhead,
    // but not once the transport holds on it, nor, once it is heard, after the change has
    // waited as long as the hold its stop may cost: a change is heard late or after a hold,
    // never only very late.
    Covered,
};

// Where the transport is, in beats, and the tempo it moves at; the track the engine plays
// (compared, never read) and whether the transport holds for the song to render.
struct PlayheadReading {
    double beats = 0.0;
    double bpm = 120.0;
    const BackingTrack* heard = nullptr;
    bool held = false;
};

struct RenderJob {
    RenderJobKind kind = RenderJobKind::PlaybackRebuild;
    std::shared_ptr<const model::Project> snapshot;  // immutable copy; may be null
    RenderSettings settings;
    std::string outputPath;        // UTF-8; the file an export writes, empty for playback
    std::uint64_t generation = 0;  // the submitter's number, copied into the result
    // Playback: the track to fill in time order (renderForPlayback), already handed to the
    // engine, and the first frame play needs of it. Without one, a playback job renders the
    // whole song into a new track of its result.
    std::shared_ptr<BackingTrack> track;
    std::int64_t playFrom = 0;
    TakeOver takeOver = TakeOver::AtOnce;
    // Covered: the transport's position, read on any thread, and the loop that brings it
    // back. The first frame is chosen when the render starts (playFrom is then unused):
    // where the playhead will be once the render is final there, or the loop's start.
    std::function<PlayheadReading()> playhead;
    Transport::LoopRange loop;
    // An export's file, named by a close cut short while it waits or renders; set by submit.
    std::shared_ptr<const core::TemporaryFiles::Entry> unfinished;
};

struct RenderResult {
    RenderJobKind kind = RenderJobKind::PlaybackRebuild;
    std::uint64_t generation = 0;
    bool ok = false;
    std::string error;  // empty on success
    std::shared_ptr<BackingTrack> track;  // playback results with sound only
    std::string path;                     // exports that were written: the job's outputPath
    double seconds = 0.0;                 // rendered length
    std::vector<std::string> warnings;    // playback into a track: the render's, in track order
    std::int64_t playFrom = 0;            // playback into a track: the first frame it makes final
};

// Renders projects on a thread of its own, started by the first submit, so the GUI stays
// responsive. Jobs wait in the order submitted, except that a playback job replaces a
// playback job still waiting (only the newest edit needs to be heard); exports are never
// replaced or dropped. Every job that is rendered ends as exactly one result, except a
// playback job stopped before it started. Every export's outcome is logged: INFO with its
// file, its length and the time it took, or ERROR with why it was not written.
//
// A playback job with a track reports as soon as its render has started (every track
// built, the frames to come), and goes on filling the track after that; a failure after
// the start is logged and abandons the track. When a newer playback job comes while one
// renders, an AtOnce job stops it at once; a Covered job lets it go on until its track is
// final far enough past the playhead to cover the time the newer render needs to be final
// where it starts (its lead, estimated from the renders measured so far), so that the
// engine never runs out of song meanwhile and work already done is not thrown away. It
// stops sooner once the engine plays its track and holds on it (it renders slower than
// real time and will never cover), or has played it while the newer job waited as long as
// the newer one's lead less what the track has ready past the playhead (the hold that may
// follow).
// cancelPlayback and stop end it at once.
//
// submit, takeResults, cancelPlayback, stop and the destructor: GUI thread. One mutex
// guards the waiting jobs, the results, the running playback job and the stop flag; it is
// never held while rendering, nor while a render is told to stop.
class BackgroundRenderer {
public:
    using RenderFunction =
        std::function<bool(const model::Project&, const RenderSettings&, RenderOutput*, std::string*)>;
    using PlaybackRenderFunction = std::function<bool(const model::Project&, const RenderSettings&,
                                                      const PlaybackRender&, BackingTrack&,
                                                      std::vector<std::string>*, std::string*)>;

    // Seconds of song a playback render makes final past its start before the engine takes
    // it over (AudioEngine::kAheadFrames and a little).
    static constexpr double kTakeOverSeconds = 0.25;

    explicit BackgroundRenderer(core::Logger& logger);
    // Renders with render instead of renderProject and playback instead of
    // renderForPlayback (on the worker thread); an empty function keeps the usual one.
    BackgroundRenderer(core::Logger& logger, RenderFunction render, PlaybackRenderFunction playback = {});
    ~BackgroundRenderer();
    BackgroundRenderer(const BackgroundRenderer&) = delete;
    BackgroundRenderer& operator=(const BackgroundRenderer&) = delete;

    // Starts the worker with the first job. Throws std::system_error when the thread cannot
    // be started; that job is not queued and a later submit tries again. After stop, jobs
    // are dropped.
    void submit(RenderJob job);

    // Every finished result, oldest first; the queue is emptied.
    std::vector<RenderResult> takeResults();

    // Drops a waiting playback job and stops the one rendering at once (its track keeps
    // what it published).
    void cancelPlayback();

    // Stops a playback render at once, lets the worker finish the export it renders and
    // the exports that wait, joins it and drops the results not taken. Does nothing the
    // second time or when no job ever came.
    void stop();

private:
    // The playback job filling a track, while it renders.
    struct RunningPlayback {
        std::stop_source stop;
        std::shared_ptr<BackingTrack> track;
        // When a newer job, waiting, first saw the engine play this track.
        std::optional<std::chrono::steady_clock::time_point> heardSince;
    };
    // How fast playback renders went, measured on the render threads: -1 until measured.
    struct Pace {
        std::atomic<double> setupSeconds{-1.0};  // from the job's start until every track is built
        std::atomic<double> speed{-1.0};         // seconds of song made final per second
        // From the start of the last render that began inside the song (with a pre-roll)
        // until the engine could take it over.
        std::atomic<double> lagSeconds{-1.0};
    };

    void run();
    void renderJob(RenderResult& result, const RenderJob& job);
    // Never throws: a failure becomes the result, or once started, a log line.
    void renderPlayback(const RenderJob& job, std::stop_token stop);
    void push(RenderResult result);
    // The running playback render, when a newer job waits and the rules above say it may
    // stop now. Mutex held; the source is stopped after the mutex is let go.
    std::optional<std::stop_source> outdatedStop();
    // Seconds a Covered job needs from its start until its track can be taken over.
    double leadSeconds(const RenderJob& job) const;
    // A Covered job's first frame, chosen as it starts.
    std::int64_t coveredFrom(const RenderJob& job) const;

    core::Logger& logger_;
    RenderFunction render_;
    PlaybackRenderFunction playback_;
    std::mutex mutex_;
    std::condition_variable workReady_;
    std::deque<RenderJob> pending_;
    std::deque<RenderResult> results_;
    std::optional<RunningPlayback> running_;
    // Beats up to which the last playback render to end left its track final (endless when
    // it got to the song's end): the track heard until the next one takes over.
    double lastCovered_ = 1e300;
    Pace pace_;
    bool stopping_ = false;
    bool threadStarted_ = false;
    std::thread worker_;
};

} }  // namespace ostrel::engine::playback
