#include "playback/render/SongRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>

#include "audiofile/Resample.h"
#include "audiofile/WavReader.h"
#include "core/Failure.h"
#include "core/Processors.h"
#include "devices/DeviceCatalog.h"
#include "devices/instruments/InstrumentConfig.h"
#include "devices/instruments/InstrumentSample.h"
#include "devices/patches/Patch.h"
#include "devices/patches/PatchGraph.h"
#include "devices/patches/PolyphonicPatch.h"
#include "engine/graph/DeviceNode.h"
#include "engine/graph/GraphRunner.h"
#include "playback/live/VoiceAllocator.h"
#include "playback/render/ClipPlayerNode.h"
#include "playback/render/FeedNode.h"
#include "playback/render/NoteEvents.h"
#include "playback/render/StemMixer.h"

namespace ostrel::engine { inline namespace playback {
namespace {

constexpr double kInstrumentTailSeconds = 2.0;  // release of the last notes
constexpr double kEffectTailSeconds = 4.0;      // echoes and reverb after the content
constexpr double kSecondsLimit = 1.0e7;

const char kTooLong[] = "the song is too long to render (more than 60 minutes)";
static_assert(kMaxRenderSeconds == 3600.0, "the message names the bound");
// Far above any sound card; keeps every frame count below 2^63.
constexpr double kMaxSampleRate = 1.0e6;
// More threads than this only add stacks: no machine it runs on has more cores.
constexpr int kMaxRenderThreads = 256;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string trackPrefix(const model::Track& track) { return "track " + quoted(track.name) + ": "; }

double safeTempo(double bpm) { return std::isnan(bpm) ? 120.0 : clampTempo(bpm); }

std::int64_t secondsToFrames(double seconds, double sampleRate) {
    return static_cast<std::int64_t>(std::ceil(seconds * sampleRate));
}

bool anyDeviceEnabled(const model::Track& track) {
    return std::any_of(track.devices.begin(), track.devices.end(), [](const model::Device& d) { return d.enabled; });
}

std::int64_t clipEndFrame(const model::Clip& clip, const TempoMap& tempoMap, double sampleRate) {
    return tempoMap.tickToFrame(beatsToTick(safeBeats(clip.startBeats) + safeBeats(clip.lengthBeats)), sampleRate);
}

// Last frame of an audio track's clips (0 when it has none with a sound), before any tail.
std::int64_t audioContentEnd(const model::Track& track, const TempoMap& tempoMap, double sampleRate) {
    std::int64_t end = 0;
    for (const model::Clip& clip : track.clips) {
        if (!clip.audioSource.empty()) {
            end = std::max(end, clipEndFrame(clip, tempoMap, sampleRate));
        }
    }
    return end;
}

// The tick of the last note off; 0 when no note sounds.
std::int64_t lastNoteTick(const std::vector<NoteEvent>& events) {
    std::int64_t last = 0;
    bool any = false;
    for (const NoteEvent& e : events) {
        if (e.off) {
            last = any ? std::max(last, e.tick) : e.tick;
            any = true;
        }
    }
    return last;
}

using SoundCache = std::map<std::string, std::shared_ptr<const AudioData>>;

// The decoded sound of a clip, resampled to the render's rate; null (and a warning the
// first time) when it cannot be used.
std::shared_ptr<const AudioData> soundFor(const model::Track& track, const std::string& name,
                                          const std::filesystem::path& samplesFolder, double sampleRate,
                                          SoundCache& cache, std::vector<std::string>& warnings) {
    if (auto found = cache.find(name); found != cache.end()) {
        return found->second;
    }
    std::shared_ptr<const AudioData> sound;
    std::string reason;
    if (samplesFolder.empty()) {
        reason = "no audio folder";
    } else {
        AudioData data;
        if (loadWavFile(samplesFolder / name, data, &reason)) {
            sound = std::make_shared<const AudioData>(resampleAudio(data, sampleRate));
        }
    }
    if (!sound) {
        warnings.push_back(trackPrefix(track) + "the audio file " + quoted(name) + " could not be used (" + reason +
                           "); skipped");
    }
    cache.emplace(name, sound);
    return sound;
}

int toInt(std::uint32_t value) { return static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max())); }

// Where a patch is cut into parts, and the part of each module in one (the others join).
struct PatchCuts {
    std::vector<int> at;
    std::map<int, std::size_t> partOf;
};

// Where a track's patch may be cut into parts that run side by side: the mixers that
// each gather a group of voices, when two or more do; else the instrument's output when
// effects follow it. Each cut's part is the cut and everything before it; a part feeds
// nothing outside itself but through its cut, and every voice is in a part. No cut: the
// patch runs whole.
PatchCuts cutPoints(const Patch& patch, int instrumentOutput) {
    std::map<int, const PatchNode*> byId;
    for (const PatchNode& node : patch.nodes) {
        if (!byId.emplace(node.id, &node).second) {
            return {};  // ids must name one module each
        }
    }
    std::map<int, std::vector<int>> inputs;
    std::map<int, std::vector<int>> users;
    for (const PatchCable& cable : patch.connections) {
        if (!byId.contains(cable.from) || !byId.contains(cable.to)) {
            return {};
        }
        inputs[cable.to].push_back(cable.from);
        users[cable.from].push_back(cable.to);
    }
    PatchCuts found;
    const auto closed = [&](const std::vector<int>& cuts, bool everyVoice) {
        std::map<int, std::size_t>& partOf = found.partOf;
        partOf.clear();
        for (std::size_t i = 0; i < cuts.size(); ++i) {
            std::vector<int> open{cuts[i]};
            while (!open.empty()) {
                const int id = open.back();
                open.pop_back();
                const auto [at, added] = partOf.emplace(id, i);
                if (!added) {
                    if (at->second != i) return false;
                    continue;
                }
                open.insert(open.end(), inputs[id].begin(), inputs[id].end());
            }
        }
        for (const auto& [id, part] : partOf) {
            if (id == cuts[part]) continue;
            for (int user : users[id]) {
                const auto found = partOf.find(user);
                if (found == partOf.end() || found->second != part) return false;
            }
        }
        return !everyVoice || std::all_of(patch.nodes.begin(), patch.nodes.end(), [&](const PatchNode& node) {
            return node.voice < 0 || partOf.contains(node.id);
        });
    };
    std::vector<int> gathers;
    for (const PatchNode& node : patch.nodes) {
        const std::vector<int>& in = inputs[node.id];
        if (node.voice < 0 && node.id != patch.output && !in.empty() &&
            std::all_of(in.begin(), in.end(), [&](int from) { return byId.at(from)->voice >= 0; })) {
            gathers.push_back(node.id);
        }
    }
    if (gathers.size() >= 2 && closed(gathers, true)) {
        found.at = std::move(gathers);
    } else if (instrumentOutput != patch.output && byId.contains(instrumentOutput) && closed({instrumentOutput}, false)) {
        found.at = {instrumentOutput};
    }
    return found;
}

// The patch cut into out's parts and join; false (out untouched) if any does not build.
// The patch built whole before, so its faults and warnings are known.
bool buildParts(const Patch& patch, const PatchCuts& cuts, const RenderSettings& settings, TrackStem* out) {
    const std::uint32_t channels = static_cast<std::uint32_t>(std::max(0, settings.channels));
    const std::map<int, std::size_t>& partOf = cuts.partOf;
    std::vector<std::unique_ptr<Graph>> parts;
    for (std::size_t i = 0; i < cuts.at.size(); ++i) {
        Patch part;
        for (const PatchNode& node : patch.nodes) {
            if (const auto found = partOf.find(node.id); found != partOf.end() && found->second == i) part.nodes.push_back(node);
        }
        for (const PatchCable& cable : patch.connections) {
            if (const auto found = partOf.find(cable.to); found != partOf.end() && found->second == i) part.connections.push_back(cable);
        }
        part.output = cuts.at[i];
        PatchGraph built = buildPatchGraph(part, settings.sampleRate, settings.blockSize, channels, nullptr);
        if (!built.graph) return false;
        parts.push_back(std::move(built.graph));
    }

    GraphBuilder builder;
    std::map<int, int> boxOf;
    for (const PatchNode& node : patch.nodes) {
        if (partOf.contains(node.id)) continue;
        std::unique_ptr<DeviceNode> device = makePatchModule(node, nullptr);
        if (!device) return false;
        boxOf[node.id] = builder.addNode(std::move(device));
    }
    std::vector<FeedNode*> feeds;
    for (int cut : cuts.at) {
        auto feed = std::make_unique<FeedNode>();
        feeds.push_back(feed.get());
        boxOf[cut] = builder.addNode(std::move(feed));
    }
    for (const PatchCable& cable : patch.connections) {
        if (partOf.contains(cable.to)) continue;
        const auto from = boxOf.find(cable.from);
        const auto to = boxOf.find(cable.to);
        if (from == boxOf.end() || to == boxOf.end()) return false;
        builder.connect(from->second, to->second, cable.slot);
    }
    const auto output = boxOf.find(patch.output);
    if (output == boxOf.end() || partOf.contains(patch.output)) return false;
    builder.output = output->second;
    std::unique_ptr<Graph> join = builder.compile(settings.sampleRate, toInt(settings.blockSize), settings.channels, nullptr);
    if (!join) return false;
    out->parts = std::move(parts);
    out->join = std::move(join);
    out->feeds = std::move(feeds);
    return true;
}

// The settings a render cannot start without.
bool checkRenderSettings(const RenderSettings& settings, std::int64_t& maxFrames, std::string* error) {
    const double rate = settings.sampleRate;
    if (!(rate > 0.0 && rate <= kMaxSampleRate)) {
        return core::fail(error, "the sample rate must be above 0 and at most 1000000 Hz");
    }
    if (settings.channels < 1) {
        return core::fail(error, "the channel count must be at least 1");
    }
    if (settings.blockSize < 1) {
        return core::fail(error, "the block size must be at least 1");
    }
    maxFrames = secondsToFrames(kMaxRenderSeconds, rate);
    if (settings.frames > maxFrames) {
        return core::fail(error, kTooLong);
    }
    return true;
}

// How long the song is, from the content alone, and which tracks make a stem.
struct SongExtent {
    std::vector<bool> hasStem;
    std::int64_t length = 0;
    std::size_t tooLong = 0;  // the first track that ends past the limit; the track count when none does
};

SongExtent measureSong(const std::vector<model::Track>& tracks, const TempoMap& tempoMap,
                       const RenderSettings& settings, std::int64_t maxFrames) {
    const double rate = settings.sampleRate;
    SongExtent extent;
    extent.hasStem.assign(tracks.size(), false);
    extent.length = settings.frames;
    extent.tooLong = tracks.size();
    for (std::size_t k = 0; k < tracks.size() && extent.tooLong == tracks.size(); ++k) {
        const model::Track& track = tracks[k];
        const bool effects = anyDeviceEnabled(track);
        std::int64_t total = 0;
        if (model::isAudioTrack(track)) {
            const std::int64_t contentEnd = audioContentEnd(track, tempoMap, rate);
            if (contentEnd == 0) {
                continue;
            }
            total = contentEnd + (effects ? secondsToFrames(kEffectTailSeconds, rate) : 0);
        } else {
            if (track.instrumentPatch.empty()) {
                continue;
            }
            if (!track.clips.empty()) {
                const double tail = kInstrumentTailSeconds + (effects ? kEffectTailSeconds : 0.0);
                total = tempoMap.tickToFrame(lastNoteTick(collectNoteEvents(track)), rate) + secondsToFrames(tail, rate);
            }
        }
        if (total > maxFrames) {
            extent.tooLong = k;
            break;
        }
        extent.hasStem[k] = true;
        if (settings.frames == 0) {
            extent.length = std::max(extent.length, total);  // tracks with gain 0 count too
        }
    }
    return extent;
}

// Seconds after the last note (or clip) that a track may still sound, as the song's length counts them.
double tailSeconds(const model::Track& track) {
    const double effects = anyDeviceEnabled(track) ? kEffectTailSeconds : 0.0;
    return model::isAudioTrack(track) ? effects : kInstrumentTailSeconds + effects;
}

std::int64_t trackTail(const model::Track& track, double rate) { return secondsToFrames(tailSeconds(track), rate); }

// Where a stem starts when play starts at `from`, and its events from there; see
// renderForPlayback. `earliest` and `piece`: the mix's start and its pieces.
void startBefore(const model::Track& track, std::int64_t from, std::int64_t earliest, std::int64_t piece, double rate,
                 TrackStem& stem) {
    const std::int64_t edge = from - trackTail(track, rate);  // what ends before it is silent at `from`
    std::int64_t start = edge;
    // Each voice's note: its on and whether it still sounds. A note ends at its off or
    // when the next note takes its voice.
    std::map<std::uint8_t, std::int64_t> sounding;
    const auto ended = [&](std::uint8_t voice, std::int64_t at) {
        if (const auto note = sounding.find(voice); note != sounding.end()) {
            if (note->second < edge && at > edge) {
                start = std::min(start, note->second);
            }
            sounding.erase(note);
        }
    };
    for (const TimedEvent& e : stem.events) {
        if (e.time >= from) {
            break;
        }
        if (e.event.type == EventType::NoteOn || e.event.type == EventType::NoteOff) {
            ended(e.event.channel, e.time);
        }
        if (e.event.type == EventType::NoteOn) {
            sounding[e.event.channel] = e.time;
        }
    }
    for (const auto& [voice, on] : sounding) {
        if (on < edge) {
            start = std::min(start, on);  // held past `from`
        }
    }
    start = std::max(start, earliest) / piece * piece;

    // A voice whose note is still on at the start plays it from there.
    std::map<std::uint8_t, TimedEvent> held;
    std::vector<TimedEvent> events;
    for (const TimedEvent& e : stem.events) {
        if (e.time >= start) {
            events.push_back(e);
        } else if (e.event.type == EventType::NoteOn) {
            held[e.event.channel] = {start, e.event};
        } else if (e.event.type == EventType::NoteOff) {
            held.erase(e.event.channel);
        }
    }
    std::vector<TimedEvent> restarted;
    for (const auto& [voice, on] : held) {
        restarted.push_back(on);
    }
    events.insert(events.begin(), restarted.begin(), restarted.end());
    stem.events = std::move(events);
    stem.start = start;
}

// The first fault of a song with a track too long: a track before that one that cannot be
// built, else the length itself. Always false.
bool failTooLong(std::size_t tooLong, const StemBuilder& build, std::string* error) {
    for (std::size_t k = 0; k < tooLong; ++k) {
        TrackStem stem;
        std::string stemError;
        if (!build(k, &stem, &stemError)) {
            return core::fail(error, stemError);
        }
    }
    return core::fail(error, kTooLong);
}

}  // namespace

double renderTempo(const model::Project& project) { return safeTempo(project.tempoBpm()); }

double preRollSeconds(const model::Project& project) {
    double sum = 0.0;
    int sounding = 0;
    for (const model::Track& track : project.tracks()) {
        const bool sounds = model::isAudioTrack(track) ? !track.clips.empty() : !track.instrumentPatch.empty();
        if (sounds) {
            sum += std::min(tailSeconds(track), kMaxPreRollSeconds);
            ++sounding;
        }
    }
    return sounding > 0 ? sum / sounding : 0.0;
}

int renderThreadCount(int requested) {
    return std::min(kMaxRenderThreads, requested > 0 ? requested : core::usableProcessors());
}

bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap, const RenderSettings& settings,
                      TrackStem* out, std::string* error) {
    const double sampleRate = settings.sampleRate;
    struct ClipPlacement {
        const model::Clip* clip = nullptr;
        std::int64_t startFrame = 0;
        std::int64_t lengthFrames = 0;
    };
    std::vector<ClipPlacement> placements;
    for (const model::Clip& clip : track.clips) {
        if (clip.audioSource.empty()) {
            continue;
        }
        const std::int64_t start = tempoMap.tickToFrame(beatsToTick(clip.startBeats), sampleRate);
        const std::int64_t end = clipEndFrame(clip, tempoMap, sampleRate);
        placements.push_back({&clip, start, std::max<std::int64_t>(0, end - start)});
    }

    // The clips play straight from their sounds: nothing here grows with the song's length.
    std::vector<std::string> warnings;
    auto player = std::make_unique<ClipPlayerNode>();
    SoundCache cache;  // decoded once per track; the player keeps what its clips use
    for (const ClipPlacement& placement : placements) {
        const model::Clip& clip = *placement.clip;
        if (!isPlainFileName(clip.audioSource)) {
            warnings.push_back(trackPrefix(track) + quoted(clip.audioSource) + " is not a plain file name; skipped");
            continue;
        }
        auto sound = soundFor(track, clip.audioSource, settings.samplesFolder, sampleRate, cache, warnings);
        if (!sound) {
            continue;
        }
        const double offsetSeconds =
            std::isnan(clip.audioOffsetSeconds) ? 0.0 : std::clamp(clip.audioOffsetSeconds, -kSecondsLimit, kSecondsLimit);
        player->addClip({std::move(sound), placement.startFrame, placement.lengthFrames,
                         std::llround(sampleRate * offsetSeconds)});
    }
    cache.clear();

    GraphBuilder builder;
    int prev = builder.addNode(std::move(player));
    for (const model::Device& device : track.devices) {
        if (!device.enabled) {
            continue;
        }
        std::unique_ptr<DeviceNode> node = createDevice(device.typeId);
        if (!node) {
            core::fail(error, trackPrefix(track) + "unknown effect " + quoted(device.typeId));
            return false;
        }
        for (const auto& [key, value] : device.parameters) {
            std::uint32_t index = 0;
            if (node->findParameter(key.c_str(), index)) {
                node->params.setValue(index, static_cast<float>(value));
            } else {
                warnings.push_back(trackPrefix(track) + "the effect " + device.typeId + " has no knob called " +
                                   quoted(key) + "; skipped");
            }
        }
        const int id = builder.addNode(std::move(node));
        builder.connect(prev, id, 0);
        prev = id;
    }
    builder.output = prev;
    std::string compileError;
    std::unique_ptr<Graph> graph = builder.compile(sampleRate, toInt(settings.blockSize), settings.channels, &compileError);
    if (!graph) {
        core::fail(error, trackPrefix(track) + compileError);
        return false;
    }
    out->graph = std::move(graph);
    out->events.clear();
    out->warnings = std::move(warnings);
    return true;
}

bool renderInstrumentTrack(const model::Track& track, const TempoMap& tempoMap, const RenderSettings& settings,
                           TrackStem* out, std::string* error) {
    const double sampleRate = settings.sampleRate;
    Patch patch;
    std::vector<std::string> instrumentWarnings;
    std::string instrumentError;
    if (!makeInstrumentPatch(track.instrumentPatch, track.instrumentConfig.get(), settings.samplesFolder, patch,
                             &instrumentWarnings, &instrumentError)) {
        core::fail(error, trackPrefix(track) + "unknown instrument patch " + quoted(track.instrumentPatch));
        return false;
    }
    const int voices = std::clamp(patch.voices, 1, VoiceAllocator::kMaxVoices);
    Patch play = makePolyphonicPatch(patch, 1.0f, VoiceEffects::None, voices, nullptr);
    const int instrumentOutput = play.output;

    int nextId = 0;
    for (const PatchNode& node : play.nodes) {
        nextId = std::max(nextId, node.id + 1);
    }
    for (const model::Device& device : track.devices) {
        if (!device.enabled) {
            continue;
        }
        PatchNode node;
        node.id = nextId;
        node.device = device.typeId;
        node.label = device.name;
        node.parameters = device.parameters;
        play.nodes.push_back(std::move(node));
        play.connections.push_back({play.output, nextId, 0});
        play.output = nextId;
        ++nextId;
    }

    // Whole first: its faults and warnings are the track's, whatever runs in the end.
    std::string buildError;
    PatchGraph built = buildPatchGraph(play, sampleRate, settings.blockSize, static_cast<std::uint32_t>(std::max(0, settings.channels)),
                                       &buildError);
    if (!built.graph) {
        core::fail(error, trackPrefix(track) + buildError);
        return false;
    }
    // In parts, several render threads can share one heavy track. One thread runs it
    // whole: its voices' filters then share their coefficients block by block.
    const PatchCuts cuts = settings.threads == 1 ? PatchCuts{} : cutPoints(play, instrumentOutput);
    if (!cuts.at.empty() && buildParts(play, cuts, settings, out)) {
        built.graph.reset();
    }

    std::vector<TimedEvent> events;
    VoiceAllocator allocator(voices);
    for (const NoteEvent& note : collectNoteEvents(track)) {
        VoiceAction action;
        if (note.off) {
            if (allocator.noteOff(note.pitch, action) != NoteRelease::Now) {
                continue;
            }
        } else {
            action = allocator.noteOn(note.pitch, std::max(1, note.velocity));
            if (action.voice == VoiceAllocator::kNoVoice) {
                continue;
            }
        }
        Event event;
        event.type = static_cast<EventType>(action.type);
        event.channel = static_cast<std::uint8_t>(action.voice);
        event.note = static_cast<std::uint8_t>(action.note);
        event.velocity = static_cast<std::uint8_t>(action.velocity);
        events.push_back({tempoMap.tickToFrame(note.tick, sampleRate), event});
    }

    out->graph = std::move(built.graph);  // null when in parts
    out->events = std::move(events);
    out->warnings = std::move(built.warnings);
    out->warnings.insert(out->warnings.end(), instrumentWarnings.begin(), instrumentWarnings.end());
    return true;
}

namespace {

// What every render of a song settles before the mix: its tempo, its length and how each
// track's stem is built. The builder refers to the plan and to the project and settings it
// was made from, so all three stay where they are while it is used.
struct SongPlan {
    SongPlan() = default;
    SongPlan(const SongPlan&) = delete;
    SongPlan& operator=(const SongPlan&) = delete;

    double bpm = 120.0;
    TempoMap tempoMap{{TempoPoint{0, 120.0}}, {}};
    RenderSettings trackSettings;  // with the thread count settled
    std::vector<bool> hasStem;
    std::int64_t length = 0;
    StemBuilder build;
};

// False with the error when the song cannot be rendered (its settings, a track too long).
bool planSong(const model::Project& project, const RenderSettings& settings, SongPlan& plan, std::string* error) {
    std::int64_t maxFrames = 0;
    if (!checkRenderSettings(settings, maxFrames, error)) {
        return false;
    }
    plan.bpm = safeTempo(project.tempoBpm());
    plan.tempoMap = TempoMap({TempoPoint{0, plan.bpm}}, {});
    const auto& tracks = project.tracks();
    const bool anySolo = std::any_of(tracks.begin(), tracks.end(), [](const model::Track& t) { return t.solo; });

    // The length comes first, from the content alone: the mix is made once, before any
    // track is built, and no track is built that the render does not need at once.
    const SongExtent extent = measureSong(tracks, plan.tempoMap, settings, maxFrames);
    plan.hasStem = extent.hasStem;
    plan.trackSettings = settings;
    plan.trackSettings.threads = renderThreadCount(settings.threads);
    plan.build = [&project, &settings, &plan, anySolo](std::size_t k, TrackStem* stem, std::string* stemError) {
        const model::Track& track = project.tracks()[k];
        if (!plan.hasStem[k]) {
            return true;
        }
        const bool built = model::isAudioTrack(track)
                               ? renderAudioTrack(track, plan.tempoMap, settings, stem, stemError)
                               : renderInstrumentTrack(track, plan.tempoMap, plan.trackSettings, stem, stemError);
        const bool heard = anySolo ? track.solo : !track.muted;
        // A volume that is not a number would fill the whole mix with NaN.
        stem->gain = heard && std::isfinite(track.volume) ? track.volume : 0.0;
        return built;
    };
    if (extent.tooLong < tracks.size()) {
        return failTooLong(extent.tooLong, plan.build, error);
    }
    plan.length = std::max<std::int64_t>(extent.length, 0);
    return true;
}

StemMixSettings mixSettingsFor(const RenderSettings& settings, const SongPlan& plan) {
    StemMixSettings mix;
    mix.threads = plan.trackSettings.threads;
    mix.channels = settings.channels;
    mix.context.sampleRate = settings.sampleRate;
    mix.context.blockSize = settings.blockSize;
    mix.context.frames = plan.length;
    mix.context.bpm = plan.bpm;
    return mix;
}

}  // namespace

bool renderProject(const model::Project& project, const RenderSettings& settings, RenderOutput* out,
                   std::string* error) {
    SongPlan plan;
    if (!planSong(project, settings, plan, error)) {
        return false;
    }

    AudioData audio;
    const std::size_t channels = static_cast<std::size_t>(settings.channels);
    audio.samples.assign(static_cast<std::size_t>(plan.length) * channels, 0.0f);
    audio.channels = settings.channels;
    audio.sampleRate = settings.sampleRate;
    audio.frames = plan.length;

    std::vector<std::string> warnings;
    std::string mixError;
    if (!mixStems(project.tracks().size(), plan.build, mixSettingsFor(settings, plan), audio.samples, &warnings,
                  &mixError)) {
        core::fail(error, mixError);
        return false;
    }

    out->audio = std::move(audio);
    out->warnings = std::move(warnings);
    return true;
}

bool renderForPlayback(const model::Project& project, const RenderSettings& settings, const PlaybackRender& render,
                       BackingTrack& track, std::vector<std::string>* warnings, std::string* error) {
    SongPlan plan;
    if (!planSong(project, settings, plan, error)) {
        return false;
    }
    const std::int64_t length = plan.length;
    const std::int64_t piece = mixPieceFrames(settings.blockSize);
    const std::int64_t from = std::clamp<std::int64_t>(render.from, 0, length) / piece * piece;
    const std::int64_t earliest =
        std::max<std::int64_t>(0, from - secondsToFrames(kMaxPreRollSeconds, settings.sampleRate)) / piece * piece;
    track.begin(length, settings.channels, from, {settings.sampleRate, plan.bpm});

    const StemBuilder build = [&](std::size_t k, TrackStem* stem, std::string* stemError) {
        if (!plan.build(k, stem, stemError)) {
            return false;
        }
        if (from > 0) {
            startBefore(project.tracks()[k], from, earliest, piece, settings.sampleRate, *stem);
        }
        return true;
    };
    StemMixSettings mix = mixSettingsFor(settings, plan);
    mix.order = MixOrder::InTime;
    mix.memory = MixMemory::Unwritten;
    mix.context.startPosition = earliest;
    mix.context.frames = length - earliest;
    mix.built = render.started;
    mix.published = [&track, &render, earliest](std::int64_t frames) {
        track.publish(earliest + frames);
        if (render.progress) {
            render.progress(earliest + frames);
        }
    };
    mix.stop = render.stop;
    std::string mixError;
    if (!mixStems(project.tracks().size(), build, mix, track.unpublished(earliest, length - earliest), warnings,
                  &mixError)) {
        core::fail(error, mixError);
        return false;
    }
    return true;
}

} }  // namespace ostrel::engine::playback
