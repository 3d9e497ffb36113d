#include "core/AtomicWriter.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using ostrel::core::writeFileAtomically;
using ostrel::test::readFile;
using ostrel::test::TempDir;
using ostrel::test::writeFile;

namespace {

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

TEST(AtomicWriterTest, CreatesMissingFoldersAndWritesExactBytes) {
    TempDir dir;
    const fs::path target = dir / "a/b/c/song.ostproj";
    const std::string bytes("one\0two\n", 8);
    ASSERT_TRUE(writeFileAtomically(target, bytes, nullptr));
    EXPECT_EQ(readFile(target), bytes);
    EXPECT_FALSE(fs::exists(dir / "a/b/c/song.ostproj.tmp"));
}

TEST(AtomicWriterTest, EmptyBytesGiveAnEmptyFile) {
    TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir / "empty", "", nullptr));
    EXPECT_TRUE(fs::exists(dir / "empty"));
    EXPECT_EQ(fs::file_size(dir / "empty"), 0u);
}

TEST(AtomicWriterTest, ShorterContentReplacesTheWholeFile) {
    TempDir dir;
    writeFile(dir / "f", "a long old content");
    std::string error = "untouched";
    ASSERT_TRUE(writeFileAtomically(dir / "f", "new", &error));
    EXPECT_EQ(readFile(dir / "f"), "new");
    EXPECT_EQ(error, "untouched");
}

TEST(AtomicWriterTest, StaleTemporaryFileDoesNotDisturb) {
    TempDir dir;
    writeFile(dir / "f.tmp", "left over from a crash, and longer than the new content");
    ASSERT_TRUE(writeFileAtomically(dir / "f", "fresh", nullptr));
    EXPECT_EQ(readFile(dir / "f"), "fresh");
    EXPECT_FALSE(fs::exists(dir / "f.tmp"));
}

TEST(AtomicWriterFailureTest, ParentThatIsAFileCannotBeCreated) {
    TempDir dir;
    writeFile(dir / "blocker", "x");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "blocker/sub/f", "x", &error));
    EXPECT_TRUE(startsWith(error, "cannot create folder " + (dir / "blocker/sub").string() + ": ")) << error;
    EXPECT_GT(error.size(), ("cannot create folder " + (dir / "blocker/sub").string() + ": ").size());
}

TEST(AtomicWriterFailureTest, TemporaryThatIsAFolderCannotBeCreated) {
    TempDir dir;
    fs::create_directory(dir / "f.tmp");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "f", "x", &error));
    EXPECT_EQ(error, "cannot create " + (dir / "f.tmp").string());
    EXPECT_FALSE(fs::exists(dir / "f"));
}

TEST(AtomicWriterFailureTest, TargetThatIsAFolderCannotBeReplaced) {
    TempDir dir;
    fs::create_directories(dir / "f/inside");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "f", "x", &error));
    EXPECT_TRUE(startsWith(error, "cannot replace " + (dir / "f").string() + ": ")) << error;
    EXPECT_TRUE(fs::is_directory(dir / "f/inside"));
    EXPECT_FALSE(fs::exists(dir / "f.tmp"));
}

TEST(AtomicWriterFailureTest, FullDeviceGivesWriteFailureAndRemovesTemporary) {
    // /dev/full accepts the open and fails the flush with ENOSPC; the temporary is a
    // symbolic link to it so the writer's own file really is that device.
    if (!fs::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full here";
    }
    TempDir dir;
    fs::create_symlink("/dev/full", dir / "f.tmp");
    std::string error;
    EXPECT_FALSE(writeFileAtomically(dir / "f", std::string(100000, 'x'), &error));
    EXPECT_EQ(error, "cannot write " + (dir / "f.tmp").string() + " (disk full or read-only?)");
    EXPECT_FALSE(fs::exists(dir / "f"));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "f.tmp")));
}

TEST(AtomicWriterFailureTest, NullErrorStillReportsFailure) {
    TempDir dir;
    writeFile(dir / "blocker", "x");
    EXPECT_FALSE(writeFileAtomically(dir / "blocker/f", "x", nullptr));
    EXPECT_EQ(readFile(dir / "blocker"), "x");
}
