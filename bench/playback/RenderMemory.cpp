// render_memory: the peak memory of renders, each case in a fresh child process
// (getrusage of the child: its peak resident set).
//
//   render_memory [--threads N] [--minutes M] [--save FOLDER]
//
// Cases:
//   idle          a child that renders nothing: the floor under every figure
//   long-song     the render benchmark's song over M minutes (default 10) with two audio
//                 tracks playing a 2 s sound on every bar
//   long-song-play the same rendered for playback: into a backing track, every track at once
//   far-out-clips four audio tracks whose missing sounds sit 50 minutes into the song,
//                 rendered for 0.1 s
// --save writes the cases as project files (with the sound) for render_file.

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "BenchSupport.h"
#include "audiofile/WavWriter.h"
#include "model/file/ProjectFile.h"
#include "playback/BenchSongs.h"
#include "playback/render/SongRenderer.h"

namespace {

using namespace ostrel;

constexpr double kRate = 48000.0;

model::Clip audioClip(const std::string& file, double startBeats, double lengthBeats) {
    model::Clip clip;
    clip.id = model::Uuid::generate();
    clip.startBeats = startBeats;
    clip.lengthBeats = lengthBeats;
    clip.audioSource = file;
    return clip;
}

model::Track audioTrack(const std::string& name, std::vector<model::Clip> clips) {
    model::Track track;
    track.id = model::Uuid::generate();
    track.name = name;
    track.kind = "audio";
    track.clips = std::move(clips);
    return track;
}

int barsFor(double minutes) { return static_cast<int>(std::ceil(minutes * bench::kBpm / 4.0)); }

model::Project longSong(double minutes) {
    const int bars = barsFor(minutes);
    model::Project song = bench::benchSong(bars);
    std::vector<model::Track> tracks = song.tracks();
    for (const char* name : {"Loop A", "Loop B"}) {
        std::vector<model::Clip> clips;
        for (int bar = 0; bar < bars; ++bar) {
            clips.push_back(audioClip("loop.wav", bar * 4.0, 4.0));
        }
        tracks.push_back(audioTrack(name, std::move(clips)));
    }
    tracks.back().devices.push_back(bench::device("ostrel.delay", {{"mix", 0.2}}));
    return model::makeProject(model::Uuid::generate(), "Long song", bench::kBpm, std::move(tracks), model::JsonValue{});
}

model::Project farOutClips() {
    std::vector<model::Track> tracks;
    const double beats = 50.0 * bench::kBpm;  // 50 minutes
    for (int i = 0; i < 4; ++i) {
        tracks.push_back(audioTrack("Far " + std::to_string(i + 1), {audioClip("missing.wav", beats, 4.0)}));
    }
    return model::makeProject(model::Uuid::generate(), "Far-out clips", bench::kBpm, std::move(tracks),
                              model::JsonValue{});
}

bool writeLoop(const std::filesystem::path& path) {
    std::vector<float> samples;
    for (int i = 0; i < 2 * static_cast<int>(kRate); ++i) {
        const float v = 0.3f * static_cast<float>(std::sin(2.0 * M_PI * 220.0 * i / kRate));
        samples.insert(samples.end(), {v, v});
    }
    return engine::writeWavFile(path, samples, 2, static_cast<std::uint32_t>(kRate), engine::WavFormat::Pcm16, nullptr);
}

struct Case {
    const char* name;
    std::function<model::Project()> song;
    std::int64_t frames = 0;
    bool forPlayback = false;
};

// Runs the case in a child; prints its peak resident memory and render time.
void measure(const Case& c, const std::filesystem::path& folder, int threads) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        std::perror("pipe");
        return;
    }
    const pid_t pid = fork();
    if (pid < 0) {
        std::perror("fork");
        return;
    }
    if (pid == 0) {
        close(pipeFds[0]);
        double seconds = -1.0;
        double songSeconds = 0.0;
        if (c.song) {
            const model::Project song = c.song();
            engine::RenderSettings settings;
            settings.sampleRate = kRate;
            settings.frames = c.frames;
            settings.samplesFolder = folder;
            settings.threads = threads;
            engine::RenderOutput out;
            engine::BackingTrack track;
            std::string error;
            const auto start = std::chrono::steady_clock::now();
            const bool rendered = c.forPlayback
                                      ? engine::renderForPlayback(song, settings, {}, track, nullptr, &error)
                                      : engine::renderProject(song, settings, &out, &error);
            if (!rendered) {
                std::fprintf(stderr, "%s: %s\n", c.name, error.c_str());
                _exit(1);
            }
            seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            songSeconds = static_cast<double>(c.forPlayback ? track.view().frames : out.audio.frames) / kRate;
        }
        const double report[2] = {seconds, songSeconds};
        (void)!write(pipeFds[1], report, sizeof report);
        _exit(0);
    }
    close(pipeFds[1]);
    double report[2] = {-1.0, 0.0};
    (void)!read(pipeFds[0], report, sizeof report);
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::printf("%-15s failed\n", c.name);
        return;
    }
    std::printf("%-15s song %8.1f s  render %7.2f s  peak RSS %8.1f MB\n", c.name, report[1], report[0],
                static_cast<double>(usage.ru_maxrss) / 1024.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    int threads = 1;
    double minutes = 10.0;
    std::filesystem::path save;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else if (arg == "--minutes" && i + 1 < argc) {
            minutes = std::atof(argv[++i]);
        } else if (arg == "--save" && i + 1 < argc) {
            save = argv[++i];
        } else {
            std::fprintf(stderr, "usage: render_memory [--threads N] [--minutes M] [--save FOLDER]\n");
            return 2;
        }
    }

    const bench::ScratchFolder scratch;
    const std::filesystem::path& folder = scratch.path();
    if (!writeLoop(folder / "loop.wav")) {
        std::fprintf(stderr, "cannot write the loop sound\n");
        return 1;
    }
    if (!save.empty()) {
        std::filesystem::create_directories(save);
        std::string error;
        if (!writeLoop(save / "loop.wav") || !model::saveProjectFile(save / "long-song.ostproj", longSong(minutes), &error) ||
            !model::saveProjectFile(save / "far-out-clips.ostproj", farOutClips(), &error) ||
            !model::saveProjectFile(save / "bench-song.ostproj", bench::benchSong(), &error)) {
            std::fprintf(stderr, "cannot save the songs: %s\n", error.c_str());
            return 1;
        }
    }

    std::printf("render threads %d\n", threads);
    const Case cases[] = {
        {"idle", nullptr, 0},
        {"long-song", [minutes] { return longSong(minutes); }, 0},
        {"long-song-play", [minutes] { return longSong(minutes); }, 0, true},
        {"far-out-clips", farOutClips, static_cast<std::int64_t>(0.1 * kRate)},
    };
    for (const Case& c : cases) {
        measure(c, folder, threads);
    }
    return 0;
}
