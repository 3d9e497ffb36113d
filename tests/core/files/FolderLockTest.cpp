#include "core/files/FolderLock.h"

#include "core/files/AtomicWriter.h"
#include "core/log/FileSink.h"
#include "core/log/Logger.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

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
             FileSink(data / "logs" / "ostrel.log", 1024, 1).write(LogRecord{0, LogLevel::INFO, "test", "line", "0000"});
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
