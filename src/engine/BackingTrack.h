#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace ostrel::engine {

// Where a backing track's beats fall: the sample rate and tempo it was rendered at. A track
// without them (0) follows the transport's tempo at the sound card's rate.
struct TrackTiming {
    double sampleRate = 0.0;
    double bpm = 0.0;
};

// A rendered song that the engine plays at the transport position, shared as
// std::shared_ptr<BackingTrack>. A render fills it in time order while it is played: first
// its length, then its frames a stretch at a time, from `from` (where play needs them
// first) to the end. A frame is written once, before it is published, and never changes.
//
// One writer, the render: begin once, then write and publish. Any number of readers (the
// audio thread, the GUI thread) see nothing before begin and no frame before it is
// published: the writer publishes with a release store after writing, readers load with
// acquire before reading.
class BackingTrack {
public:
    using Timing = TrackTiming;

    // Readers' picture of the track, taken at once; the samples stay valid as long as the track.
    struct View {
        const float* samples = nullptr;  // interleaved, channels values a frame
        std::int32_t channels = 0;
        std::int64_t frames = 0;  // the song's length
        std::int64_t from = 0;
        std::int64_t end = 0;     // frames [from, end) are final
        bool begun = false;
        bool abandoned = false;   // no more frames will come: the rest is silence
        Timing timing;            // known from begin on

        // Frames [first, first + count) can be played: each one inside the song is final,
        // or will never come. Frames past the song's end always; nothing else before begin.
        bool ready(std::int64_t first, std::int64_t count) const;
        // Every frame of the song is final.
        bool complete() const { return begun && !abandoned && from == 0 && end >= frames; }
        bool timed() const { return timing.sampleRate > 0.0 && timing.bpm > 0.0; }
        // Frame f, channel c; only for a final frame.
        float at(std::int64_t f, std::int32_t c) const {
            return samples[static_cast<std::size_t>(f) * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)];
        }
    };

    // Not begun: a reader waits for it.
    BackingTrack() = default;
    // A whole song at once, every frame final: interleaved samples of `channels` values a frame.
    BackingTrack(const std::vector<float>& samples, std::int32_t channels, Timing timing = {});
    BackingTrack(const BackingTrack&) = delete;
    BackingTrack& operator=(const BackingTrack&) = delete;

    // Writer, once: `frames` frames of `channels` values, published from `from` on. The
    // memory of every frame is taken here but not touched, so frames never rendered cost
    // nothing. Throws std::bad_alloc.
    void begin(std::int64_t frames, std::int32_t channels, std::int64_t from, Timing timing = {});
    // Writer: where frames [first, first + count) go, interleaved; cut to the song. Only
    // for frames not yet published.
    std::span<float> unpublished(std::int64_t first, std::int64_t count);
    // Writer: frames [from, end) are final (cut to the song); never goes back.
    void publish(std::int64_t end);
    // Writer: no more frames will come (the render failed); readers play silence for the
    // frames not published, also before begin.
    void abandon();

    // Any thread.
    View view() const;

private:
    std::unique_ptr<float[]> samples_;
    std::int32_t channels_ = 0;
    std::int64_t frames_ = 0;
    std::int64_t from_ = 0;
    Timing timing_;
    // -1 until begun, then the end of the final frames. Released after the frames (and, the
    // first time, the shape above) are written; acquired before they are read.
    std::atomic<std::int64_t> end_{-1};
    std::atomic<bool> abandoned_{false};  // release by the writer; acquire before end_
};

}  // namespace ostrel::engine
