#include "devices/RenderWorker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/Logger.h"
#include "DeviceHarness.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::dev;

// A short song of one audio track, each snapshot a little longer than the last.
std::shared_ptr<const model::Project> snapshot(int edit) {
    return std::make_shared<const model::Project>(song({audioTrack("Audio", {audioClip("c.wav", 0, 0.25 + 0.01 * edit)})}));
}

TEST(RenderWorkerThreads, EditsDuringPlayLoseNoExportAndEndWithTheNewestRebuild) {
    test::TempDir dir;
    ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 2, 48000));
    core::Logger logger;
    BackgroundRenderer worker(logger);

    constexpr int kEdits = 200;
    std::set<std::string> exportsAsked;
    std::vector<RenderResult> results;
    std::uint64_t lastGeneration = 0;
    for (int edit = 1; edit <= kEdits; ++edit) {
        RenderJob job;
        job.snapshot = snapshot(edit);
        job.settings.samplesFolder = dir.path();
        if (edit % 25 == 0) {
            job.kind = kWavExport;
            job.outputPath = (dir / ("export" + std::to_string(edit) + ".wav")).string();
            exportsAsked.insert(job.outputPath);
        } else {
            job.generation = ++lastGeneration;
        }
        worker.submit(std::move(job));
        if (edit % 7 == 0) {
            for (RenderResult& r : worker.takeResults()) {
                results.push_back(std::move(r));
            }
        }
    }

    // Done once the newest rebuild and every export have come back.
    std::set<std::string> exportsWritten;
    std::uint64_t newestPlayback = 0;
    std::uint64_t previousPlayback = 0;
    bool playbackInOrder = true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    std::size_t seen = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        for (RenderResult& r : worker.takeResults()) {
            results.push_back(std::move(r));
        }
        for (; seen < results.size(); ++seen) {
            const RenderResult& r = results[seen];
            ASSERT_TRUE(r.ok) << r.error;
            if (r.kind == kWavExport) {
                EXPECT_TRUE(exportsWritten.insert(r.path).second) << "reported twice: " << r.path;
            } else {
                playbackInOrder = playbackInOrder && r.generation > previousPlayback;
                previousPlayback = r.generation;
                newestPlayback = r.generation;
                ASSERT_NE(r.track, nullptr);
            }
        }
        if (newestPlayback == lastGeneration && exportsWritten.size() == exportsAsked.size()) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(exportsWritten, exportsAsked);
    EXPECT_EQ(newestPlayback, lastGeneration);
    EXPECT_TRUE(playbackInOrder);
    for (const std::string& path : exportsAsked) {
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    }
}

TEST(RenderWorkerThreads, TheGuiThreadAndTheWorkerRenderOneSnapshotAtOnce) {
    test::TempDir dir;
    ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 2, 48000));
    core::Logger logger;
    BackgroundRenderer worker(logger);
    // An instrument track too, so both threads build patches and graphs at once.
    const auto project = std::make_shared<const model::Project>(
        song({audioTrack("Audio", {audioClip("c.wav", 0, 0.75)}), instrumentTrack("Lead", {midiClip(0, 1, {songNote(60, 0, 0.25)})})}));
    RenderSettings settings;
    settings.sampleRate = 16000.0;
    settings.samplesFolder = dir.path();

    for (std::uint64_t g = 1; g <= 8; ++g) {
        RenderJob job;
        job.snapshot = project;
        job.settings = settings;
        job.generation = g;
        worker.submit(std::move(job));
        RenderOutput here;
        std::string error;
        ASSERT_TRUE(renderProject(*project, settings, &here, &error)) << error;
        ASSERT_EQ(here.audio.frames, 34000);  // the lead's quarter beat and its 2 s release
    }
    worker.stop();  // finishes what waits; its results are dropped
    EXPECT_TRUE(worker.takeResults().empty());
}

}  // namespace
}  // namespace ostrel::engine
