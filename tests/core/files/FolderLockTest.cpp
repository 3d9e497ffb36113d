#include "core/files/FolderLock.h"

#include "core/Failure.h"
#include "core/files/AtomicWriter.h"
#include "core/log/FileSink.h"
#include "core/log/Logger.h"
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"
#include "support/AnotherUser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <initializer_list>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;

namespace {

// text with every placeholder of places ("{dir}") replaced by its path.
std::string placed(std::string text, std::initializer_list<std::pair<std::string_view, fs::path>> places) {
    for (const auto& [placeholder, path] : places) {
        for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder)) {
            text.replace(at, placeholder.size(), path.string());
        }
    }
    return text;
}

}  // namespace

// Regression: with the data folder renamed away and a new one made at its path, saves, logs,
// exports and crash reports went into the new folder, which no lock held.
TEST(FolderLockGuardTest, NothingIsWrittenIntoAFolderPutWhereTheLockedOneWas) {
    TempDir dir;
    const fs::path data = dir / "data";
    struct Writer {
        const char* name;
        std::function<bool(std::string*)> write;  // true when it wrote
    };
    const Writer writers[] = {
        {"a save", [&](std::string* error) { return writeFileAtomically(data / "settings.json", "{}", error); }},
        {"a folder", [&](std::string* error) { return createFoldersToWrite(data / "exports", error); }},
        {"a log line",
         [&](std::string*) {
             FileSink(data / "logs" / "ostrel.log", 1024, 1).write(LogRecord{0, LogLevel::INFO, "test", "line", "0000", {}, {}});
             return fs::exists(data / "logs" / "ostrel.log");
         }},
        {"a crash report", [&](std::string*) { return !heldFolderReplacedUnder((data / "crashes" / "c.txt").c_str()); }},
    };
    {
        FolderLock lock;
        ASSERT_EQ(lock.acquire(data, nullptr), FolderLock::Outcome::Held);
        lock.guardWrites();
        for (const Writer& writer : writers) {
            EXPECT_TRUE(writer.write(nullptr)) << writer.name << " into the locked folder";
        }
        fs::rename(data, dir / "moved");
        fs::create_directory(data);
        for (const Writer& writer : writers) {
            SCOPED_TRACE(writer.name);
            std::string error;
            EXPECT_FALSE(writer.write(&error));
            EXPECT_TRUE(error.empty() ||
                        error == "the data folder " + data.string() +
                                     " is no longer the one this copy of Ostrel locked (it was moved or replaced "
                                     "while Ostrel ran), so nothing more is written into it")
                << error;
        }
        EXPECT_TRUE(fs::is_empty(data));
    }
    // The lock gone, nothing is guarded any more.
    EXPECT_TRUE(writeFileAtomically(data / "settings.json", "{}", nullptr));
}

// Regression: a folder the atomic writer made for its file took the umask's 0755.
TEST(FolderLockPrivacyTest, FoldersMadeToWriteIntoAreTheUsersAlone) {
    TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir / "saved" / "exports" / "song.wav", "RIFF", nullptr));
    EXPECT_EQ(fs::status(dir / "saved").permissions(), fs::perms(0700));
    EXPECT_EQ(fs::status(dir / "saved" / "exports").permissions(), fs::perms(0700));
}

// Regression: a folder the program writes into that was a link was judged only where it led,
// not on the way there; and a settings file of another user's was taken as it was, so its
// values steered the program. Then one of the user's that others could change was obeyed.
// All are refused before anything is locked or written.
TEST(FolderLockPrivacyTest, WhatItHoldsIsJudgedBeforeAnythingIsLocked) {
    if (!mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may give a file to another user";
    }
    static constexpr std::string_view kSubfolders[] = {"logs"};
    static constexpr std::string_view kFiles[] = {"settings.json"};
    struct Case {
        const char* name;
        std::function<void(const fs::path& dir)> arrange;
        FolderLock::Outcome outcome;
        std::string said;  // "{dir}" for the test's folder
    };
    const Case cases[] = {
        {"logs through a folder for everyone",
         [](const fs::path& dir) {
             fs::create_directories(dir / "open" / "logs");
             fs::permissions(dir / "open", fs::perms(0777));
             fs::create_symlink(dir / "open" / "logs", dir / "data" / "logs");
         },
         FolderLock::Outcome::Unusable,
         "other users may write in {dir}/open, a folder on the way to {dir}/data/logs (owner root, mode 0777); run "
         "chmod go-w on that folder, or use a data folder elsewhere"},
        {"logs, a link to a folder of another user's",
         [](const fs::path& dir) {
             fs::create_directories(dir / "theirs");
             fs::permissions(dir / "theirs", fs::perms(0755));
             giveToNobody(dir / "theirs");
             fs::create_symlink(dir / "theirs", dir / "data" / "logs");
         },
         FolderLock::Outcome::Unusable,
         "{dir}/data/logs belongs to the user nobody, not to you (mode 0755); move it out of the data folder, or use "
         "another data folder"},
        {"a settings file of another user's",
         [](const fs::path& dir) {
             writeFile(dir / "data" / "settings.json", "{}");
             fs::permissions(dir / "data" / "settings.json", fs::perms(0644));
             giveToNobody(dir / "data" / "settings.json");
         },
         FolderLock::Outcome::FileRefused,
         "it belongs to the user nobody, not to you or root (mode 0644), and Ostrel takes no orders from another "
         "user's file; remove it, or use another data folder"},
        {"a settings file others may change",
         [](const fs::path& dir) {
             writeFile(dir / "data" / "settings.json", "{}");
             fs::permissions(dir / "data" / "settings.json", fs::perms(0666));
         },
         FolderLock::Outcome::FileRefused,
         "other users may change it (owner root, mode 0666); run chmod go-w on it, or use another data folder"},
        {"a settings file an access list lets another user change",
         [](const fs::path& dir) {
             writeFile(dir / "data" / "settings.json", "{}");
             setAccessList(dir / "data" / "settings.json", "u::rw-,u:nobody:rw-,g::---,m::rw-,o::---");
         },
         FolderLock::Outcome::FileRefused,
         "the user nobody may change it through its access list (owner root, mode 0660, with an access list); run "
         "chmod go-w on it, or use another data folder"},
        {"a settings link of the user's to a file others may change",
         [](const fs::path& dir) {
             writeFile(dir / "open.json", "{}");
             fs::permissions(dir / "open.json", fs::perms(0666));
             fs::create_symlink(dir / "open.json", dir / "data" / "settings.json");
         },
         FolderLock::Outcome::FileRefused,
         "other users may change it (owner root, mode 0666); run chmod go-w on it, or use another data folder"},
        // Its owner may not write in the data folder, so cannot change where it leads.
        {"a settings link of another user's to the user's own file",
         [](const fs::path& dir) {
             writeFile(dir / "mine.json", "{}");
             fs::create_symlink(dir / "mine.json", dir / "data" / "settings.json");
             giveToNobody(dir / "data" / "settings.json");
         },
         FolderLock::Outcome::Held, ""},
        {"a settings link of the user's own", [](const fs::path& dir) {
             writeFile(dir / "mine.json", "{}");
             fs::create_symlink(dir / "mine.json", dir / "data" / "settings.json");
         },
         FolderLock::Outcome::Held, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const fs::path real = fs::canonical(dir.path());
        fs::create_directory(real / "data");
        fs::permissions(real / "data", fs::perms(0700));
        c.arrange(real);
        FolderLock lock;
        std::string error;
        EXPECT_EQ(lock.acquire(real / "data", &error, {kSubfolders, kFiles}), c.outcome);
        EXPECT_EQ(error, placed(c.said, {{"{dir}", real}}));
        EXPECT_EQ(lock.refusedFile(), c.outcome == FolderLock::Outcome::FileRefused ? real / "data" / "settings.json"
                                                                                    : fs::path());
        EXPECT_EQ(fs::exists(real / "data" / FolderLock::kFileName), c.outcome == FolderLock::Outcome::Held);
    }
}

// Regression: the settings file was judged on a descriptor, then opened again by its name,
// which by then could name another file.
TEST(FolderLockPrivacyTest, TheSettingsFileReadIsTheOneJudged) {
    static constexpr std::string_view kFiles[] = {"settings.json"};
    TempDir dir;
    const fs::path data = dir / "data";
    fs::create_directory(data);
    writeFile(data / "settings.json", R"({"format_version": 1, "values": {"api.port": 9000}})");
    FolderLock lock;
    ASSERT_EQ(lock.acquire(data, nullptr, {{}, kFiles}), FolderLock::Outcome::Held);
    writeFile(dir / "other.json", R"({"format_version": 1, "values": {"api.port": 9001}})");
    fs::rename(dir / "other.json", data / "settings.json");
    const SettingsRegistry registry = buildSettingsRegistry();
    SettingsStore store(registry);
    EXPECT_TRUE(store.load(data / "settings.json", lock.takeObeyedFile(0)).empty());
    EXPECT_EQ(store.getInt("api.port"), 9000);
}

namespace {

// Whether the kernel refuses to follow a link of another user's in a folder with the sticky
// bit (fs.protected_symlinks), which hides a race at such a name from the program.
bool kernelGuardsStickyLinks() {
    std::ifstream setting("/proc/sys/fs/protected_symlinks");
    int value = 1;
    setting >> value;
    return value != 0;
}

// A folder like /tmp (root's, with the sticky bit) in a folder of the test's that another
// user may enter.
fs::path sharedFolder(const TempDir& dir) {
    fs::permissions(dir.path(), fs::perms(0755));
    const fs::path shared = fs::canonical(dir.path()) / "shared";
    fs::create_directory(shared);
    fs::permissions(shared, fs::perms(01777));
    return shared;
}

}  // namespace

// Regression: the data folder's name was looked at, then made, stated and opened by name, so
// another user who kept a link to another folder of the user's appearing and going at that
// name in a folder like /tmp had the program run in, or make its folders and lock in, the
// folder the link led to.
TEST(FolderLockRaceTest, ALinkKeptAppearingAtTheMissingDataFolderIsNeverFollowed) {
    if (!mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may act as another user";
    }
    if (kernelGuardsStickyLinks()) {
        GTEST_SKIP() << "fs.protected_symlinks is on: the kernel follows no such link, so there is no race to lose";
    }
    TempDir dir;
    const fs::path shared = sharedFolder(dir);
    const fs::path victim = fs::canonical(dir.path()) / "victim";
    fs::create_directory(victim);
    fs::permissions(victim, fs::perms(0700));
    const fs::path data = shared / "data";
    ASSERT_EQ(whyAnotherUserCannotReach(shared), "");
    const pid_t test = ::getpid();
    const pid_t other = ::fork();
    if (other == 0) {
        becomeAnotherUser();
        // Ends with the test, however the test ends, and in a minute at the latest.
        (void)::prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (const time_t end = ::time(nullptr) + 60; ::getppid() == test && ::time(nullptr) < end;) {
            (void)::symlink(victim.c_str(), data.c_str());
            (void)::unlink(data.c_str());
        }
        ::_exit(0);
    }
    int held = 0;
    for (int start = 0; start < 2000 && fs::is_empty(victim); ++start) {
        {
            FolderLock lock;
            if (lock.acquire(data, nullptr) == FolderLock::Outcome::Held) {
                ++held;
                EXPECT_EQ(lock.folder(), data);
            }
        }
        std::error_code ignored;
        if (fs::is_directory(fs::symlink_status(data, ignored))) {
            fs::remove_all(data, ignored);
        }
    }
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    EXPECT_TRUE(fs::is_empty(victim)) << "a start made something in the folder the link led to";
    RecordProperty("held", held);
}

namespace {

// Runs what in a child process as nobody; whether it returned true there.
bool asNobody(const std::function<bool()>& what) {
    const pid_t child = ::fork();
    if (child == 0) {
        becomeAnotherUser();
        ::_exit(what() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool isUsersOwn(const fs::path& path, mode_t mode) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && status.st_uid == ::geteuid() && (status.st_mode & 07777) == mode;
}

void writeLogLine(const fs::path& folder) {
    FileSink(folder / "ostrel.log", 1024, 1).write(LogRecord{0, LogLevel::INFO, "test", "line", "0000", {}, {}});
}

constexpr const char* kTheirSettings = R"({"format_version": 1, "values": {"api.enabled": true, "api.port": 9001}})";

}  // namespace

// Regression: a name under the data folder that was missing when the start judged it (where a
// link there led, a folder on the way after "..") was later used by its name, so another user
// who made it in a folder like /tmp in the meantime had the program obey their settings file,
// or write the user's log into their folder; a linked folder that could not be made was left
// for its writer, which then wrote into whatever another user made there. A settings file's
// target in such a folder, replaced there since, had saves written through the new link.
// What is used is what was judged: the file judged, or the folder by the real path judged.
TEST(FolderLockPrivacyTest, ANameMissingWhenJudgedIsNeverUsedByThatNameOnceAnotherUserMadeIt) {
    if (!mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may act as another user";
    }
    static constexpr std::string_view kSubfolders[] = {"logs"};
    static constexpr std::string_view kFiles[] = {"settings.json"};
    // shared is like /tmp; theirs is a folder of nobody's that anyone may write in.
    struct Place {
        fs::path data, shared, theirs;
    };
    struct Case {
        const char* name;
        std::function<void(const Place&)> arrange;
        FolderLock::Outcome outcome;
        std::string said;  // "{shared}" for the shared folder, "{data}" for the data folder
        std::function<void(const Place&)> meanwhile;  // between the start and the use
        std::function<void(FolderLock&, const Place&)> use;  // and what must hold
    };
    const SettingsRegistry registry = buildSettingsRegistry();
    // A name that looks missing where no folder can be made: the system's reason is the one said.
    const fs::path unmakeable = "/proc/ostrel-test-unmakeable";
    ASSERT_NE(::mkdir(unmakeable.c_str(), 0700), 0);
    const std::string unmakeableWhy = systemMessage(errno);
    const Case cases[] = {
        {"the target of a settings link",
         [](const Place& at) { fs::create_symlink(at.shared / "set.json", at.data / "settings.json"); },
         FolderLock::Outcome::Held, "",
         [](const Place& at) {
             EXPECT_TRUE(asNobody([&] {
                 writeFile(at.shared / "set.json", kTheirSettings);
                 return true;
             }));
         },
         [&](FolderLock& lock, const Place& at) {
             SettingsStore store(registry);
             EXPECT_TRUE(store.load(at.data / "settings.json", lock.takeObeyedFile(0)).empty());
             EXPECT_FALSE(store.getBool("api.enabled"));
             ASSERT_TRUE(store.save(at.data / "settings.json", nullptr));
             EXPECT_TRUE(isUsersOwn(at.data / "settings.json", 0600)) << "the link gave way to the user's own file";
             EXPECT_EQ(readFile(at.shared / "set.json"), kTheirSettings);
             EXPECT_FALSE(fs::exists(fs::symlink_status(at.data / "settings.json.bad")));
         }},
        {"the target of a settings link, replaced there by another user's link since",
         [](const Place& at) {
             writeFile(at.shared / "mine.json", R"({"format_version": 1, "values": {"api.port": 9000}})");
             fs::create_symlink(at.shared / "mine.json", at.data / "settings.json");
             writeFile(at.theirs / "x.json", "theirs");
             fs::permissions(at.theirs / "x.json", fs::perms(0666));
             giveToNobody(at.theirs / "x.json");
         },
         FolderLock::Outcome::Held, "",
         [](const Place& at) {
             fs::remove(at.shared / "mine.json");
             EXPECT_TRUE(asNobody([&] { return ::symlink((at.theirs / "x.json").c_str(),
                                                          (at.shared / "mine.json").c_str()) == 0; }));
         },
         [&](FolderLock& lock, const Place& at) {
             SettingsStore store(registry);
             EXPECT_TRUE(store.load(at.data / "settings.json", lock.takeObeyedFile(0)).empty());
             EXPECT_EQ(store.getInt("api.port"), 9000);
             (void)store.save(at.data / "settings.json", nullptr);
             EXPECT_EQ(readFile(at.theirs / "x.json"), "theirs");
             EXPECT_FALSE(fs::exists(fs::symlink_status(at.theirs / "x.json.tmp")));
         }},
        {"the target of a linked folder",
         [](const Place& at) { fs::create_symlink(at.shared / "later-logs", at.data / "logs"); },
         FolderLock::Outcome::Held, "",
         [](const Place& at) {
             EXPECT_FALSE(asNobody([&] { return ::mkdir((at.shared / "later-logs").c_str(), 0777) == 0; }))
                 << "another user made the folder the log goes to";
         },
         [](FolderLock& lock, const Place& at) {
             EXPECT_EQ(lock.writtenFolder(0), at.shared / "later-logs");
             EXPECT_TRUE(isUsersOwn(at.shared / "later-logs", 0700));
             writeLogLine(lock.writtenFolder(0));
             EXPECT_TRUE(isUsersOwn(at.shared / "later-logs" / "ostrel.log", 0600));
         }},
        {"'..' after a missing name in a linked folder",
         [](const Place& at) {
             fs::create_symlink(at.shared / "miss" / ".." / "vlogs", at.data / "logs");
             fs::create_directories(at.theirs / "inner");
             fs::create_directories(at.theirs / "vlogs");
             giveToNobody(at.theirs / "inner");
             giveToNobody(at.theirs / "vlogs");
         },
         FolderLock::Outcome::Held, "",
         [](const Place& at) {
             EXPECT_TRUE(asNobody([&] {
                 return ::symlink((at.theirs / "inner").c_str(), (at.shared / "miss").c_str()) == 0;
             }));
         },
         [](FolderLock& lock, const Place& at) {
             EXPECT_EQ(lock.writtenFolder(0), at.shared / "vlogs");
             writeLogLine(lock.writtenFolder(0));
             EXPECT_TRUE(isUsersOwn(at.shared / "vlogs" / "ostrel.log", 0600));
             EXPECT_TRUE(fs::is_empty(at.theirs / "vlogs")) << "the log went where the link made later leads";
         }},
        {"a linked folder that cannot be made",
         [&](const Place& at) { fs::create_symlink(unmakeable, at.data / "logs"); }, FolderLock::Outcome::Unusable,
         "{data}/logs cannot be made (" + unmakeable.string() + ": " + unmakeableWhy + ")", nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        Place at{fs::canonical(dir.path()) / "data", sharedFolder(dir), fs::canonical(dir.path()) / "theirs"};
        fs::create_directory(at.data);
        fs::permissions(at.data, fs::perms(0700));
        fs::create_directory(at.theirs);
        fs::permissions(at.theirs, fs::perms(0777));
        giveToNobody(at.theirs);
        c.arrange(at);
        FolderLock lock;
        std::string error;
        ASSERT_EQ(lock.acquire(at.data, &error, {kSubfolders, kFiles}), c.outcome) << error;
        EXPECT_EQ(error, placed(c.said, {{"{shared}", at.shared}, {"{data}", at.data}}));
        if (c.outcome != FolderLock::Outcome::Held) {
            EXPECT_FALSE(fs::exists(at.data / FolderLock::kFileName));
            continue;
        }
        c.meanwhile(at);
        c.use(lock, at);
    }
}

// Regression: a data folder whose path left no room for the names of its files (a path near
// the system's limit of 4095 bytes) was taken, and then every file in it failed by name: the
// settings read as "unreadable (File name too long)" though there were none, and nothing could
// be logged. It is refused before anything is made; one that leaves the room is held.
TEST(FolderLockTest, AFolderWhosePathLeavesNoRoomForItsFilesIsRefusedWithNothingMade) {
    TempDir dir;
    const fs::path real = fs::canonical(dir.path());
    fs::path data = real / "long";
    while (4031 - data.native().size() > 201) {
        data /= std::string(100, 'x');
    }
    data /= std::string(4031 - data.native().size() - 1, 'y');
    ASSERT_EQ(data.native().size(), 4031u);
    std::string error;
    EXPECT_EQ(FolderLock().acquire(data, &error), FolderLock::Outcome::Held) << error;
    fs::remove_all(real / "long");
    EXPECT_EQ(FolderLock().acquire(data.string() + "y", &error), FolderLock::Outcome::Unusable);
    EXPECT_EQ(error, "its path, 4032 bytes long, leaves no room for the names of the files Ostrel keeps in it (the "
                     "system names a file by at most 4095 bytes); use a folder with a shorter path");
    EXPECT_TRUE(fs::is_empty(real));
}
