#include "devices/OfflineRenderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>
#include <span>

#include "devices/DeviceCatalog.h"
#include "devices/InstrumentConfig.h"
#include "devices/Patch.h"
#include "devices/PatchGraph.h"
#include "devices/PolyphonicPatch.h"
#include "engine/BasicNodes.h"
#include "engine/DeviceNode.h"
#include "engine/Failure.h"
#include "engine/Resample.h"
#include "engine/VoiceAllocator.h"
#include "engine/WavReader.h"

namespace ostrel::engine {
namespace {

constexpr double kMinBpm = 20.0;
constexpr double kMaxBpm = 300.0;
constexpr double kInstrumentTailSeconds = 2.0;  // release of the last notes
constexpr double kEffectTailSeconds = 4.0;      // echoes and reverb after the content
// Positions are clamped here before they become ticks and frames; far beyond the longest
// render at the slowest tempo, so a clamped clip still fails the length check.
constexpr double kBeatLimit = 1.0e7;
constexpr double kSecondsLimit = 1.0e7;

const char kTooLong[] = "the song is too long to render (more than 60 minutes)";
static_assert(kMaxRenderSeconds == 3600.0, "the message names the bound");
// Far above any sound card; keeps every frame count below 2^63.
constexpr double kMaxSampleRate = 1.0e6;

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

std::string trackPrefix(const model::Track& track) { return "track " + quoted(track.name) + ": "; }

// A project file may hold any number; NaN counts as 0, the rest is clamped.
double safeBeats(double beats) { return std::isnan(beats) ? 0.0 : std::clamp(beats, -kBeatLimit, kBeatLimit); }

std::int64_t beatsToTick(double beats) {
    return std::llround(safeBeats(beats) * static_cast<double>(TempoMap::kTicksPerBeat));
}

double safeTempo(double bpm) { return std::isnan(bpm) ? 120.0 : std::clamp(bpm, kMinBpm, kMaxBpm); }

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

// Runs the graph block by block over context.frames frames and adds its output, times
// gain, into out (interleaved, the graph's channel count). Events are delivered in the
// block that holds them; an event before the start goes into the first block.
void runGraphInto(Graph& graph, const OfflineRenderContext& context, float gain, std::span<float> out) {
    const int channels = graph.channels;
    if (context.frames < 1 || channels < 1 || graph.maxBlock < 1) {
        return;
    }
    const std::int64_t block =
        std::max<std::int64_t>(1, std::min<std::int64_t>(context.blockSize, static_cast<std::int64_t>(graph.maxBlock)));
    AudioBuffer buffer(channels, graph.maxBlock);

    std::vector<TimedEvent> events = context.events;
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.time < b.time; });
    std::vector<Event> blockEvents;
    blockEvents.reserve(events.size());
    std::size_t next = 0;

    const std::size_t ch = static_cast<std::size_t>(channels);
    for (std::int64_t pos = 0; pos < context.frames; pos += block) {
        const std::int64_t n = std::min(block, context.frames - pos);
        const std::int64_t blockStart = context.startPosition + pos;
        blockEvents.clear();
        while (next < events.size() && events[next].time < blockStart + n) {
            Event e = events[next].event;
            e.frameOffset = static_cast<std::uint32_t>(std::max<std::int64_t>(0, events[next].time - blockStart));
            blockEvents.push_back(e);
            ++next;
        }
        ProcessContext pc;
        pc.frames = static_cast<std::int32_t>(n);
        pc.sampleRate = context.sampleRate;
        pc.position = blockStart;
        pc.playing = context.playing;
        pc.bpm = context.bpm;
        pc.beatsPerBar = context.beatsPerBar;
        pc.events = blockEvents;
        graph.process(pc, buffer);

        const std::size_t base = static_cast<std::size_t>(pos) * ch;
        const std::size_t frames = static_cast<std::size_t>(n);
        if (base >= out.size()) {
            break;
        }
        const std::size_t usable = std::min(frames, (out.size() - base) / ch);
        for (std::size_t c = 0; c < ch; ++c) {
            const float* in = buffer.channel(static_cast<int>(c));
            float* dst = out.data() + base + c;
            for (std::size_t f = 0; f < usable; ++f) {
                dst[f * ch] += in[f] * gain;
            }
        }
    }
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

std::vector<NoteEvent> collectNoteEvents(const model::Track& track) {
    std::vector<NoteEvent> events;
    for (const model::Clip& clip : track.clips) {
        const double clipStart = safeBeats(clip.startBeats);
        const double clipLength = safeBeats(clip.lengthBeats);
        for (const model::Note& note : clip.notes) {
            const double start = safeBeats(note.startBeats);
            if (!(start < clipLength) || note.pitch < 0 || note.pitch > 127) {
                continue;
            }
            const double end = std::min(start + safeBeats(note.lengthBeats), clipLength);
            // An off at or before its on would be sorted first and leave the note sounding
            // to the end of the song: a note without length is dropped, and one shorter
            // than a tick still gets one.
            if (!(end > start)) {
                continue;
            }
            const std::int64_t onTick = beatsToTick(start + clipStart);
            const std::int64_t offTick = std::max(beatsToTick(end + clipStart), onTick + 1);
            events.push_back({onTick, false, note.pitch, std::clamp(note.velocity, 1, 127)});
            events.push_back({offTick, true, note.pitch, 0});
        }
    }
    std::stable_sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) {
        if (a.tick != b.tick) {
            return a.tick < b.tick;
        }
        return a.off && !b.off;
    });
    return events;
}

std::vector<float> renderGraphOffline(Graph& graph, const OfflineRenderContext& context) {
    std::vector<float> result;
    if (context.frames < 1 || graph.channels < 1) {
        return result;
    }
    result.assign(static_cast<std::size_t>(context.frames) * static_cast<std::size_t>(graph.channels), 0.0f);
    runGraphInto(graph, context, 1.0f, result);
    return result;
}

bool renderAudioTrack(const model::Track& track, const TempoMap& tempoMap, double sampleRate, std::uint32_t blockSize,
                      std::int32_t channels, const std::filesystem::path& samplesFolder, TrackStem* out,
                      std::string* error) {
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
            const auto sound = soundFor(track, clip.audioSource, samplesFolder, sampleRate, cache, warnings);
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
            fail(error, trackPrefix(track) + "unknown effect " + quoted(device.typeId));
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
    std::unique_ptr<Graph> graph = builder.compile(sampleRate, toInt(blockSize), channels, &compileError);
    if (!graph) {
        fail(error, trackPrefix(track) + compileError);
        return false;
    }
    out->graph = std::move(graph);
    out->events.clear();
    out->warnings = std::move(warnings);
    return true;
}

bool renderInstrumentTrack(const model::Track& track, const TempoMap& tempoMap, double sampleRate,
                           std::uint32_t blockSize, std::int32_t channels, TrackStem* out, std::string* error,
                           const std::filesystem::path& samplesFolder) {
    Patch patch;
    std::vector<std::string> instrumentWarnings;
    std::string instrumentError;
    if (!makeInstrumentPatch(track.instrumentPatch, track.instrumentConfig.get(), samplesFolder, patch,
                             &instrumentWarnings, &instrumentError)) {
        fail(error, trackPrefix(track) + "unknown instrument patch " + quoted(track.instrumentPatch));
        return false;
    }
    const int voices = std::clamp(patch.voices, 1, VoiceAllocator::kMaxVoices);
    Patch play = makePolyphonicPatch(patch, 1.0f, false, voices, nullptr);

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
    PatchGraph built = buildPatchGraph(play, sampleRate, blockSize, static_cast<std::uint32_t>(std::max(0, channels)),
                                       &buildError);
    if (!built.graph) {
        fail(error, trackPrefix(track) + buildError);
        return false;
    }

    std::vector<TimedEvent> events;
    VoiceAllocator allocator(voices);
    for (const NoteEvent& note : collectNoteEvents(track)) {
        VoiceAction action;
        if (note.off) {
            if (allocator.noteOff(note.pitch, action) != 2) {
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
        fail(error, "the sample rate must be above 0 and at most 1000000 Hz");
        return false;
    }
    if (settings.channels < 1) {
        fail(error, "the channel count must be at least 1");
        return false;
    }
    if (settings.blockSize < 1) {
        fail(error, "the block size must be at least 1");
        return false;
    }
    const std::int64_t maxFrames = secondsToFrames(kMaxRenderSeconds, rate);
    if (settings.frames > maxFrames) {
        fail(error, kTooLong);
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
        if (track.kind == "audio") {
            const std::int64_t contentEnd = audioContentEnd(track, tempoMap, rate);
            if (contentEnd == 0) {
                continue;
            }
            total = contentEnd + (effects ? secondsToFrames(kEffectTailSeconds, rate) : 0);
            // Checked before the track's buffer of its whole length is made.
            if (total > maxFrames) {
                fail(error, kTooLong);
                return false;
            }
            built = renderAudioTrack(track, tempoMap, rate, settings.blockSize, settings.channels,
                                     settings.samplesFolder, &stem, &stemError);
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
                fail(error, kTooLong);
                return false;
            }
            built = renderInstrumentTrack(track, tempoMap, rate, settings.blockSize, settings.channels, &stem,
                                          &stemError, settings.samplesFolder);
        }
        if (!built) {
            fail(error, stemError);
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
            runGraphInto(*stem.graph, context, static_cast<float>(stem.gain), audio.samples);
            stem.graph.reset();  // its delay lines and buffers are not needed any more
        }
    }

    out->audio = std::move(audio);
    out->warnings = std::move(warnings);
    return true;
}

bool saveWav(const AudioData& audio, const std::filesystem::path& path, WavFormat format, std::string* error) {
    // A rate the 32-bit field cannot hold goes in as 0, which the writer refuses with its reason.
    const double rate = audio.sampleRate;
    const std::uint32_t wavRate =
        rate >= 1.0 && rate <= 4294967295.0 ? static_cast<std::uint32_t>(std::llround(rate)) : 0;
    return writeWavFile(path, audio.samples, audio.channels, wavRate, format, error);
}

}  // namespace ostrel::engine
