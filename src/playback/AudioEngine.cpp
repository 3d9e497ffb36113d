#include "playback/AudioEngine.h"

#include <algorithm>
#include <cmath>

namespace ostrel::engine { inline namespace playback {

namespace {

// The loop in frames while playing with the loop on.
struct LoopFrames {
    bool looping = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
};

LoopFrames loopFrames(const Transport::State& transport, double framesPerBeat) {
    LoopFrames loop;
    if (transport.playing && transport.loop.enabled) {
        loop.start = AudioEngine::beatsToFrames(transport.loop.startBeats, framesPerBeat);
        loop.end = AudioEngine::beatsToFrames(transport.loop.endBeats, framesPerBeat);
        loop.looping = loop.end > loop.start;  // a range shorter than a frame can still round to none
    }
    return loop;
}

// The transport position n frames on, back at the loop start once it reaches the loop end.
inline std::int64_t advancedPosition(std::int64_t pos, int n, const LoopFrames& loop) {
    const std::int64_t old = pos;
    pos += n;
    if (loop.looping && old < loop.end && loop.end <= pos) {
        pos = pos - loop.end + loop.start;
    }
    return pos;
}

// More frames than any song has: a song that is final to its end, or abandoned.
constexpr std::int64_t kEveryFrame = std::int64_t{1} << 60;

// Frames [pos, pos + n) of a track into the mix, each scaled by gain(i); only final frames:
// a frame not rendered adds nothing.
template <typename Gain>
void addTrackFrames(const BackingTrack::View& track, std::int64_t pos, int n, Gain gain, AudioBuffer& mix) {
    if (!track.begun || track.channels < 1) {
        return;
    }
    const std::int64_t first = std::clamp<std::int64_t>(track.from - pos, 0, n);
    const std::int64_t last = std::clamp<std::int64_t>(std::min(track.end, track.frames) - pos, 0, std::min(n, mix.frames));
    for (int c = 0; c < mix.channels; ++c) {
        const std::int32_t source = std::min(track.channels - 1, c);
        float* target = mix.channel(c);
        for (std::int64_t i = first; i < last; ++i) {
            target[i] += track.at(pos + i, source) * gain(static_cast<int>(i));
        }
    }
}

// The same at full level.
void addTrackFrames(const BackingTrack::View& track, std::int64_t pos, int n, AudioBuffer& mix) {
    addTrackFrames(track, pos, n, [](int) { return 1.0f; }, mix);
}

// A position in frames of one timeline, in frames of another: the same beat.
std::int64_t sameBeat(std::int64_t pos, double fromRate, double fromBpm, double toRate, double toBpm) {
    if (fromRate == toRate) {
        return std::llround(static_cast<double>(pos) * fromBpm / toBpm);
    }
    return std::llround(static_cast<double>(pos) * (fromBpm * toRate) / (toBpm * fromRate));
}

// The metronome's level in the mix.
constexpr float kClickLevel = 0.7f;

// Frame i of a fade out over AudioEngine::kHoldFadeFrames, `done` frames into it, from `level`.
inline float fadingOut(int done, int i, float level) {
    constexpr int kFrames = AudioEngine::kHoldFadeFrames;
    return level * static_cast<float>(kFrames - done - i) / static_cast<float>(kFrames + 1);
}

// n frames of the mix into out as interleaved floats.
inline void interleave(const AudioBuffer& mix, std::uint32_t channels, int n, float* out) {
    for (std::uint32_t c = 0; c < channels; ++c) {
        const float* mixed = mix.channel(static_cast<int>(c));
        for (int i = 0; i < n; ++i) {
            out[static_cast<std::size_t>(i) * channels + c] = mixed[i];
        }
    }
}

}  // namespace

std::int64_t AudioEngine::beatsToFrames(double beats, double framesPerBeat) {
    // Never negative: an endless value stops well inside int64 (2^53 frames are
    // millennia), and one that is not a number (an endless value at a rate of 0) counts as 0.
    const double frames = beats * framesPerBeat;
    if (!(frames >= 0.0)) {
        return 0;
    }
    constexpr double kLimit = 9007199254740992.0;
    return std::llround(std::min(frames, kLimit));
}

AudioEngine::AudioEngine(std::unique_ptr<IAudioBackend> backend)
    : backend_(std::move(backend)), events_(std::make_unique<EventQueue>()) {
    metronomeNode_.prepare(48000.0);
    clickTail_.prepare(48000.0);
}

AudioEngine::~AudioEngine() {
    stop();
    // The card no longer calls, so nothing names a track any more.
    track_.store(nullptr);
    current_.store(nullptr);
    fading_.store(nullptr);
    keepAlive_.clear();
}

bool AudioEngine::start(const AudioConfig& config, std::string* error) {
    stop();
    // The card is closed, so the audio thread's state is ours until it opens again. A play it
    // has taken goes on from its beat, at this card's rate: the position is rescaled on the
    // first chunk, and the sound comes back with a fade once a track at this rate is final.
    const bool keepPlaying = transport_.playing() && lastGen_ == transport_.state().generation;
    config_ = config;
    ++openCount_;

    GraphBuilder builder;
    auto tone = std::make_unique<SineNode>(440.0f, 0.0f);
    SineNode* toneNode = tone.get();
    builder.output = builder.addNode(std::move(tone));
    std::unique_ptr<Graph> graph =
        builder.compile(config.sampleRate, static_cast<int>(kMaxChunk),
                        static_cast<int>(config.channels), error);
    if (graph == nullptr) {
        return false;
    }
    testTone_ = toneNode;

    player_ = std::make_unique<GraphPlayer>(config.channels, kMaxChunk, kCrossfadeFrames);
    // A fresh player has room: its ring is empty.
    (void)player_->publish(std::move(graph));

    mix_.resize(static_cast<int>(config.channels), static_cast<int>(kMaxChunk));
    click_.resize(static_cast<int>(config.channels), static_cast<int>(kMaxChunk));
    metronomeNode_.prepare(config.sampleRate);
    clickTail_.prepare(config.sampleRate);
    clickTailLeft_ = 0;
    ticking_ = false;

    if (keepPlaying) {
        waiting_.store(true, std::memory_order_relaxed);
        resumeFades_ = true;
    } else {
        pos_ = 0;
        timeline_ = {config.sampleRate, transport_.tempo()};
        shownPos_.store(0, std::memory_order_relaxed);
        shownBeats_.store(0.0, std::memory_order_relaxed);
        waiting_.store(false, std::memory_order_relaxed);
        resumeFades_ = false;
    }
    fadeInDone_ = kHoldFadeFrames;
    sounding_ = false;
    clock_.store(0, std::memory_order_relaxed);

    events_ = std::make_unique<EventQueue>();
    testTone_->gain.store(toneOn_ ? toneLevel_ : 0.0f, std::memory_order_relaxed);

    // The audio thread starts calling only from here on; everything above is set before.
    return backend_->open(config_, &AudioEngine::renderCallback, this, error);
}

void AudioEngine::stop() {
    backend_->close();
    player_.reset();
    testTone_ = nullptr;
    // No callback runs any more: the next one starts from the published track.
    current_.store(nullptr);
    fading_.store(nullptr);
    fadeLeft_ = 0;
    tail_ = false;
    cleanUpTracks();
}

bool AudioEngine::publishGraph(std::unique_ptr<Graph> graph) {
    if (player_ == nullptr || backend_->state() != BackendState::Running) {
        return false;
    }
    // A refused graph leaves the start-up graph, and its test tone, playing.
    if (!player_->publish(std::move(graph))) {
        return false;
    }
    testTone_ = nullptr;
    return true;
}

void AudioEngine::setBackingTrack(std::shared_ptr<BackingTrack> track) {
    BackingTrack* raw = track.get();
    const bool owned = std::any_of(keepAlive_.begin(), keepAlive_.end(),
                                   [raw](const std::shared_ptr<BackingTrack>& owner) { return owner.get() == raw; });
    if (track != nullptr && !owned) {
        keepAlive_.push_back(std::move(track));
    }
    track_.exchange(raw);
    cleanUpTracks();
}

void AudioEngine::cleanUpTracks() {
    // Sequentially consistent with the audio thread's exchange into inUse_ and its second
    // look at track_: either it sees the new track and retries, or we see it in inUse_.
    // Then current_ and fading_, in the order a track passes through them.
    BackingTrack* published = track_.load();
    BackingTrack* reading = inUse_.load();
    BackingTrack* heard = current_.load();
    BackingTrack* fading = fading_.load();
    std::erase_if(keepAlive_, [&](const std::shared_ptr<BackingTrack>& owner) {
        const BackingTrack* track = owner.get();
        return track != published && track != reading && track != heard && track != fading;
    });
}

void AudioEngine::collectGarbage() {
    if (player_ != nullptr) {
        player_->collectRetired();
    }
    cleanUpTracks();
}

void AudioEngine::setTestTone(bool on, float level) {
    toneLevel_ = std::isnan(level) ? 0.0f : std::clamp(level, 0.0f, 1.0f);
    toneOn_ = on;
    if (testTone_ != nullptr) {
        testTone_->gain.store(on ? toneLevel_ : 0.0f, std::memory_order_relaxed);
    }
}

double AudioEngine::latencyMs() const {
    if (!(config_.sampleRate > 0.0)) {
        return 0.0;
    }
    return config_.bufferFrames * 1000.0 / config_.sampleRate;
}

void AudioEngine::renderCallback(void* user, float* out, std::uint32_t frames) {
    static_cast<AudioEngine*>(user)->renderBlock(out, frames);
}

void AudioEngine::renderBlock(float* out, std::uint32_t frames) {
    std::uint32_t done = 0;
    while (done < frames) {
        done += renderChunk(out + static_cast<std::size_t>(done) * config_.channels, frames - done);
    }
}

// Renders at most kMaxChunk of maxFrames frames and returns how many; a chunk also ends
// at the loop end, so that the next one starts from the loop start.
std::uint32_t AudioEngine::renderChunk(float* out, std::uint32_t maxFrames) {
    const std::uint32_t channels = config_.channels;
    // One whole transport per chunk: play, generation, start beat and loop always agree.
    const Transport::State transport = transport_.read();
    // A generation is used up only while playing: no chunk can take the seek of a play it
    // does not see.
    const bool seek = transport.playing && transport.generation != lastGen_;
    if (!transport.playing && sounding_) {
        fadeOutWhatIsHeard();  // a stop
    }
    // The click that sounds fades out at a stop, and at a seek the audio thread saw as one
    // (no stop between the two plays).
    if (ticking_ && (!transport.playing || (seek && transport.stops == lastStops_))) {
        fadeOutClick();
    }
    BackingTrack* published = takePublishedTrack();
    followTrack(published, transport, seek);
    followTransport(transport, seek);

    const LoopFrames loop = loopFrames(transport, timeline_.framesPerBeat());
    std::uint32_t chunk = std::min(maxFrames, kMaxChunk);
    if (loop.looping && pos_ < loop.end) {
        chunk = static_cast<std::uint32_t>(std::min<std::int64_t>(chunk, loop.end - pos_));
    }
    const int n = static_cast<int>(chunk);
    const std::uint64_t clock = clock_.load(std::memory_order_relaxed);
    const std::span<const Event> events = runLiveGraph(clock, n);

    if (!transport.playing) {
        metronomeNode_.clickPos = -1;
        pos_ = 0;
        waiting_.store(false, std::memory_order_release);
        resumeFades_ = false;
        fadeInDone_ = kHoldFadeFrames;
    } else {
        playSong(published, n, loop.start, loop.end, loop.looping, transport, events);
    }
    addTail(n);
    lastStops_ = transport.stops;
    sounding_ = transport.playing && !waiting_.load(std::memory_order_relaxed) &&
                current_.load(std::memory_order_relaxed) != nullptr;
    ticking_ = transport.playing && transport.metronome && !waiting_.load(std::memory_order_relaxed);
    // The track is named in current_ (or no longer used) before the hazard slot lets go.
    inUse_.store(nullptr, std::memory_order_release);
    shownPos_.store(pos_, std::memory_order_release);
    shownBeats_.store(static_cast<double>(pos_) / timeline_.framesPerBeat(), std::memory_order_release);
    shownTempo_.store(timeline_.bpm, std::memory_order_release);
    // After the position: a reader that sees this generation sees that position or a later one.
    shownGen_.store(lastGen_, std::memory_order_release);

    interleave(mix_, channels, n, out);
    clock_.store(clock + chunk, std::memory_order_release);
    return chunk;
}

AudioEngine::Timeline AudioEngine::timelineOf(const BackingTrack* track, double tempo) const {
    if (track != nullptr) {
        const BackingTrack::View view = track->view();
        if (view.timed()) {
            return {config_.sampleRate, view.timing.bpm};
        }
    }
    return {config_.sampleRate, tempo};
}

void AudioEngine::followTransport(const Transport::State& transport, bool seek) {
    const Timeline target = timelineOf(current_.load(std::memory_order_relaxed), transport.tempo);
    if (seek) {
        lastGen_ = transport.generation;
        timeline_ = target;
        pos_ = beatsToFrames(transport.startBeat, target.framesPerBeat());
        metronomeNode_.clickPos = -1;
        return;
    }
    if (!(target == timeline_)) {
        // A change of tempo or of heard track keeps the position in beats.
        pos_ = sameBeat(pos_, timeline_.rate, timeline_.bpm, target.rate, target.bpm);
        timeline_ = target;
    }
}

std::span<const Event> AudioEngine::runLiveGraph(std::uint64_t clock, int n) {
    ProcessContext live;
    live.frames = n;
    live.sampleRate = config_.sampleRate;
    live.position = static_cast<std::int64_t>(clock);
    live.playing = false;
    live.bpm = 120.0;
    live.beatsPerBar = 4;
    live.events = events_->drain(static_cast<std::int64_t>(clock), n);
    if (player_ != nullptr) {
        player_->process(live, mix_);
    } else {
        mix_.clear(n);
    }
    return live.events;
}

BackingTrack* AudioEngine::takePublishedTrack() {
    // Named in the hazard slot before it is read; see cleanUpTracks.
    BackingTrack* track = nullptr;
    for (;;) {
        track = track_.load();
        inUse_.exchange(track);
        if (track_.load() == track) {
            return track;
        }
    }
}

void AudioEngine::followTrack(BackingTrack* published, const Transport::State& transport, bool seek) {
    BackingTrack* heard = current_.load(std::memory_order_relaxed);  // only this thread stores it
    if (seek) {
        // The first frames of a play wait for a stretch ahead. A play from a stop starts
        // without a fade; a seek while the song sounds fades the old place out and the new in.
        // A stop the audio thread never saw (stopped and played again between two chunks)
        // is a play from a stop.
        const bool moving = sounding_ && transport.stops == lastStops_;
        if (moving) {
            fadeOutWhatIsHeard();
        } else if (fadeLeft_ > 0 && !tail_) {
            fadeLeft_ = 0;
            fading_.store(nullptr);
        }
        waiting_.store(true, std::memory_order_release);
        resumeFades_ = moving;
        fadeInDone_ = kHoldFadeFrames;
    }
    if (published == heard || (fadeLeft_ > 0 && !seek && transport.playing)) {
        return;
    }
    // A new play, a stopped transport or a song after none takes the newest track at once
    // (and waits for it). While a song plays, the newer one takes over once it can go on
    // from the beat the transport is at.
    if (!transport.playing || seek || heard == nullptr) {
        current_.store(published);
        if (heard == nullptr && transport.playing) {
            waiting_.store(true, std::memory_order_release);  // as at a start
        }
        return;
    }
    if (published != nullptr) {
        const Timeline next = timelineOf(published, transport.tempo);
        const std::int64_t at = sameBeat(pos_, timeline_.rate, timeline_.bpm, next.rate, next.bpm);
        if (framesReady(published->view(), at, true) < kAheadFrames) {
            return;
        }
    }
    // During a hold nothing sounds: the fade out of the hold does the work of the crossfade.
    if (!waiting_.load(std::memory_order_relaxed)) {
        fading_.store(heard);  // before current_ moves on, so the clean-up always sees it
        fadePos_ = pos_;
        fadeLeft_ = kTrackFadeFrames;
    }
    current_.store(published);
}

std::int64_t AudioEngine::framesReady(const BackingTrack::View& track, std::int64_t pos, bool newest) const {
    if (!track.begun) {
        return track.abandoned ? kEveryFrame : 0;
    }
    if (track.timing.sampleRate > 0.0 && track.timing.sampleRate != config_.sampleRate) {
        return 0;  // it would play at the wrong speed
    }
    if (track.abandoned) {
        return kEveryFrame;  // the frames never rendered are silence
    }
    // Past an older track's end lies no silence of the song, only the end of what that
    // render knew: a newer track (of a longer song, or at a slower tempo) may go on there.
    if (pos >= track.frames) {
        return newest ? kEveryFrame : 0;
    }
    if (pos < track.from) {
        return 0;
    }
    if (track.end >= track.frames) {
        return newest ? kEveryFrame : track.frames - pos;
    }
    return std::max<std::int64_t>(track.end - pos, 0);
}

float AudioEngine::ChunkGain::operator()(int i) const {
    float gain = 1.0f;
    if (fadeInDone + i < kHoldFadeFrames) {
        gain = static_cast<float>(fadeInDone + i + 1) / static_cast<float>(kHoldFadeFrames);
    }
    if (i >= fadeOutFrom && fadeOutFrames > 0) {
        gain *= static_cast<float>(fadeOutFrom + fadeOutFrames - i) / static_cast<float>(fadeOutFrames + 1);
    }
    return gain;
}

void AudioEngine::playSong(const BackingTrack* published, int n, std::int64_t loopStart, std::int64_t loopEnd,
                           bool looping, const Transport::State& transport, std::span<const Event> events) {
    const BackingTrack* heard = current_.load(std::memory_order_relaxed);
    const bool newest = heard == published || published == nullptr;
    const std::int64_t ready = heard == nullptr ? kEveryFrame : framesReady(heard->view(), pos_, newest);
    ChunkGain gain;
    gain.fadeInDone = fadeInDone_;
    int played = n;
    if (waiting_.load(std::memory_order_relaxed)) {
        // Once held, or at a start, the position moves on only with a stretch ahead of it.
        if (ready < std::max<std::int64_t>(n, kAheadFrames)) {
            return;  // silence, and the position stands
        }
        waiting_.store(false, std::memory_order_release);
        gain.fadeInDone = resumeFades_ ? 0 : kHoldFadeFrames;
        resumeFades_ = false;
    } else if (ready < static_cast<std::int64_t>(n) + kHoldFadeFrames) {
        // The render is about to fall behind: what is final fades out, then the transport
        // holds. Every chunk played leaves a fade's frames ahead, so there is one to fade.
        played = static_cast<int>(std::min<std::int64_t>(ready, n));
        gain.fadeOutFrames = std::min(played, kHoldFadeFrames);
        gain.fadeOutFrom = played - gain.fadeOutFrames;
        waiting_.store(true, std::memory_order_release);
        resumeFades_ = true;
    }
    addSong(played, gain);
    if (transport.metronome) {
        addMetronome(timeline_.bpm, events, played, gain);
    }
    fadeInDone_ = std::min(kHoldFadeFrames, gain.fadeInDone + played);
    const LoopFrames loop{looping, loopStart, loopEnd};
    const std::int64_t before = pos_;
    pos_ = advancedPosition(pos_, played, loop);
    if (fadeLeft_ > 0 && !tail_) {
        fadePos_ += played;
        if (pos_ < before) {
            // The loop wrapped: the track fading out goes on from the loop's start too.
            const Timeline old = timelineOf(fading_.load(std::memory_order_relaxed), transport.tempo);
            fadePos_ = sameBeat(pos_, timeline_.rate, timeline_.bpm, old.rate, old.bpm);
        }
    }
}

void AudioEngine::addSong(int n, const ChunkGain& gain) {
    const BackingTrack* heard = current_.load(std::memory_order_relaxed);
    const int fade = tail_ ? 0 : std::min(n, fadeLeft_);
    // Gain of the new track at frame i of this chunk during the fade; the old one gets the rest.
    const int faded = kTrackFadeFrames - fadeLeft_;
    const auto fadeIn = [faded](int i) { return static_cast<float>(faded + i + 1) / static_cast<float>(kTrackFadeFrames); };
    const auto newer = [&](int i) { return gain(i) * (i < fade ? fadeIn(i) : 1.0f); };
    const auto older = [&](int i) { return gain(i) * (1.0f - fadeIn(i)); };
    if (heard != nullptr) {
        if (fade == 0 && gain.flat()) {
            addTrackFrames(heard->view(), pos_, n, mix_);
        } else {
            addTrackFrames(heard->view(), pos_, n, newer, mix_);
        }
    }
    if (fade > 0) {
        if (const BackingTrack* old = fading_.load(std::memory_order_relaxed); old != nullptr) {
            addTrackFrames(old->view(), fadePos_, fade, older, mix_);
        }
        fadeLeft_ -= fade;
        if (fadeLeft_ == 0) {
            fading_.store(nullptr);  // the old track is not read after this
        }
    }
}

void AudioEngine::fadeOutWhatIsHeard() {
    BackingTrack* heard = current_.load(std::memory_order_relaxed);
    if (heard == nullptr) {
        return;
    }
    // A crossfade under way ends here: what fades out is the newer track.
    fading_.store(heard);  // before current_ moves on, so the clean-up always sees it
    fadePos_ = pos_;
    fadeLeft_ = kHoldFadeFrames;
    tail_ = true;
    tailLevel_ = fadeInDone_ >= kHoldFadeFrames ? 1.0f
                                                : static_cast<float>(fadeInDone_ + 1) / static_cast<float>(kHoldFadeFrames);
}

void AudioEngine::fadeOutClick() {
    clickTail_.clickPos = metronomeNode_.clickPos;
    clickTail_.accent = metronomeNode_.accent;
    clickTailLeft_ = kHoldFadeFrames;
    clickTailLevel_ = fadeInDone_ >= kHoldFadeFrames
                          ? 1.0f
                          : static_cast<float>(fadeInDone_ + 1) / static_cast<float>(kHoldFadeFrames);
}

void AudioEngine::addClickTail(int n) {
    if (clickTailLeft_ == 0) {
        return;
    }
    const int count = std::min(n, clickTailLeft_);
    const int done = kHoldFadeFrames - clickTailLeft_;
    clickTail_.ringOut(count, click_);
    for (std::uint32_t c = 0; c < config_.channels; ++c) {
        const float* clicked = click_.channel(static_cast<int>(c));
        float* mixed = mix_.channel(static_cast<int>(c));
        for (int i = 0; i < count; ++i) {
            mixed[i] += clicked[i] * kClickLevel * fadingOut(done, i, clickTailLevel_);
        }
    }
    clickTailLeft_ -= count;
}

void AudioEngine::addTail(int n) {
    addClickTail(n);
    if (!tail_) {
        return;
    }
    const int count = std::min(n, fadeLeft_);
    const int done = kHoldFadeFrames - fadeLeft_;
    const float level = tailLevel_;
    const auto gain = [done, level](int i) { return fadingOut(done, i, level); };
    if (const BackingTrack* old = fading_.load(std::memory_order_relaxed); old != nullptr) {
        addTrackFrames(old->view(), fadePos_, count, gain, mix_);
    }
    fadePos_ += count;
    fadeLeft_ -= count;
    if (fadeLeft_ == 0) {
        tail_ = false;
        fading_.store(nullptr);  // not read after this
    }
}

void AudioEngine::addMetronome(double bpm, std::span<const Event> events, int n, const ChunkGain& gain) {
    ProcessContext beat;
    beat.frames = n;
    beat.sampleRate = config_.sampleRate;
    beat.position = pos_;
    beat.playing = true;
    beat.bpm = bpm;
    beat.beatsPerBar = 4;
    beat.events = events;
    metronomeNode_.process(beat, {}, click_);
    for (std::uint32_t c = 0; c < config_.channels; ++c) {
        const float* clicked = click_.channel(static_cast<int>(c));
        float* mixed = mix_.channel(static_cast<int>(c));
        for (int i = 0; i < n; ++i) {
            mixed[i] += clicked[i] * kClickLevel * gain(i);
        }
    }
}

} }  // namespace ostrel::engine::playback
