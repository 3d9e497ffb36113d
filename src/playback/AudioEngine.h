#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/AudioBackend.h"
#include "engine/AudioBuffer.h"
#include "engine/BackingTrack.h"
#include "engine/EventQueue.h"
#include "engine/graph/BasicNodes.h"
#include "engine/graph/Graph.h"
#include "engine/graph/GraphPlayer.h"
#include "playback/Transport.h"

namespace ostrel::engine { inline namespace playback {

// The real-time engine. Every block the sound card asks for is the sum of the live graph
// (on the engine clock), the backing track at the transport position (with the loop) and
// the metronome, written as interleaved floats. The backing track may still be rendering:
// while the frames the position needs are not final, the transport holds (a short fade
// out, silence, the position standing, a short fade in) and says so through waitingForSong.
// A stop, and a new play while the song sounds (a seek), fade the song out over a hold's
// fade, and the metronome's sounding click with it; a seek fades the new place in over the
// same frames. A play from a stop starts without a fade.
//
// A track rendered at a tempo plays at that tempo: the transport counts its frames in the
// heard track's beats. A tempo change therefore goes on at the old pace until a track at
// the new tempo takes over from the same beat; a track rendered at another sample rate is
// never played at this one (the transport holds until one at this rate comes).
//
// GUI thread only, except renderCallback/renderBlock, which run on the audio thread.
// Objects the audio thread has used (graphs, backing tracks) are freed on the GUI thread,
// by collectGarbage, setBackingTrack and stop.
class AudioEngine {
public:
    static constexpr std::uint32_t kMaxChunk = 4096;  // frames rendered in one go
    static constexpr int kCrossfadeFrames = 256;      // fade between live graphs
    static constexpr int kTrackFadeFrames = 256;      // fade from a playing track to its replacement
    static constexpr int kHoldFadeFrames = 256;       // fade into and out of a hold, 5 ms at 48 kHz
    // After a hold (and at every start of play) the transport moves on only once this many
    // frames past the position are final, so it does not stutter on the render's heels.
    static constexpr std::int64_t kAheadFrames = 8192;

    explicit AudioEngine(std::unique_ptr<IAudioBackend> backend);
    ~AudioEngine();
    AudioEngine(const AudioEngine&) = delete;
    AudioEngine& operator=(const AudioEngine&) = delete;

    // (Re)opens the sound card with a silent test-tone graph; resets the clock and the event
    // queue. A play the audio thread has taken goes on from the same beat (after a hold that
    // fades in); otherwise the position is 0. On failure the card stays closed.
    [[nodiscard]] bool start(const AudioConfig& config, std::string* error);
    // Closes the card and destroys the live graphs.
    void stop();

    // Only while the card runs; otherwise the graph is destroyed and false returned.
    [[nodiscard]] bool publishGraph(std::unique_ptr<Graph> graph);
    // The song to play, or null for none; it may still be rendering. Between plays and at a
    // new play it replaces the playing one at once; during play, once its frames at the
    // position's beat are final, with a fade of kTrackFadeFrames (or, during a hold, the
    // fade out of it). Until then the track heard goes on, as far as it is final.
    void setBackingTrack(std::shared_ptr<BackingTrack> track);
    // Frees retired graphs and backing tracks the audio thread no longer names.
    void collectGarbage();

    // The song transport: play, tempo, metronome, start beat and loop. Its setters hold its
    // rules; the audio thread takes it whole once per chunk.
    Transport& transport() { return transport_; }
    const Transport& transport() const { return transport_; }
    // Clamped to 20..300 beats per minute; a value that is not a number is ignored.
    void setTempo(double bpm) { transport_.setTempo(bpm); }
    double tempo() const { return transport_.tempo(); }
    // Every start of play seeks to the start beat at the next chunk; while stopped the position is 0.
    void setPlaying(bool on) { transport_.setPlaying(on); }
    bool playing() const { return transport_.playing(); }
    // Level clamped to 0..1.
    void setTestTone(bool on, float level);
    // The start-up graph with its tone plays: the card is open and no graph replaced it.
    bool hasTestTone() const { return testTone_ != nullptr; }
    // One device period in milliseconds; 0 without a sample rate.
    double latencyMs() const;
    // The transport frame of a position in beats, as the audio thread counts it.
    static std::int64_t beatsToFrames(double beats, double framesPerBeat);

    const AudioConfig& config() const { return config_; }
    // The transport position in frames of the heard track's tempo, as last rendered.
    std::int64_t shownPos() const { return shownPos_.load(std::memory_order_acquire); }
    // The same in beats, and the tempo it moves at (the heard track's); any thread.
    double shownBeats() const { return shownBeats_.load(std::memory_order_acquire); }
    double shownTempo() const { return shownTempo_.load(std::memory_order_acquire); }
    // The play generation shownPos belongs to: until it equals the transport's, the audio
    // thread has not yet taken the latest play and shownPos is still the old position.
    // Read it before shownPos.
    std::uint32_t shownGeneration() const { return shownGen_.load(std::memory_order_acquire); }
    // The backing track the audio thread plays, or null; any thread, to compare only: it may
    // be freed once another takes its place.
    const BackingTrack* heardTrack() const { return current_.load(std::memory_order_acquire); }
    // The transport holds because the backing track's frames at the position are not final yet.
    bool waitingForSong() const { return waiting_.load(std::memory_order_acquire); }
    // Frames rendered since the last start: the time base of the event queue.
    std::uint64_t clock() const { return clock_.load(std::memory_order_acquire); }
    // How many times start was called; a live instrument compares it to notice a reopen.
    std::uint32_t openCount() const { return openCount_; }
    // Replaced at every start; only the GUI thread pushes.
    EventQueue& events() { return *events_; }
    IAudioBackend& backend() { return *backend_; }
    const IAudioBackend& backend() const { return *backend_; }

    // The RenderCallback handed to the back-end, with the engine as user.
    // Audio thread. Never allocates, frees, locks or logs.
    static void renderCallback(void* user, float* out, std::uint32_t frames);
    // Audio thread. Never allocates, frees, locks or logs.
    void renderBlock(float* out, std::uint32_t frames);

private:
    // What the transport counts its frames in: the sound card's rate and the tempo of the
    // heard track (or the transport's, without one).
    struct Timeline {
        double rate = 48000.0;
        double bpm = 120.0;
        double framesPerBeat() const { return rate * 60.0 / bpm; }
        bool operator==(const Timeline&) const = default;
    };
    // How loud the song is over a chunk: fading in out of a hold, fading out into one.
    struct ChunkGain {
        int fadeInDone = kHoldFadeFrames;  // frames of the fade-in behind at the chunk's start
        int fadeOutFrom = 0;               // the first frame of the fade-out
        int fadeOutFrames = 0;
        bool flat() const { return fadeInDone >= kHoldFadeFrames && fadeOutFrames == 0; }
        float operator()(int i) const;
    };

    // Audio thread: renderChunk and the ones below it. Never allocate, free, lock or log.
    std::uint32_t renderChunk(float* out, std::uint32_t maxFrames);
    // Takes a new play's seek, and a change of tempo or of heard track, into the position.
    void followTransport(const Transport::State& transport, bool seek);
    // Runs the live graph into mix_ on the engine clock; returns the chunk's events.
    std::span<const Event> runLiveGraph(std::uint64_t clock, int n);
    // The published track, named in the hazard slot until the chunk ends.
    BackingTrack* takePublishedTrack();
    // Moves to the published track when it should be heard now; see setBackingTrack.
    void followTrack(BackingTrack* published, const Transport::State& transport, bool seek);
    Timeline timelineOf(const BackingTrack* track, double tempo) const;
    // Frames from pos on that can be played: final, or silence that is the song's. Past the
    // end of a track only while no newer one is published.
    std::int64_t framesReady(const BackingTrack::View& track, std::int64_t pos, bool newest) const;
    // Plays the song for the chunk or holds; moves the position.
    void playSong(const BackingTrack* published, int n, std::int64_t loopStart, std::int64_t loopEnd, bool looping,
                  const Transport::State& transport, std::span<const Event> events);
    void addSong(int n, const ChunkGain& gain);
    void addMetronome(double bpm, std::span<const Event> events, int n, const ChunkGain& gain);
    // At a stop or a seek while the song sounds: the track heard fades out from where it
    // was, over kHoldFadeFrames, in the chunks that follow (addTail).
    void fadeOutWhatIsHeard();
    // The same for the metronome's click that sounds.
    void fadeOutClick();
    void addTail(int n);
    void addClickTail(int n);
    void cleanUpTracks();

    std::unique_ptr<IAudioBackend> backend_;
    std::unique_ptr<GraphPlayer> player_;  // present while the card is open
    SineNode* testTone_ = nullptr;         // inside the start-up graph; null once replaced
    AudioBuffer mix_;                      // channels x kMaxChunk, audio thread
    AudioConfig config_{};
    std::unique_ptr<EventQueue> events_;

    Transport transport_;

    // The published backing track (GUI thread) and, written by the audio thread: the
    // hazard slot naming the published track it reads during a chunk, the track it plays
    // and the one fading out. keepAlive_ owns every track any of them may still name (GUI
    // thread). A track moves from inUse_ to current_ before inUse_ is cleared, and from
    // current_ to fading_ before current_ changes, so the clean-up, which reads them in
    // that order, never misses one.
    std::atomic<BackingTrack*> track_{nullptr};
    std::atomic<BackingTrack*> inUse_{nullptr};
    std::atomic<BackingTrack*> current_{nullptr};
    std::atomic<BackingTrack*> fading_{nullptr};
    std::vector<std::shared_ptr<BackingTrack>> keepAlive_;
    int fadeLeft_ = 0;                  // audio thread: frames of the fade from fading_ still to go
    std::int64_t fadePos_ = 0;          // audio thread: where fading_ is, in its own frames
    std::atomic<bool> waiting_{false};  // written by the audio thread only
    int fadeInDone_ = kHoldFadeFrames;  // audio thread: frames of the fade out of a hold behind
    bool resumeFades_ = false;          // audio thread: the sound stopped at this hold, so it fades back in
    std::uint32_t lastStops_ = 0;       // audio thread: the transport's stops at the last chunk
    bool sounding_ = false;             // audio thread: the last chunk ended with the song sounding
    bool tail_ = false;                 // audio thread: fading_ fades out alone, after a stop or a seek
    float tailLevel_ = 1.0f;            // audio thread: its level as the tail began

    std::atomic<std::int64_t> shownPos_{0};
    std::atomic<double> shownBeats_{0.0};
    std::atomic<double> shownTempo_{120.0};
    std::atomic<std::uint32_t> shownGen_{0};  // stored after shownPos_
    // Audio thread only.
    std::int64_t pos_ = 0;  // transport position, frames of timeline_
    Timeline timeline_;
    std::uint32_t lastGen_ = 0;
    MetronomeNode metronomeNode_;
    MetronomeNode clickTail_;      // the click that sounded at a stop or a seek, fading out
    int clickTailLeft_ = 0;        // frames of its fade still to go
    float clickTailLevel_ = 1.0f;  // its level as the fade began
    bool ticking_ = false;         // the last chunk ended with the metronome sounding
    AudioBuffer click_;  // channels x kMaxChunk

    std::uint32_t openCount_ = 0;
    std::atomic<std::uint64_t> clock_{0};
    bool toneOn_ = false;
    float toneLevel_ = 0.1f;
};

} }  // namespace ostrel::engine::playback
