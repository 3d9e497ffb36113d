#include "core/files/FolderLock.h"

#include "core/files/AtomicWriter.h"
#include "core/log/FileSink.h"
#include "core/log/Logger.h"
#include "support/AnotherUser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;

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
// values steered the program. Both are refused before anything is locked or written.
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
         "it belongs to the user nobody, not to you (mode 0644), and Ostrel takes no orders from another user's file; "
         "remove it, or use another data folder"},
        {"a settings link of another user's to the user's own file",
         [](const fs::path& dir) {
             writeFile(dir / "mine.json", "{}");
             fs::create_symlink(dir / "mine.json", dir / "data" / "settings.json");
             giveToNobody(dir / "data" / "settings.json");
         },
         FolderLock::Outcome::FileRefused,
         "it is a link that belongs to the user nobody, not to you or root (mode 0777), and Ostrel takes no orders "
         "from another user's file; remove it, or use another data folder"},
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
        std::string said = c.said;
        for (std::size_t at = said.find("{dir}"); at != std::string::npos; at = said.find("{dir}")) {
            said.replace(at, 5, real.string());
        }
        EXPECT_EQ(error, said);
        EXPECT_EQ(lock.refusedFile(), c.outcome == FolderLock::Outcome::FileRefused ? real / "data" / "settings.json"
                                                                                    : fs::path());
        EXPECT_EQ(fs::exists(real / "data" / FolderLock::kFileName), c.outcome == FolderLock::Outcome::Held);
    }
}
