// Play under changes, with the program's controllers on a sound card that records every
// sample it is given (the null output's clock), on the 3-minute reference song of
// app_play_start_bench: eight tracks with the first eight built-in instruments, an echo on
// every second track, the default pattern again and again. Run it on four processors
// (taskset -c 0-3); each case runs in real time.
//
//   TempoChange/S:  play from S - 1 s into the song at 128 BPM; at S s the tempo goes to 64
//                   (at 100 s the same beat at the old tempo lies past the song's end).
//                   Counters over what the card played from then on: silent_periods;
//                   wrong_periods, periods that are not the song at the beat the transport
//                   is at (neither the older render going on at its own pace, nor a newer one
//                   at the beat it took over from, nor, in the period of the hand-over, the
//                   crossfade of the two at that beat, sample by sample; a period fading
//                   into or out of a hold counts too); new_tempo_ms, from the change until
//                   the render at 64 is heard.
//   TapTempo:       the same with four taps 300 ms apart: 128, 120, 110, 100 and 92 BPM;
//                   new_tempo_ms from the last tap.
//   EditStorm:      the render limited to 1.5x real time; play from the start, then 30 edits
//                   (a track's volume), one every 2 s. Counters over those 60 s: held_s (the
//                   time the transport held), longest_hold_s, holds; renders, the edits'
//                   renders that started; edits_heard, the edits after which a newer render
//                   was heard within the run, and heard_mean_s and heard_max_s, how long after
//                   the edit that was.
//   HoldEdges:      the render limited to 0.8x real time, so the transport holds again and
//                   again; 20 s from the start. Counters: edge_step, the largest step at a
//                   hold's edges (from the last sound into the silence, and out of it into the
//                   first); song_step, the largest step between two samples away from the holds
//                   (farther than a fade's length); holds.
//
//   EditHeard/P:    the render limited to P/100 x real time; play from the start, and 8 s on
//                   a track's volume goes to half (tempo=0) or the tempo to 100
//                   (tempo=1). Counters: heard_s, from the change until the card plays a
//                   period of the change's render (-1: not within 40 s); held_s, the
//                   time the transport held in those 40 s.
//   ReplayAfterStop: play from the start for 2 s, stop, play from beat 150: sound_s, from
//                   the second play until the card plays sound; fresh_s, the same play in a
//                   program that played nothing before.
//   TempoBurst/N:   N tempo changes within a second (between 118 and 130 BPM), at 20 s into
//                   the song; counters as TempoChange.
//
// The limited render stands for a slow machine: the song is rendered at full speed on a
// thread of its own, and its frames are handed on as a render at that speed would make
// them final, from the pre-roll's start (6 s before where play needs them: the release
// and the echoes).

#include "BenchSupport.h"
#include "app/project/ProjectController.h"
#include "app/settings/SettingsBridge.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "devices/instruments/BuiltinInstruments.h"
#include "platform/NullAudioBackend.h"
#include "playback/AudioEngine.h"
#include "playback/render/SongRenderer.h"

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

constexpr double kRate = 48000.0;
constexpr std::size_t kPeriod = 512;  // the null output's default period
constexpr double kPreRollSeconds = 6.0;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The null output, with every sample the engine gives it kept, up to 100 s.
class CaptureCard final : public engine::IAudioBackend {
public:
    static constexpr std::size_t kMostFrames = 100 * 48000;

    CaptureCard() : samples_(2 * kMostFrames) {}
    std::string backendName() override { return inner_.backendName(); }
    std::vector<engine::AudioDeviceInfo> listDevices() override { return inner_.listDevices(); }
    bool open(const engine::AudioConfig& config, engine::RenderCallback callback, void* user,
              std::string* error) override {
        callback_ = callback;
        user_ = user;
        return inner_.open(config, &CaptureCard::play, this, error);
    }
    void close() override { inner_.close(); }
    engine::BackendState state() const override { return inner_.state(); }
    engine::LoadStats loadStats() const override { return inner_.loadStats(); }

    // Frames kept so far, stereo; those before are final.
    std::size_t frames() const { return written_.load(std::memory_order_acquire) / 2; }
    const float* frame(std::size_t f) const { return samples_.data() + 2 * f; }

private:
    // Audio thread: no allocation, the buffer is made above.
    static void play(void* self, float* out, std::uint32_t frames) {
        auto& card = *static_cast<CaptureCard*>(self);
        card.callback_(card.user_, out, frames);
        const std::size_t at = card.written_.load(std::memory_order_relaxed);
        const std::size_t n = 2 * std::size_t{frames};
        if (at + n <= card.samples_.size()) {
            std::memcpy(card.samples_.data() + at, out, n * sizeof(float));
            card.written_.store(at + n, std::memory_order_release);
        }
    }

    engine::NullAudioBackend inner_;
    engine::RenderCallback callback_ = nullptr;
    void* user_ = nullptr;
    std::vector<float> samples_;
    std::atomic<std::size_t> written_{0};
};

// Begins a track in the shape of another, with its tempo where tracks carry one.
template <typename Track, typename View>
auto beginAs(Track& track, const View& shape, int) -> decltype(track.begin(0, 0, 0, shape.timing), void()) {
    track.begin(shape.frames, shape.channels, shape.from, shape.timing);
}
template <typename Track, typename View>
void beginAs(Track& track, const View& shape, long) {
    track.begin(shape.frames, shape.channels, shape.from);
}

// Tells the renderer how far the song is final, where it listens.
template <typename Render>
auto reportProgress(const Render& render, std::int64_t end, int) -> decltype(render.progress, void()) {
    if (render.progress) {
        render.progress(end);
    }
}
template <typename Render>
void reportProgress(const Render&, std::int64_t, long) {}

// A render for playback that makes the song final at `speed` times real time (see above).
engine::BackgroundRenderer::PlaybackRenderFunction limitedRender(double speed) {
    return [speed](const model::Project& song, const engine::RenderSettings& settings,
                   const engine::PlaybackRender& render, engine::BackingTrack& track,
                   std::vector<std::string>* warnings, std::string* error) {
        const auto begun = Clock::now();
        engine::BackingTrack full;
        std::stop_source stopFull;
        engine::PlaybackRender fast;
        fast.from = render.from;
        fast.stop = stopFull.get_token();
        std::atomic<bool> done{false};
        bool rendered = false;
        std::thread worker([&] {
            rendered = engine::renderForPlayback(song, settings, fast, full, warnings, error);
            done.store(true);
        });
        const auto finish = [&](bool ok) {
            stopFull.request_stop();
            worker.join();
            return ok && (rendered || !done.load());
        };
        while (!full.view().begun) {
            if (done.load() || render.stop.stop_requested()) {
                return finish(false);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const engine::BackingTrack::View shape = full.view();
        beginAs(track, shape, 0);
        render.started({});
        const std::int64_t preRoll = std::llround(kPreRollSeconds * settings.sampleRate);
        const auto earliest = std::max<std::int64_t>(0, shape.from - preRoll);
        std::int64_t published = shape.from;
        while (published < shape.frames) {
            if (render.stop.stop_requested()) {
                *error = "stopped";
                return finish(false);
            }
            const std::int64_t due = earliest + std::llround(secondsSince(begun) * speed * settings.sampleRate);
            const std::int64_t upto = std::min({due, full.view().end, shape.frames});
            if (upto > published) {
                const auto channels = static_cast<std::size_t>(shape.channels);
                const float* from = shape.samples + static_cast<std::size_t>(published) * channels;
                const std::size_t count = static_cast<std::size_t>(upto - published) * channels;
                std::memcpy(track.unpublished(published, upto - published).data(), from, count * sizeof(float));
                track.publish(upto);
                published = upto;
            }
            reportProgress(render, std::min(due, full.view().end), 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return finish(true);
    };
}

// The program's controllers on the capturing card with the 3-minute reference song open.
struct Song {
    explicit Song(app::ProjectControllerHooks hooks = {})
        : registry(core::buildSettingsRegistry()),
          store(registry),
          settings(store, registry, data.filePath("settings.json"), logger),
          card(new CaptureCard),
          audio(std::unique_ptr<engine::IAudioBackend>(card), settings, logger),
          transport(audio, logger, &settings),
          project(transport, logger, data.filePath("projects"), QString(), QString(), std::move(hooks)) {
        const std::vector<engine::Patch>& patches = engine::builtinPatches();
        const int patterns = static_cast<int>(std::ceil(3.0 * 120.0 / 16.0));
        for (int t = 0; t < 8; ++t) {
            tracks.push_back(project.addTrack());
            const std::string& instrument = patches.at(static_cast<std::size_t>(t)).name;
            project.setTrackInstrument(tracks.back(), QString::fromStdString(instrument));
            if (t % 2 == 1) {
                bench::require(!project.addDevice(tracks.back(), QStringLiteral("ostrel.delay"), QString()).isEmpty(),
                               "an echo");
            }
            for (int p = 0; p < patterns; ++p) {
                project.addPattern(tracks.back());
            }
        }
        transport.setMetronome(false);
    }

    // Turns the event loop and takes the renders in, as the program's 40 ms timer does;
    // keeps every new track, in order.
    void collect() {
        QCoreApplication::processEvents();
        for (const engine::RenderResult& result : project.onRenderFinished()) {
            const bool known = std::find(rendered.begin(), rendered.end(), result.track) != rendered.end();
            if (result.track != nullptr && !known) {
                rendered.push_back(result.track);
            }
        }
    }

    // Runs the program for a while: turns the event loop every millisecond, collects the
    // renders every 40 ms and calls `each` every millisecond.
    void run(double seconds, const std::function<void()>& each = {}) {
        const auto start = Clock::now();
        auto next = start;
        while (secondsSince(start) < seconds) {
            QCoreApplication::processEvents();
            if (Clock::now() >= next) {
                collect();
                next += std::chrono::milliseconds(40);
            }
            if (each) {
                each();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    void playFrom(double beats) {
        transport.setStartBeat(beats);
        transport.play();
        const engine::AudioEngine& engine = audio.engine();
        while (engine.shownGeneration() != engine.transport().state().generation || engine.shownPos() == 0) {
            collect();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    QTemporaryDir data;
    core::Logger logger;
    core::SettingsRegistry registry;
    core::SettingsStore store;
    app::SettingsBridge settings;
    CaptureCard* card;  // owned by the audio controller
    app::AudioController audio;
    app::TransportController transport;
    app::ProjectController project;
    std::vector<QString> tracks;
    std::vector<std::shared_ptr<engine::BackingTrack>> rendered;
};

// ---- Where each period came from -------------------------------------------------------------

struct Heard {
    int silent = 0;
    int wrong = 0;
    double newTempoMs = -1.0;
};

bool samePeriod(const CaptureCard& card, std::size_t at, const engine::BackingTrack::View& track, std::int64_t k) {
    if (k < track.from || k + static_cast<std::int64_t>(kPeriod) > std::min(track.end, track.frames)) {
        return false;
    }
    for (std::size_t i = 0; i < kPeriod; ++i) {
        const float* heard = card.frame(at + i);
        for (int c = 0; c < 2; ++c) {
            if (heard[c] != track.at(k + static_cast<std::int64_t>(i), std::min(track.channels - 1, c))) {
                return false;
            }
        }
    }
    return true;
}

// The period at `at` is the crossfade from `older` at kOld into `newer` at kNew: the newer
// one fades in over the engine's fade, the older one out, then the newer one alone.
bool fadedPeriod(const CaptureCard& card, std::size_t at, const engine::BackingTrack::View& older, std::int64_t kOld,
                 const engine::BackingTrack::View& newer, std::int64_t kNew) {
    const auto fade = static_cast<std::int64_t>(engine::AudioEngine::kTrackFadeFrames);
    const auto n = static_cast<std::int64_t>(kPeriod);
    if (kNew < newer.from || kNew + n > std::min(newer.end, newer.frames)) {
        return false;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        const float* heard = card.frame(at + static_cast<std::size_t>(i));
        const float in = i < fade ? static_cast<float>(i + 1) / static_cast<float>(fade) : 1.0f;
        const bool oldFinal = kOld + i >= older.from && kOld + i < std::min(older.end, older.frames);
        for (int c = 0; c < 2; ++c) {
            float expected = newer.at(kNew + i, std::min(newer.channels - 1, c)) * in;
            if (i < fade && oldFinal) {
                expected += older.at(kOld + i, std::min(older.channels - 1, c)) * (1.0f - in);
            }
            if (std::abs(heard[c] - expected) > 1e-5f) {
                return false;
            }
        }
    }
    return true;
}

// Where in the track the period is, searched in [low, high]; -1 when nowhere.
std::int64_t findPeriod(const CaptureCard& card, std::size_t at, const engine::BackingTrack::View& track,
                        std::int64_t low, std::int64_t high) {
    for (std::int64_t k = std::max(low, track.from); k <= high; ++k) {
        if (k + static_cast<std::int64_t>(kPeriod) <= track.end && track.at(k, 0) == card.frame(at)[0] &&
            samePeriod(card, at, track, k)) {
            return k;
        }
    }
    return -1;
}

// Every period the card played from `change` on, against the renders in the order they
// came (the first at firstBpm): the older goes on at its own pace until a newer one takes
// over at the beat the transport is at, the period of the hand-over being the crossfade of
// the two at that beat. Nothing else is forgiven.
Heard judge(const Song& song, std::size_t change, double firstBpm, std::size_t lastChange, std::size_t until) {
    // Each render's tempo from its length: they share the song's last note and its 6 s tail.
    const auto tail = static_cast<std::int64_t>(6 * kRate);
    std::vector<engine::BackingTrack::View> tracks;
    std::vector<double> framesPerBeat;
    for (const auto& track : song.rendered) {
        tracks.push_back(track->view());
        const double bpm = firstBpm * static_cast<double>(tracks.front().frames - tail) /
                           static_cast<double>(tracks.back().frames - tail);
        framesPerBeat.push_back(kRate * 60.0 / (std::round(bpm * 10.0) / 10.0));
    }
    Heard heard;
    std::size_t at = change / kPeriod * kPeriod - kPeriod;  // the period before the change
    std::size_t now = 0;                                    // the render heard
    std::int64_t k = findPeriod(*song.card, at, tracks[0], 0, tracks[0].frames);
    bench::require(k >= 0, "the song before the change");
    int unmatched = 0;
    for (at += kPeriod, k += kPeriod; at + kPeriod <= until; at += kPeriod) {
        const float* first = song.card->frame(at);
        bool silent = true;
        for (std::size_t i = 0; i < 2 * kPeriod && silent; ++i) {
            silent = std::abs(first[i]) < 1e-6f;
        }
        if (silent) {
            ++heard.silent;
            continue;
        }
        if (samePeriod(*song.card, at, tracks[now], k)) {
            heard.wrong += unmatched;
            unmatched = 0;
            k += kPeriod;
            continue;
        }
        // A newer render at the beat the transport is at, or after the fade into it.
        bool tookOver = false;
        const double beat = static_cast<double>(k) / framesPerBeat[now];
        for (std::size_t next = now + 1; next < tracks.size() && !tookOver; ++next) {
            const auto expected = static_cast<std::int64_t>(std::llround(beat * framesPerBeat[next]));
            const std::int64_t spread = static_cast<std::int64_t>((unmatched + 2) * kPeriod);
            const std::int64_t found = findPeriod(*song.card, at, tracks[next], expected - spread, expected + spread);
            if (found >= 0) {
                // The period before is the crossfade, from the same beat: the older track
                // where it had got to, the newer one a period before where it is now.
                const bool faded =
                    unmatched == 1 && fadedPeriod(*song.card, at - kPeriod, tracks[now], k - static_cast<std::int64_t>(kPeriod),
                                                  tracks[next], found - static_cast<std::int64_t>(kPeriod));
                const std::int64_t beatThere = std::llround(static_cast<double>(k - static_cast<std::int64_t>(kPeriod)) /
                                                            framesPerBeat[now] * framesPerBeat[next]);
                const bool sameBeat = std::abs(beatThere - (found - static_cast<std::int64_t>(kPeriod))) <= 2;
                heard.wrong += faded && sameBeat ? 0 : unmatched;
                if (next + 1 == tracks.size() && heard.newTempoMs < 0.0) {
                    const std::size_t heardAt = at - static_cast<std::size_t>(std::min(unmatched, 1)) * kPeriod;
                    heard.newTempoMs = 1000.0 * static_cast<double>(heardAt - std::min(heardAt, lastChange)) / kRate;
                }
                unmatched = 0;
                now = next;
                k = found + static_cast<std::int64_t>(kPeriod);
                tookOver = true;
            }
        }
        if (!tookOver) {
            ++unmatched;
            k += kPeriod;  // the older one would have gone on
        }
    }
    heard.wrong += unmatched;
    return heard;
}

void report(benchmark::State& state, const Heard& heard) {
    state.counters["silent_periods"] = heard.silent;
    state.counters["wrong_periods"] = heard.wrong;
    state.counters["new_tempo_ms"] = heard.newTempoMs;
}

// ---- The cases ------------------------------------------------------------------------------

void TempoChange(benchmark::State& state) {
    const double at = static_cast<double>(state.range(0));
    for (auto _ : state) {
        Song song;
        song.transport.setTempo(128.0);
        song.playFrom((at - 1.0) * 128.0 / 60.0);
        song.run(1.0);
        const std::size_t change = song.card->frames();
        song.transport.setTempo(64.0);
        song.run(1.5);
        const std::size_t until = song.card->frames();
        song.transport.stop();
        song.collect();
        report(state, judge(song, change, 128.0, change, until));
    }
}
BENCHMARK(TempoChange)->Arg(20)->Arg(40)->Arg(100)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

void TapTempo(benchmark::State& state) {
    for (auto _ : state) {
        Song song;
        song.transport.setTempo(128.0);
        song.playFrom(19.0 * 128.0 / 60.0);
        song.run(1.0);
        const std::size_t change = song.card->frames();
        std::size_t lastTap = change;
        for (const double bpm : {120.0, 110.0, 100.0, 92.0}) {
            lastTap = song.card->frames();
            song.transport.setTempo(bpm);
            song.run(0.3);
        }
        song.run(1.2);
        const std::size_t until = song.card->frames();
        song.transport.stop();
        song.collect();
        report(state, judge(song, change, 128.0, lastTap, until));
    }
}
BENCHMARK(TapTempo)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

// Held time while `run` plays, measured every millisecond.
struct Holds {
    double heldSeconds = 0.0;
    double longest = 0.0;
    int count = 0;
    void watch(const engine::AudioEngine& engine) {
        const auto now = Clock::now();
        const bool held = engine.waitingForSong();
        if (held && !holding_) {
            ++count;
            since_ = now;
        }
        if (held) {
            const double step = std::chrono::duration<double>(now - last_).count();
            heldSeconds += step;
            longest = std::max(longest, std::chrono::duration<double>(now - since_).count());
        }
        holding_ = held;
        last_ = now;
    }

private:
    bool holding_ = false;
    Clock::time_point since_;
    Clock::time_point last_ = Clock::now();
};

// Seconds of the card's from `from` until it plays a period of the first render that came
// after `known` renders; -1 when it never did.
double untilHeard(const Song& song, std::size_t known, std::size_t from, std::size_t until) {
    if (song.rendered.size() <= known) {
        return -1.0;
    }
    const engine::BackingTrack::View track = song.rendered[known]->view();
    for (std::size_t at = from / kPeriod * kPeriod; at + kPeriod <= until; at += kPeriod) {
        if (findPeriod(*song.card, at, track, track.from, std::min(track.end, track.frames) - 1) >= 0) {
            return static_cast<double>(at - from) / kRate;
        }
    }
    return -1.0;
}

void EditStorm(benchmark::State& state) {
    for (auto _ : state) {
        Song song({.render = {}, .playback = limitedRender(1.5), .clock = {}});
        song.playFrom(0.0);
        song.run(2.0);
        Holds holds;
        const auto watch = [&] { holds.watch(song.audio.engine()); };
        std::vector<std::pair<std::size_t, std::size_t>> edits;  // renders known, card frames
        for (int edit = 0; edit < 30; ++edit) {
            song.collect();
            edits.emplace_back(song.rendered.size(), song.card->frames());
            song.project.setTrackVolume(song.tracks.front(), edit % 2 == 0 ? 0.8 : 0.9);
            song.run(2.0, watch);
        }
        song.transport.stop();
        // An edit is heard once a render that started after it is.
        double heardSum = 0.0;
        double heardMax = 0.0;
        int heard = 0;
        for (const auto& [known, from] : edits) {
            const double after = untilHeard(song, known, from, song.card->frames());
            if (after >= 0.0) {
                heardSum += after;
                heardMax = std::max(heardMax, after);
                ++heard;
            }
        }
        state.counters["renders"] = static_cast<double>(song.rendered.size()) - 1.0;  // edits' renders that started
        state.counters["held_s"] = holds.heldSeconds;
        state.counters["longest_hold_s"] = holds.longest;
        state.counters["holds"] = holds.count;
        state.counters["edits_heard"] = heard;
        state.counters["heard_mean_s"] = heard > 0 ? heardSum / heard : -1.0;
        state.counters["heard_max_s"] = heardMax;
    }
}
BENCHMARK(EditStorm)->Iterations(1)->Repetitions(2)->Unit(benchmark::kMillisecond);

void HoldEdges(benchmark::State& state) {
    for (auto _ : state) {
        Song song({.render = {}, .playback = limitedRender(0.8), .clock = {}});
        song.playFrom(0.0);
        song.run(20.0);
        const CaptureCard& card = *song.card;
        const std::size_t frames = card.frames();
        song.transport.stop();
        // Holds: stretches of 64 frames or more of silence between sounds. A hold's edges are
        // the steps from the last sound into the silence and from it into the first sound.
        const auto silentAt = [&](std::size_t f) { return card.frame(f)[0] == 0.0f && card.frame(f)[1] == 0.0f; };
        const auto fade = static_cast<std::size_t>(engine::AudioEngine::kTrackFadeFrames);
        std::vector<bool> nearEdge(frames, false);
        float edgeStep = 0.0f;
        int holds = 0;
        std::size_t f = 0;
        while (f < frames && silentAt(f)) {
            ++f;  // the start of play
        }
        while (f < frames) {
            std::size_t end = f;
            while (end < frames && silentAt(end)) {
                ++end;
            }
            if (end - f >= 64 && end < frames) {
                ++holds;
                for (int c = 0; c < 2; ++c) {
                    edgeStep = std::max({edgeStep, std::abs(card.frame(f - 1)[c]), std::abs(card.frame(end)[c])});
                }
                for (std::size_t g = f > fade ? f - fade : 0; g < std::min(frames, end + fade); ++g) {
                    nearEdge[g] = true;
                }
            }
            f = end + 1;
        }
        float songStep = 0.0f;
        for (std::size_t g = 1; g < frames; ++g) {
            for (int c = 0; c < 2 && !nearEdge[g]; ++c) {
                songStep = std::max(songStep, std::abs(card.frame(g)[c] - card.frame(g - 1)[c]));
            }
        }
        state.counters["edge_step"] = edgeStep;
        state.counters["song_step"] = songStep;
        state.counters["holds"] = holds;
    }
}
BENCHMARK(HoldEdges)->Iterations(1)->Repetitions(2)->Unit(benchmark::kMillisecond);

void EditHeard(benchmark::State& state) {
    const double speed = static_cast<double>(state.range(0)) / 100.0;
    const bool tempo = state.range(1) != 0;
    for (auto _ : state) {
        Song song({.render = {}, .playback = limitedRender(speed), .clock = {}});
        song.playFrom(0.0);
        song.run(8.0);
        song.collect();
        if (tempo) {
            song.transport.setTempo(100.0);
        } else {
            song.project.setTrackVolume(song.tracks.front(), 0.5);
        }
        const std::size_t known = song.rendered.size();
        const std::size_t from = song.card->frames();
        Holds holds;
        song.run(40.0, [&] { holds.watch(song.audio.engine()); });
        const std::size_t until = song.card->frames();
        song.transport.stop();
        state.counters["heard_s"] = untilHeard(song, known, from, until);
        state.counters["held_s"] = holds.heldSeconds;
    }
}
BENCHMARK(EditHeard)
    ->ArgNames({"speed_pct", "tempo"})
    ->Args({43, 0})
    ->Args({43, 1})
    ->Args({150, 0})
    ->Args({150, 1})
    ->Iterations(1)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond);

// Seconds from the play until the card plays sound.
double untilSound(Song& song, double beats) {
    const std::size_t from = song.card->frames();
    song.transport.setStartBeat(beats);
    song.transport.play();
    const auto start = Clock::now();
    std::size_t checked = from;
    double sound = -1.0;
    song.run(20.0, [&] {
        for (const std::size_t upto = song.card->frames(); sound < 0.0 && checked < upto; ++checked) {
            if (song.card->frame(checked)[0] != 0.0f || song.card->frame(checked)[1] != 0.0f) {
                sound = secondsSince(start);
            }
        }
    });
    return sound;
}

void ReplayAfterStop(benchmark::State& state) {
    for (auto _ : state) {
        Song fresh;
        const double freshSeconds = untilSound(fresh, 150.0);
        fresh.transport.stop();
        Song song;
        song.playFrom(0.0);
        song.run(2.0);
        song.transport.stop();
        song.run(0.1);
        state.counters["sound_s"] = untilSound(song, 150.0);
        state.counters["fresh_s"] = freshSeconds;
        song.transport.stop();
    }
}
BENCHMARK(ReplayAfterStop)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

void TempoBurst(benchmark::State& state) {
    const auto changes = static_cast<int>(state.range(0));
    for (auto _ : state) {
        Song song;
        song.transport.setTempo(124.0);
        song.playFrom(19.0 * 124.0 / 60.0);
        song.run(1.0);
        const std::size_t change = song.card->frames();
        std::size_t last = change;
        const double tempos[] = {118.0, 130.0, 126.0, 122.0, 120.0};
        for (int k = 0; k < changes; ++k) {
            last = song.card->frames();
            song.transport.setTempo(tempos[k % 5] + 0.1 * (k / 5));
            song.run(1.0 / changes);
        }
        song.run(2.0);
        const std::size_t until = song.card->frames();
        song.transport.stop();
        song.collect();
        report(state, judge(song, change, 124.0, last, until));
    }
}
BENCHMARK(TempoBurst)->Arg(5)->Arg(20)->Iterations(1)->Repetitions(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
