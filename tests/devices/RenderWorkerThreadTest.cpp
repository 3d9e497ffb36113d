#include "devices/RenderWorker.h"

#include <chrono>
#include <set>
#include <thread>

#include "DeviceHarness.h"
#include "core/Logger.h"
#include "support/TempDir.h"

namespace ostrel::engine {
namespace {

using namespace ostrel::test::dev;

// The GUI thread submits a stream of edits during play, every 25th an export, and takes
// results now and then while the worker renders: every export is written and reported
// once, playback results come in order and end with the newest rebuild.
TEST(RenderWorkerThreads, EditsDuringPlayLoseNoExportAndEndWithTheNewestRebuild) {
    test::TempDir dir;
    ASSERT_TRUE(writeConstantWav(dir / "c.wav", 0.25f, 2, 48000));
    core::Logger logger;
    BackgroundRenderer worker(logger);
    std::set<std::string> exportsAsked, exportsWritten;
    std::vector<RenderResult> results;
    std::uint64_t lastGeneration = 0;
    for (int edit = 1; edit <= 200; ++edit) {
        RenderJob job;  // each snapshot a little longer than the last
        job.snapshot = std::make_shared<const model::Project>(song({audioTrack("Audio", {audioClip("c.wav", 0, 0.25 + 0.01 * edit)})}));
        job.settings.samplesFolder = dir.path();
        if (edit % 25 == 0) {
            job.kind = kWavExport;
            job.outputPath = (dir / ("export" + std::to_string(edit) + ".wav")).string();
            exportsAsked.insert(job.outputPath);
        } else {
            job.generation = ++lastGeneration;
        }
        worker.submit(std::move(job));
        if (edit % 7 == 0)
            for (RenderResult& r : worker.takeResults()) results.push_back(std::move(r));
    }
    std::uint64_t newestPlayback = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (std::size_t seen = 0; std::chrono::steady_clock::now() < deadline;) {
        for (RenderResult& r : worker.takeResults()) results.push_back(std::move(r));
        for (; seen < results.size(); ++seen) {
            const RenderResult& r = results[seen];
            ASSERT_TRUE(r.ok) << r.error;
            if (r.kind == kWavExport) {
                EXPECT_TRUE(exportsWritten.insert(r.path).second) << "reported twice: " << r.path;
            } else {
                EXPECT_GT(r.generation, newestPlayback) << "in order";
                newestPlayback = r.generation;
                ASSERT_NE(r.track, nullptr);
            }
        }
        if (newestPlayback == lastGeneration && exportsWritten.size() == exportsAsked.size()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(exportsWritten, exportsAsked);
    EXPECT_EQ(newestPlayback, lastGeneration);
    for (const std::string& path : exportsAsked) EXPECT_TRUE(std::filesystem::exists(path)) << path;
}

}  // namespace
}  // namespace ostrel::engine
