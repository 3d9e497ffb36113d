#include "playback/SongRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <span>

#include "devices/DeviceCatalog.h"
#include "devices/InstrumentConfig.h"
#include "devices/InstrumentSample.h"
#include "devices/Patch.h"
#include "devices/PatchGraph.h"
#include "devices/PolyphonicPatch.h"
#include "engine/BasicNodes.h"
#include "engine/GraphRunner.h"
#include "engine/DeviceNode.h"
#include "core/Failure.h"
#include "audiofile/Resample.h"
#include "playback/NoteEvents.h"
#include "playback/VoiceAllocator.h"
#include "audiofile/WavReader.h"

namespace ostrel::engine { inline namespace playback {
namespace {

constexpr double kInstrumentTailSeconds = 2.0;  // release of the last notes
constexpr double kEffectTailSeconds = 4.0;      // echoes and reverb after the content
constexpr double kSecondsLimit = 1.0e7;

const char kTooLong[] = "the song is too long to render (more than 60 minutes)";
static_assert(kMaxRenderSeconds == 3600.0, "the message names the bound");
// Far above any sound card; keeps every frame count below 2^63.
constexpr double kMaxSampleRate = 1.0e6;

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

// Adds lengthFrames frames of the sound, from offset on, into the stereo buffer at start.
// Frames outside the buffer (a clip before the song's start) and outside the sound are left.
void mixClip(const AudioData& sound, std::int64_t offset, std::int64_t start, std::int64_t lengthFrames,
             std::vector<float>& buffer) {
    const std::int64_t soundChannels = std::max(1, sound.channels);
    const std::int64_t soundFrames =
        std::min<std::int64_t>(sound.frames, static_cast<std::int64_t>(sound.samples.size()) / soundChannels);
    const std::int64_t bufferFrames = static_cast<std::int64_t>(buffer.size() / 2);
    const std::int64_t first = std::max<std::int64_t>({0, -offset, -start});
    const std::int64_t last = std::min({lengthFrames, soundFrames - offset, bufferFrames - start});
    for (std::int64_t i = first; i < last; ++i) {
        const std::size_t s = static_cast<std::size_t>((offset + i) * soundChannels);
        const float left = sound.samples[s];
        const float right = soundChannels > 1 ? sound.samples[s + 1] : left;
        const std::size_t d = static_cast<std::size_t>(start + i) * 2;
        buffer[d] += left;
        buffer[d + 1] += right;
    }
}

int toInt(std::uint32_t value) { return static_cast<int>(std::min<std::uint32_t>(value, std::numeric_limits<int>::max())); }

}  // namespace

bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap, const RenderSettings& settings,
                      TrackStem* out, std::string* error) {
    const double sampleRate = settings.sampleRate;
    struct ClipPlacement {
        const model::Clip* clip = nullptr;
        std::int64_t startFrame = 0;
        std::int64_t lengthFrames = 0;
    };
    std::vector<ClipPlacement> placements;
    std::int64_t trackEnd = 0;
    for (const model::Clip& clip : track.clips) {
        if (clip.audioSource.empty()) {
            continue;
        }
        const std::int64_t start = tempoMap.tickToFrame(beatsToTick(clip.startBeats), sampleRate);
        const std::int64_t end = clipEndFrame(clip, tempoMap, sampleRate);
        placements.push_back({&clip, start, std::max<std::int64_t>(0, end - start)});
        trackEnd = std::max(trackEnd, end);
    }

    std::vector<std::string> warnings;
    auto buffer = std::make_shared<std::vector<float>>(static_cast<std::size_t>(trackEnd) * 2, 0.0f);
    {
        SoundCache cache;  // decoded once per track, dropped before the graph runs
        for (const ClipPlacement& placement : placements) {
            const model::Clip& clip = *placement.clip;
            if (!isPlainFileName(clip.audioSource)) {
                warnings.push_back(trackPrefix(track) + quoted(clip.audioSource) +
                                   " is not a plain file name; skipped");
                continue;
            }
            const auto sound = soundFor(track, clip.audioSource, settings.samplesFolder, sampleRate, cache, warnings);
            if (!sound) {
                continue;
            }
            const double offsetSeconds =
                std::isnan(clip.audioOffsetSeconds) ? 0.0
                                                    : std::clamp(clip.audioOffsetSeconds, -kSecondsLimit, kSecondsLimit);
            mixClip(*sound, std::llround(sampleRate * offsetSeconds), placement.startFrame, placement.lengthFrames,
                    *buffer);
        }
    }

    GraphBuilder builder;
    int prev = builder.addNode(std::make_unique<BufferSourceNode>(std::move(buffer), 2, trackEnd));
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

    std::string buildError;
    PatchGraph built = buildPatchGraph(play, sampleRate, settings.blockSize, static_cast<std::uint32_t>(std::max(0, settings.channels)),
                                       &buildError);
    if (!built.graph) {
        core::fail(error, trackPrefix(track) + buildError);
        return false;
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

    out->graph = std::move(built.graph);
    out->events = std::move(events);
    out->warnings = std::move(built.warnings);
    out->warnings.insert(out->warnings.end(), instrumentWarnings.begin(), instrumentWarnings.end());
    return true;
}

bool renderProject(const model::Project& project, const RenderSettings& settings, RenderOutput* out,
                   std::string* error) {
    const double rate = settings.sampleRate;
    if (!(rate > 0.0 && rate <= kMaxSampleRate)) {
        core::fail(error, "the sample rate must be above 0 and at most 1000000 Hz");
        return false;
    }
    if (settings.channels < 1) {
        core::fail(error, "the channel count must be at least 1");
        return false;
    }
    if (settings.blockSize < 1) {
        core::fail(error, "the block size must be at least 1");
        return false;
    }
    const std::int64_t maxFrames = secondsToFrames(kMaxRenderSeconds, rate);
    if (settings.frames > maxFrames) {
        core::fail(error, kTooLong);
        return false;
    }

    const double bpm = safeTempo(project.tempoBpm());
    const TempoMap tempoMap({TempoPoint{0, bpm}}, {});
    const auto& tracks = project.tracks();
    const bool anySolo = std::any_of(tracks.begin(), tracks.end(), [](const model::Track& t) { return t.solo; });
    const bool automatic = settings.frames == 0;
    std::int64_t length = settings.frames;

    std::vector<TrackStem> stems;
    std::vector<std::string> warnings;
    for (const model::Track& track : tracks) {
        const bool effects = anyDeviceEnabled(track);
        std::int64_t total = 0;
        TrackStem stem;
        std::string stemError;
        bool built = false;
        if (model::isAudioTrack(track)) {
            const std::int64_t contentEnd = audioContentEnd(track, tempoMap, rate);
            if (contentEnd == 0) {
                continue;
            }
            total = contentEnd + (effects ? secondsToFrames(kEffectTailSeconds, rate) : 0);
            // Checked before the track's buffer of its whole length is made.
            if (total > maxFrames) {
                core::fail(error, kTooLong);
                return false;
            }
            built = renderAudioTrack(track, tempoMap, settings, &stem, &stemError);
        } else {
            if (track.instrumentPatch.empty()) {
                continue;
            }
            if (!track.clips.empty()) {
                const double tail = kInstrumentTailSeconds + (effects ? kEffectTailSeconds : 0.0);
                total = tempoMap.tickToFrame(lastNoteTick(collectNoteEvents(track)), rate) +
                        secondsToFrames(tail, rate);
            }
            if (total > maxFrames) {
                core::fail(error, kTooLong);
                return false;
            }
            built = renderInstrumentTrack(track, tempoMap, settings, &stem, &stemError);
        }
        if (!built) {
            core::fail(error, stemError);
            return false;
        }
        warnings.insert(warnings.end(), stem.warnings.begin(), stem.warnings.end());
        const bool heard = anySolo ? track.solo : !track.muted;
        // A volume that is not a number would fill the whole mix with NaN.
        stem.gain = heard && std::isfinite(track.volume) ? track.volume : 0.0;
        if (automatic) {
            length = std::max(length, total);
        }
        stems.push_back(std::move(stem));
    }

    AudioData audio;
    const std::size_t channels = static_cast<std::size_t>(settings.channels);
    length = std::max<std::int64_t>(length, 0);
    audio.samples.assign(static_cast<std::size_t>(length) * channels, 0.0f);
    audio.channels = settings.channels;
    audio.sampleRate = rate;
    audio.frames = length;

    if (length > 0) {
        OfflineRenderContext context;
        context.sampleRate = rate;
        context.blockSize = settings.blockSize;
        context.frames = length;
        context.bpm = bpm;
        for (TrackStem& stem : stems) {
            if (stem.gain == 0.0) {
                continue;
            }
            context.events = std::move(stem.events);
            mixGraphOffline(*stem.graph, context, static_cast<float>(stem.gain), audio.samples);
            stem.graph.reset();  // its delay lines and buffers are not needed any more
        }
    }

    out->audio = std::move(audio);
    out->warnings = std::move(warnings);
    return true;
}

} }  // namespace ostrel::engine::playback
