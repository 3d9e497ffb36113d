#include "core/AtomicWriter.h"

#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
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
