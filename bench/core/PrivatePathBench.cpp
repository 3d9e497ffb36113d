#include "core/files/FolderLock.h"
#include "core/files/PrivatePath.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "BenchSupport.h"

namespace {

namespace fs = std::filesystem;
using namespace ostrel::core;

// A home folder of the bench's own in the temporary folder, with the default data folder's
// way below it: /tmp/home/.local/share/Ostrel/Ostrel, seven folders from /, as deep as a
// user's $HOME/.local/share/Ostrel/Ostrel. Through links, .local/share is a link to a folder
// on another disk, and Ostrel/Ostrel a link to a folder beside it, as a user who keeps
// their data elsewhere may have it.
struct Home {
    fs::path path;
    fs::path data;
    fs::path linked;
    Home() {
        std::string pattern = (fs::temp_directory_path() / "path-bench-XXXXXX").string();
        ostrel::bench::require(::mkdtemp(pattern.data()) != nullptr, "a home folder");
        path = fs::canonical(pattern);
        data = path / ".local" / "share" / "Ostrel" / "Ostrel";
        fs::create_directories(data);
        fs::create_directories(path / "disk" / "share" / "Ostrel" / "real");
        fs::create_directories(path / "linked");
        fs::create_symlink(path / "disk" / "share", path / "linked" / "share");
        fs::create_symlink("real", path / "disk" / "share" / "Ostrel" / "Ostrel");
        linked = path / "linked" / "share" / "Ostrel" / "Ostrel";
        for (const fs::path& folder : {data, path / "disk" / "share" / "Ostrel" / "real"}) {
            for (fs::path at = folder; at != path.parent_path(); at = at.parent_path()) {
                fs::permissions(at, fs::perms(0700));
            }
        }
        ostrel::bench::require(whyPathNotPrivate(data, FolderRole::DataFolder).empty(), "a private way");
        ostrel::bench::require(whyPathNotPrivate(linked, FolderRole::DataFolder).empty(), "a private way through links");
    }
    ~Home() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
};

// The walk from / to the data folder, every folder's owner, mode and access list.
void BM_PrivatePathJudgement(benchmark::State& state) {
    const Home home;
    const fs::path& data = state.range(0) == 0 ? home.data : home.linked;
    for (auto _ : state) {
        benchmark::DoNotOptimize(whyPathNotPrivate(data, FolderRole::DataFolder));
    }
    state.SetLabel(state.range(0) == 0 ? "plain" : "through two links");
}
BENCHMARK(BM_PrivatePathJudgement)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// All a start costs to hold its data folder: the walk, the folder and its seven subfolders
// judged, the settings file looked at, the locks taken and the process number written, and
// let go again.
void BM_FolderLockAcquire(benchmark::State& state) {
    static constexpr std::string_view kSubfolders[] = {"logs",     "crashes", "exports", "projects",
                                                       "samples", "themes",  "patches"};
    static constexpr std::string_view kFiles[] = {"settings.json"};
    const Home home;
    for (const std::string_view name : kSubfolders) {
        fs::create_directory(home.data / name);
        fs::permissions(home.data / name, fs::perms(0700));
    }
    for (auto _ : state) {
        FolderLock lock;
        if (lock.acquire(home.data, nullptr, {kSubfolders, kFiles}) != FolderLock::Outcome::Held) {
            state.SkipWithError("the folder was not held");
            break;
        }
    }
}
BENCHMARK(BM_FolderLockAcquire)->Unit(benchmark::kMicrosecond);

// A first start: the data folder and its two folders above it missing, so the walk runs a
// second time to make them, each in the folder held above it.
void BM_FolderLockFirstStart(benchmark::State& state) {
    const Home home;
    const fs::path data = home.path / "fresh" / "Ostrel" / "Ostrel";
    for (auto _ : state) {
        {
            FolderLock lock;
            if (lock.acquire(data, nullptr) != FolderLock::Outcome::Held) {
                state.SkipWithError("the folder was not held");
                break;
            }
        }
        state.PauseTiming();
        fs::remove_all(home.path / "fresh");
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FolderLockFirstStart)->Unit(benchmark::kMicrosecond);

}  // namespace
