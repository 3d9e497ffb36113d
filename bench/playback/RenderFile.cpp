// render_file: renders a project file to a WAV file and says how fast.
//
//   render_file [--threads N] [--rate HZ] [--block FRAMES] [--samples FOLDER]
//               [--format pcm16|pcm24|float32] [--play-from BEATS] PROJECT OUTPUT.wav
//
// --threads 0 (the default) renders on one thread per usable processor; --samples defaults
// to the project file's folder. Prints the render's seconds (without loading and writing)
// and its real-time factor: seconds of song per second of rendering.
// --play-from also renders the song as play from that beat has it rendered (a pre-roll
// before it, nothing earlier) and says how soon the first stretch could play, and how far
// its samples from the beat on stand from the whole song's: the largest difference, the
// difference's level against the song's, the largest gap in loudness between the two over
// 50 ms windows (where the song is above -60 dBFS), and the first second's loudness against
// the song's.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "audiofile/WavWriter.h"
#include "model/file/ProjectFile.h"
#include "playback/AudioEngine.h"
#include "playback/render/SongRenderer.h"

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

int usage() {
    std::fprintf(stderr,
                 "usage: render_file [--threads N] [--rate HZ] [--block FRAMES] [--samples FOLDER]\n"
                 "                   [--format pcm16|pcm24|float32] [--play-from BEATS] PROJECT OUTPUT.wav\n");
    return 2;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double decibels(double level) { return 20.0 * std::log10(std::max(level, 1e-12)); }

// The song as play from `beats` has it rendered, against the whole song's samples.
bool comparePlayFrom(const model::Project& project, const engine::RenderSettings& settings, double beats,
                     const engine::AudioData& whole) {
    const double framesPerBeat = settings.sampleRate * 60.0 / project.tempoBpm();
    const std::int64_t from = engine::AudioEngine::beatsToFrames(beats, framesPerBeat);
    engine::BackingTrack track;
    engine::PlaybackRender render;
    render.from = from;
    std::atomic<bool> done{false};
    double firstStretch = -1.0;
    const auto start = Clock::now();
    // The moment the engine could start: a stretch past the beat is final.
    std::thread watch([&] {
        while (!done.load(std::memory_order_acquire)) {
            if (track.view().ready(from, engine::AudioEngine::kAheadFrames)) {
                firstStretch = secondsSince(start);
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::string error;
    const bool rendered = engine::renderForPlayback(project, settings, render, track, nullptr, &error);
    const double seconds = secondsSince(start);
    done.store(true, std::memory_order_release);
    watch.join();
    if (!rendered) {
        std::fprintf(stderr, "render_file: %s\n", error.c_str());
        return false;
    }
    const engine::BackingTrack::View played = track.view();
    const std::size_t ch = static_cast<std::size_t>(played.channels);
    const std::int64_t window = std::llround(0.05 * settings.sampleRate);
    double largest = 0.0;
    double differenceEnergy = 0.0;
    double songEnergy = 0.0;
    double loudnessGap = 0.0;
    // The first second against the song: a pre-roll too short would leave tails out there.
    const std::int64_t firstEnd = from + std::llround(settings.sampleRate);
    double firstHeard = 0.0;
    double firstSong = 0.0;
    for (std::int64_t at = from; at < played.frames; at += window) {
        const std::int64_t end = std::min(at + window, played.frames);
        double heard = 0.0;
        double song = 0.0;
        for (std::int64_t f = at; f < end; ++f) {
            for (std::size_t c = 0; c < ch; ++c) {
                const double a = played.at(f, static_cast<std::int32_t>(c));
                const double b = whole.samples[static_cast<std::size_t>(f) * ch + c];
                largest = std::max(largest, std::abs(a - b));
                differenceEnergy += (a - b) * (a - b);
                heard += a * a;
                song += b * b;
            }
        }
        songEnergy += song;
        if (at < firstEnd) {
            firstHeard += heard;
            firstSong += song;
        }
        const double n = static_cast<double>((end - at) * static_cast<std::int64_t>(ch));
        if (decibels(std::sqrt(song / n)) > -60.0) {
            loudnessGap = std::max(loudnessGap, std::abs(decibels(std::sqrt(heard / n)) - decibels(std::sqrt(song / n))));
        }
    }
    std::printf("play from beat %.2f (frame %lld, rendered from %lld): first stretch after %.3f s, all in %.3f s\n",
                beats, static_cast<long long>(from), static_cast<long long>(played.from), firstStretch, seconds);
    std::printf("  from the beat on: largest difference %.3g, difference at %.1f dB of the song, "
                "loudness within %.2f dB over 50 ms windows, first second %+.2f dB\n",
                largest, decibels(std::sqrt(differenceEnergy / std::max(songEnergy, 1e-30))), loudnessGap,
                decibels(std::sqrt(firstHeard / std::max(firstSong, 1e-30))));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    engine::RenderSettings settings;
    engine::WavFormat format = engine::WavFormat::Pcm16;
    bool samplesGiven = false;
    double playFrom = -1.0;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--threads" && hasValue) {
            settings.threads = std::atoi(argv[++i]);
        } else if (arg == "--rate" && hasValue) {
            settings.sampleRate = std::atof(argv[++i]);
        } else if (arg == "--block" && hasValue) {
            settings.blockSize = static_cast<std::uint32_t>(std::atoi(argv[++i]));
        } else if (arg == "--play-from" && hasValue) {
            playFrom = std::atof(argv[++i]);
        } else if (arg == "--samples" && hasValue) {
            settings.samplesFolder = argv[++i];
            samplesGiven = true;
        } else if (arg == "--format" && hasValue) {
            const std::string_view name = argv[++i];
            if (name == "pcm16") {
                format = engine::WavFormat::Pcm16;
            } else if (name == "pcm24") {
                format = engine::WavFormat::Pcm24;
            } else if (name == "float32") {
                format = engine::WavFormat::Float32;
            } else {
                return usage();
            }
        } else if (arg.starts_with("--")) {
            return usage();
        } else {
            paths.emplace_back(arg);
        }
    }
    if (paths.size() != 2) {
        return usage();
    }
    const std::filesystem::path projectPath = paths[0];
    if (!samplesGiven) {
        settings.samplesFolder = projectPath.parent_path().empty() ? "." : projectPath.parent_path();
    }

    model::Project project;
    std::string error;
    if (!model::loadProjectFile(projectPath, project, &error, nullptr)) {
        std::fprintf(stderr, "render_file: %s\n", error.c_str());
        return 1;
    }

    const auto renderStart = Clock::now();
    engine::RenderOutput out;
    if (!engine::renderProject(project, settings, &out, &error)) {
        std::fprintf(stderr, "render_file: %s\n", error.c_str());
        return 1;
    }
    const double renderSeconds = secondsSince(renderStart);
    for (const std::string& warning : out.warnings) {
        std::fprintf(stderr, "warning: %s\n", warning.c_str());
    }

    const auto writeStart = Clock::now();
    if (!engine::saveWav(out.audio, paths[1], format, &error)) {
        std::fprintf(stderr, "render_file: %s\n", error.c_str());
        return 1;
    }
    const double writeSeconds = secondsSince(writeStart);

    const double songSeconds = static_cast<double>(out.audio.frames) / settings.sampleRate;
    std::printf("song %.3f s, render %.3f s, real-time factor %.2f, threads %d, write %.3f s\n", songSeconds,
                renderSeconds, renderSeconds > 0.0 ? songSeconds / renderSeconds : 0.0,
                engine::renderThreadCount(settings.threads), writeSeconds);
    if (playFrom >= 0.0 && !comparePlayFrom(project, settings, playFrom, out.audio)) {
        return 1;
    }
    return 0;
}
