#include "core/files/PrivatePath.h"

#include "core/ForkedTrial.h"
#include "core/files/FileDescriptorIo.h"
#include "support/AnotherUser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;

namespace {

void folder(const fs::path& path, fs::perms mode) {
    fs::create_directories(path);
    fs::permissions(path, mode);
}

// Works in another current folder, and goes back to the one before.
class InFolder {
public:
    explicit InFolder(const fs::path& path) : before_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (before_ < 0 || ::chdir(path.c_str()) != 0) {
            throw std::runtime_error("cannot work in " + path.string());
        }
    }
    ~InFolder() {
        (void)::fchdir(before_);
        ::close(before_);
    }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

private:
    int before_;
};

std::string replaced(std::string text, const std::string& placeholder, const std::string& by) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at + by.size())) {
        text.replace(at, placeholder.size(), by);
    }
    return text;
}

}  // namespace

// Regression: only the data folder itself was judged, so another user who could write in a
// folder above it could put their own folder, or a link, in its place. The way is resolved
// as the kernel resolves it, and every folder entered and link followed is judged on the way.
TEST(PrivatePathTest, EveryFolderAndLinkOnTheWayIsTheUsersOrRootsAndClosedToOthers) {
    const fs::perms open = fs::perms(0777);
    const fs::perms sticky = fs::perms(01777);
    const fs::perms mine = fs::perms(0700);
    const std::string sharedAbove = "other users may write in {dir}/open, a folder on the way to it (owner {me}, mode "
                                    "0777); run chmod go-w on that folder, or use a data folder elsewhere";
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> arrange;
        const char* path;  // under the test's folder, or from cwd when that is set
        const char* cwd;   // under the test's folder; empty: the path is absolute
        std::string said;
        bool arrangedByRoot = false;
    };
    const Case cases[] = {
        {"a folder of the user's", [&](const fs::path& dir) { folder(dir / "data", mine); }, "data", "", ""},
        {"links to links", [&](const fs::path& dir) {
             folder(dir / "real", mine);
             fs::create_symlink("two", dir / "one");
             fs::create_symlink("real", dir / "two");
         }, "one", "", ""},
        {"links to links through a folder for everyone", [&](const fs::path& dir) {
             folder(dir / "open" / "real", mine);
             fs::permissions(dir / "open", open);
             fs::create_symlink("two", dir / "one");
             fs::create_symlink(dir / "open" / "real", dir / "two");
         }, "one", "", sharedAbove},
        // Read as text, link/../data would be the user's own folder: the kernel goes up from
        // where the link leads.
        {"'..' after a link", [&](const fs::path& dir) {
             folder(dir / "data", mine);
             folder(dir / "safe" / "inner", mine);
             folder(dir / "safe" / "data", open);
             fs::permissions(dir / "safe", mine);
             fs::create_symlink("safe/inner", dir / "link");
         }, "link/../data", "",
         "other users may write in it (owner {me}, mode 0777); run chmod go-w on it, or use another folder"},
        {"a relative path, from a current folder reached through a link", [&](const fs::path& dir) {
             folder(dir / "open" / "data", mine);
             fs::permissions(dir / "open", open);
             fs::create_symlink("open", dir / "way");
         }, "data", "way", sharedAbove},
        {"a missing tail under a folder with the sticky bit", [&](const fs::path& dir) { folder(dir / "sticky", sticky); },
         "sticky/new/data", "", ""},
        {"a missing tail under a folder for everyone", [&](const fs::path& dir) { folder(dir / "open", open); },
         "open/new/data", "", sharedAbove},
        {"a link loop", [&](const fs::path& dir) {
             fs::create_symlink("b", dir / "a");
             fs::create_symlink("a", dir / "b");
         }, "a", "", "it cannot be reached ({dir}/a: Too many levels of symbolic links)"},
        // Its owner cannot replace it where only root and the user may write.
        {"a link of another user's in a folder they may not write", [&](const fs::path& dir) {
             folder(dir / "real", mine);
             fs::create_symlink("real", dir / "link");
             giveToNobody(dir / "link");
         }, "link", "", "", true},
        {"a link of another user's in a folder with the sticky bit", [&](const fs::path& dir) {
             folder(dir / "sticky" / "real", mine);
             fs::permissions(dir / "sticky", sticky);
             fs::create_symlink("real", dir / "sticky" / "link");
             giveToNobody(dir / "sticky" / "link");
         }, "sticky/link", "",
         "the link {dir}/sticky/link on the way to it belongs to the user nobody, not to you or root, who may replace "
         "it since {dir}/sticky has the sticky bit (mode 1777); use a data folder elsewhere, or remove that link",
         true},
        // Read as text, mine/missing/../.. is the test's folder; the kernel would not get past
        // the missing name, and nothing is to be made there.
        {"'..' after a missing name", [&](const fs::path& dir) {
             folder(dir / "mine", mine);
             folder(dir / "theirs", open);
             giveToNobody(dir / "theirs");
         }, "mine/missing/../../theirs/sub", "",
         "{dir}/theirs, a folder on the way to it, belongs to the user nobody, not to you or root (mode 0777); use a "
         "data folder elsewhere",
         true},
        {"a folder of another user's above", [&](const fs::path& dir) {
             folder(dir / "theirs" / "data", mine);
             fs::permissions(dir / "theirs", fs::perms(0755));
             giveToNobody(dir / "theirs");
         }, "theirs/data", "",
         "{dir}/theirs, a folder on the way to it, belongs to the user nobody, not to you or root (mode 0755); use a "
         "data folder elsewhere",
         true},
        {"a folder of another user's in a folder with the sticky bit", [&](const fs::path& dir) {
             folder(dir / "sticky" / "theirs", mine);
             fs::permissions(dir / "sticky", sticky);
             giveToNobody(dir / "sticky" / "theirs");
         }, "sticky/theirs/data", "",
         "{dir}/sticky/theirs, a folder on the way to it, belongs to the user nobody, not to you or root (mode 0700); "
         "use a data folder elsewhere",
         true},
    };
    const passwd* me = ::getpwuid(::geteuid());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.arrangedByRoot && !mayActAsAnotherUser()) {
            continue;  // only root may give a file to another user
        }
        TempDir dir;
        const fs::path real = fs::canonical(dir.path());
        c.arrange(real);
        std::string said = replaced(replaced(c.said, "{dir}", real.string()), "{me}", me->pw_name);
        if (*c.cwd != '\0') {
            const InFolder in(real / c.cwd);
            EXPECT_EQ(whyPathNotPrivate(c.path, FolderRole::DataFolder), said);
        } else {
            EXPECT_EQ(whyPathNotPrivate(real / c.path, FolderRole::DataFolder), said);
        }
    }
}

// Regression: the walk held every folder of the path open at once, so a path deeper than the
// descriptors a process may hold (about a thousand) was refused, and a walk that made what was
// missing had made as many folders as it could hold by then.
TEST(PrivatePathTest, APathDeeperThanTheDescriptorsAProcessMayHoldIsMadeAndWalkedUpAndDown) {
    TempDir dir;
    fs::path deep = fs::canonical(dir.path());
    for (int level = 0; level < 64; ++level) {
        deep /= "d";
    }
    // In a copy of the process that may open 16 descriptors more than it has open.
    const TrialOutcome trial = runForkedTrial([&](int out) {
        int highest = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
            highest = std::max(highest, std::stoi(entry.path().filename().string()));
        }
        const rlimit few{static_cast<rlim_t>(highest + 17), static_cast<rlim_t>(highest + 17)};
        std::string said = ::setrlimit(RLIMIT_NOFILE, &few) == 0 ? "" : "the limit was not lowered\n";
        for (const fs::path& path : {deep / "data", deep / "data" / ".." / ".." / "d" / "data"}) {
            const PathWalk walk = walkPrivatePath(path, FolderRole::DataFolder, MissingFolders::Make);
            said += walk.reason + "|" + walk.end.realPath + "\n";
        }
        return writeAll(out, said.data(), said.size()) == said.size() ? 0 : 1;
    });
    const std::string made = "|" + (deep / "data").string() + "\n";
    EXPECT_EQ(trial.said, made + made);
}
