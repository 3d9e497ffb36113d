// render_file: renders a project file to a WAV file and says how fast.
//
//   render_file [--threads N] [--rate HZ] [--block FRAMES] [--samples FOLDER]
//               [--format pcm16|pcm24|float32] PROJECT OUTPUT.wav
//
// --threads 0 (the default) renders on one thread per core; --samples defaults to the
// project file's folder. Prints the render's seconds (without loading and writing) and its
// real-time factor: seconds of song per second of rendering.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "audiofile/WavWriter.h"
#include "model/file/ProjectFile.h"
#include "playback/render/SongRenderer.h"

namespace {

using namespace ostrel;
using Clock = std::chrono::steady_clock;

int usage() {
    std::fprintf(stderr,
                 "usage: render_file [--threads N] [--rate HZ] [--block FRAMES] [--samples FOLDER]\n"
                 "                   [--format pcm16|pcm24|float32] PROJECT OUTPUT.wav\n");
    return 2;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

int main(int argc, char** argv) {
    engine::RenderSettings settings;
    engine::WavFormat format = engine::WavFormat::Pcm16;
    bool samplesGiven = false;
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
                renderSeconds, renderSeconds > 0.0 ? songSeconds / renderSeconds : 0.0, settings.threads,
                writeSeconds);
    return 0;
}
