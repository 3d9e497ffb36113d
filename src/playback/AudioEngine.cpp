#include "playback/AudioEngine.h"

#include <algorithm>
#include <cmath>

namespace ostrel::engine { inline namespace playback {

namespace {

// Beats to frames for a position from the transport (never negative): an endless value stops
// well inside int64 (2^53 frames are millennia), and one that is not a number (an endless
// value at a rate of 0) counts as 0.
std::int64_t beatsToFrames(double beats, double framesPerBeat) {
    const double frames = beats * framesPerBeat;
    if (!(frames >= 0.0)) {
        return 0;
    }
    constexpr double kLimit = 9007199254740992.0;
    return std::llround(std::min(frames, kLimit));
}

// The loop in frames while playing with the loop on.
struct LoopFrames {
    bool looping = false;
    std::int64_t start = 0;
    std::int64_t end = 0;
};

LoopFrames loopFrames(const Transport::State& transport, double framesPerBeat) {
    LoopFrames loop;
    if (transport.playing && transport.loop.enabled) {
        loop.start = beatsToFrames(transport.loop.startBeats, framesPerBeat);
        loop.end = beatsToFrames(transport.loop.endBeats, framesPerBeat);
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

AudioEngine::AudioEngine(std::unique_ptr<IAudioBackend> backend)
    : backend_(std::move(backend)), events_(std::make_unique<EventQueue>()) {
    metronomeNode_.prepare(48000.0);
}

AudioEngine::~AudioEngine() {
    stop();
    // The card no longer calls, so nothing names a track any more.
    track_.store(nullptr);
    keepAlive_.clear();
}

bool AudioEngine::start(const AudioConfig& config, std::string* error) {
    stop();
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

    pos_ = 0;
    shownPos_.store(0, std::memory_order_relaxed);
    lastTempo_ = transport_.tempo();
    lastGen_ = transport_.state().generation;
    shownGen_.store(lastGen_, std::memory_order_relaxed);
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
    if (track != nullptr) {
        keepAlive_.push_back(std::move(track));
    }
    track_.exchange(raw);
    cleanUpTracks();
}

void AudioEngine::cleanUpTracks() {
    // Sequentially consistent with the audio thread's exchange into inUse_ and its second
    // look at track_: either it sees the new track and retries, or we see it in inUse_.
    BackingTrack* published = track_.load();
    BackingTrack* reading = inUse_.load();
    std::erase_if(keepAlive_, [&](const std::shared_ptr<BackingTrack>& owner) {
        return owner.get() != published && owner.get() != reading;
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
    const double rate = config_.sampleRate;
    // One whole transport per chunk: play, generation, start beat and loop always agree.
    const Transport::State transport = transport_.read();
    const double framesPerBeat = rate * 60.0 / transport.tempo;
    followTransport(transport, framesPerBeat);

    const LoopFrames loop = loopFrames(transport, framesPerBeat);
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
    } else {
        addBackingTrack(n);
        if (transport.metronome) {
            addMetronome(transport.tempo, events, n);
        }
        pos_ = advancedPosition(pos_, n, loop);
    }
    shownPos_.store(pos_, std::memory_order_release);
    // After the position: a reader that sees this generation sees that position or a later one.
    shownGen_.store(lastGen_, std::memory_order_release);

    interleave(mix_, channels, n, out);
    clock_.store(clock + chunk, std::memory_order_release);
    return chunk;
}

void AudioEngine::followTransport(const Transport::State& transport, double framesPerBeat) {
    const double bpm = transport.tempo;
    // A generation is used up only while playing: no chunk can take the seek of a play it
    // does not see.
    if (transport.playing) {
        if (transport.generation != lastGen_) {
            lastGen_ = transport.generation;
            pos_ = beatsToFrames(transport.startBeat, framesPerBeat);
            metronomeNode_.clickPos = -1;
            lastTempo_ = bpm;
        }
    }
    if (bpm != lastTempo_) {
        // A tempo change keeps the position in beats.
        pos_ = std::llround(static_cast<double>(pos_) * lastTempo_ / bpm);
        lastTempo_ = bpm;
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

void AudioEngine::addBackingTrack(int n) {
    // The backing track, named in the hazard slot before it is read.
    BackingTrack* track = nullptr;
    for (;;) {
        track = track_.load();
        inUse_.exchange(track);
        if (track_.load() == track) {
            break;
        }
    }
    if (track != nullptr) {
        addInterleaved(track->samples, track->channels, track->frames, pos_, n, mix_);
    }
    inUse_.store(nullptr, std::memory_order_release);
}

void AudioEngine::addMetronome(double bpm, std::span<const Event> events, int n) {
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
            mixed[i] += clicked[i] * 0.7f;
        }
    }
}

} }  // namespace ostrel::engine::playback
