#include "core/files/AtomicWriter.h"

#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

namespace fs = std::filesystem;
using ostrel::core::AtomicFileWriter;
using ostrel::core::writeFileAtomically;
using namespace ostrel::test;
using ::testing::StartsWith;

namespace {

std::string failureOf(const fs::path& target, const std::string& bytes = "x") {
    std::string error;
    EXPECT_FALSE(writeFileAtomically(target, bytes, &error));
    EXPECT_FALSE(writeFileAtomically(target, bytes, nullptr));
    return error;
}

}  // namespace

TEST(AtomicWriterTest, ReplacesTheWholeFileWithExactBytesAndLeavesNoTemporary) {
    TempDir dir;
    const fs::path target = dir / "a/b/song.ostproj";
    const std::string bytes("one\0two\n", 8);
    std::string error = "untouched";
    ASSERT_TRUE(writeFileAtomically(target, bytes, &error));  // making the folders
    EXPECT_EQ(readFile(target), bytes);
    writeFile(dir / "a/b/song.ostproj.tmp", "left over from a crash, and longer than the new content");
    ASSERT_TRUE(writeFileAtomically(target, "", &error));
    EXPECT_TRUE(fs::exists(target));
    EXPECT_EQ(readFile(target), "");
    EXPECT_FALSE(fs::exists(dir / "a/b/song.ostproj.tmp"));
    EXPECT_EQ(error, "untouched");
}

// Each failure is provoked by a file of the wrong type in the way; the system's own
// reason follows the colon.
TEST(AtomicWriterFailureTest, ParentThatIsAFileCannotBeCreated) {
    TempDir dir;
    writeFile(dir / "blocker", "x");
    const std::string prefix = "cannot create folder " + (dir / "blocker/sub").string() + ": ";
    const std::string error = failureOf(dir / "blocker/sub/f");
    EXPECT_THAT(error, StartsWith(prefix));
    EXPECT_GT(error.size(), prefix.size());
    EXPECT_EQ(readFile(dir / "blocker"), "x");
}

TEST(AtomicWriterFailureTest, TemporaryThatIsAFolderCannotBeCreated) {
    TempDir dir;
    fs::create_directory(dir / "f.tmp");
    EXPECT_EQ(failureOf(dir / "f"), "cannot create " + (dir / "f.tmp").string());
    EXPECT_FALSE(fs::exists(dir / "f"));
}

TEST(AtomicWriterFailureTest, TargetThatIsAFolderCannotBeReplaced) {
    TempDir dir;
    fs::create_directories(dir / "f/inside");
    EXPECT_THAT(failureOf(dir / "f"), StartsWith("cannot replace " + (dir / "f").string() + ": "));
    EXPECT_TRUE(fs::is_directory(dir / "f/inside"));
    EXPECT_FALSE(fs::exists(dir / "f.tmp"));
}

TEST(AtomicWriterFailureTest, FullDiskGivesWriteFailureRemovesTemporaryAndKeepsTheOldTarget) {
    // A file-size limit in a child process stands in for a full disk: the write fails
    // with EFBIG part way, as it would with ENOSPC.
    TempDir dir;
    writeFile(dir / "f", "old");
    const auto writeAgainstTheLimit = [&] {
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN);
        std::string error;
        const bool written = writeFileAtomically(dir / "f", std::string(100000, 'x'), &error);
        const bool ok = !written && error == "cannot write " + (dir / "f.tmp").string() + " (disk full or read-only?)" &&
                        !fs::exists(fs::symlink_status(dir / "f.tmp")) && readFile(dir / "f") == "old";
        std::fprintf(stderr, "%s", error.c_str());
        std::_Exit(ok ? 0 : 1);
    };
    EXPECT_EXIT(writeAgainstTheLimit(), ::testing::ExitedWithCode(0), "");
}

// Regression: the temporary file was opened with "wb", which follows a link planted at
// its name: the save went into the other file and the target became a link to it.
TEST(AtomicWriterPlantedLinkTest, LinkAtTheTemporaryNameIsReplacedNotFollowed) {
    TempDir dir;
    writeFile(dir / "victim", "someone else's file");
    const std::string bytes(100000, 'x');
    // To a file, to nowhere (the open would create it), to a device that fails every write.
    for (const fs::path& planted : {dir / "victim", dir / "would-be-created", fs::path("/dev/full")}) {
        writeFile(dir / "song", "old");
        fs::create_symlink(planted, dir / "song.tmp");
        std::string error;
        ASSERT_TRUE(writeFileAtomically(dir / "song", bytes, &error)) << planted << ": " << error;
        EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir / "song"))) << planted;
        EXPECT_EQ(readFile(dir / "song"), bytes) << planted;
        EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "song.tmp"))) << planted;
    }
    EXPECT_EQ(readFile(dir / "victim"), "someone else's file");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "would-be-created")));
}

// ---- The streaming form.

TEST(AtomicFileWriterTest, PiecesWrittenOneByOneReplaceTheTargetOnlyOnCommit) {
    TempDir dir;
    const fs::path target = dir / "take.wav";
    writeFile(target, "old content");
    AtomicFileWriter writer;
    std::string error = "untouched";
    ASSERT_TRUE(writer.open(target, &error));
    ASSERT_TRUE(writer.write("RIFF", &error));
    ASSERT_TRUE(writer.write("", &error));
    ASSERT_TRUE(writer.write(std::string_view("\0WAVE", 5), &error));
    EXPECT_EQ(readFile(target), "old content");
    ASSERT_TRUE(writer.commit(&error));
    EXPECT_EQ(readFile(target), std::string("RIFF\0WAVE", 9));
    EXPECT_FALSE(fs::exists(dir / "take.wav.tmp"));
    EXPECT_EQ(error, "untouched");
}

TEST(AtomicFileWriterTest, WriterDroppedOrDiscardedBeforeCommitLeavesTheOldTargetAndNoTemporary) {
    TempDir dir;
    const fs::path target = dir / "take.wav";
    writeFile(target, "old");
    {
        AtomicFileWriter writer;
        ASSERT_TRUE(writer.open(target, nullptr));
        ASSERT_TRUE(writer.write("half of it", nullptr));
        EXPECT_TRUE(fs::exists(dir / "take.wav.tmp"));
    }
    EXPECT_FALSE(fs::exists(dir / "take.wav.tmp"));
    EXPECT_EQ(readFile(target), "old");

    AtomicFileWriter writer;
    ASSERT_TRUE(writer.open(target, nullptr));
    writer.discard();
    EXPECT_FALSE(fs::exists(dir / "take.wav.tmp"));
    std::string error;
    EXPECT_FALSE(writer.write("late", &error));
    EXPECT_EQ(error, "cannot write " + (dir / "take.wav.tmp").string() + " (disk full or read-only?)");
    EXPECT_FALSE(writer.commit(&error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(readFile(target), "old");
    EXPECT_FALSE(AtomicFileWriter().commit(nullptr)) << "never opened";
}

TEST(AtomicFileWriterTest, ReplaceFailureRemovesTheTemporary) {
    TempDir dir;
    fs::create_directories(dir / "f/inside");
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.open(dir / "f", nullptr));
    ASSERT_TRUE(writer.write("x", nullptr));
    std::string error;
    EXPECT_FALSE(writer.commit(&error));
    EXPECT_THAT(error, StartsWith("cannot replace " + (dir / "f").string() + ": "));
    EXPECT_FALSE(fs::exists(dir / "f.tmp"));
    EXPECT_TRUE(fs::is_directory(dir / "f/inside"));
}
