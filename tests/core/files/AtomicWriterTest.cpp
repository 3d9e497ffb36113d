#include "core/files/AtomicWriter.h"

#include "support/AnotherUser.h"
#include "support/HostileFiles.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using ostrel::core::AtomicFileWriter;
using ostrel::core::AtomicWriteOptions;
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
    EXPECT_EQ(failureOf(dir / "f"), "cannot create " + (dir / "f.tmp").string() + ": Is a directory");
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
        const bool ok = !written && error == "cannot write " + (dir / "f.tmp").string() + ": File too large" &&
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

// ---- Modes and links.

static unsigned modeOf(const fs::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Regression: a replaced file took 0666 less the umask, whatever it had.
TEST(AtomicWriterModeTest, AReplacedFileKeepsItsModeAndANewOneTakesTheUmask) {
    TempDir dir;
    writeFile(dir / "private", "old");
    ::chmod((dir / "private").c_str(), 0640);
    ASSERT_TRUE(writeFileAtomically(dir / "private", "new", nullptr));
    EXPECT_EQ(modeOf(dir / "private"), 0640u);
    ::chmod((dir / "private").c_str(), 0600);
    ASSERT_TRUE(writeFileAtomically(dir / "private", "newer", nullptr));
    EXPECT_EQ(modeOf(dir / "private"), 0600u);
    EXPECT_EQ(readFile(dir / "private"), "newer");

    const mode_t umask = ::umask(022);
    ASSERT_TRUE(writeFileAtomically(dir / "fresh", "x", nullptr));
    ::umask(umask);
    EXPECT_EQ(modeOf(dir / "fresh"), 0644u);
}

TEST(AtomicWriterModeTest, AGivenModeHoldsForNewAndReplacedFiles) {
    TempDir dir;
    ASSERT_TRUE(writeFileAtomically(dir / "secret", "one", nullptr, AtomicWriteOptions{0600}));
    EXPECT_EQ(modeOf(dir / "secret"), 0600u);
    ::chmod((dir / "secret").c_str(), 0666);
    ASSERT_TRUE(writeFileAtomically(dir / "secret", "two", nullptr, AtomicWriteOptions{0600}));
    EXPECT_EQ(modeOf(dir / "secret"), 0600u);
}

// Whether another user (nobody) may open path for reading, tried in a child that becomes it.
static bool anotherUserOpens(const fs::path& path) {
    const pid_t child = ::fork();
    if (child == 0) {
        becomeAnotherUser();
        ::_exit(::open(path.c_str(), O_RDONLY | O_CLOEXEC) >= 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != kCouldNotBecomeAnotherUser);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Regression: the temporary file of a save that holds a secret was made 0644 and given its
// 0600 only before the rename, so another user could open it in between and read all of it.
TEST(AtomicWriterModeTest, TheTemporaryFileHasItsFinalModeFromItsCreationSoNoOtherUserOpensIt) {
    if (!mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may act as another user";
    }
    struct Case {
        const char* name;
        int mode;
        std::function<void(const fs::path& target)> arrange;
    };
    const auto withMode = [](const char* name, unsigned mode) {
        return [name, mode](const fs::path& target) {
            const fs::path file = target.parent_path() / name;
            writeFile(file, "old");
            ::chmod(file.c_str(), mode);
        };
    };
    const Case cases[] = {
        {"a secret in a new file", 0600, [](const fs::path&) {}},
        {"a secret over a file others may read", 0600, withMode("settings.json", 0644)},
        {"a secret over a leftover temporary file others may read", 0600, withMode("settings.json.tmp", 0666)},
        {"the mode of a replaced file of the owner's alone", AtomicWriteOptions::kKeepMode,
         withMode("settings.json", 0600)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        fs::permissions(dir.path(), fs::perms(0755));  // others may enter, as with the usual umask
        ASSERT_EQ(whyAnotherUserCannotReach(dir.path()), "");
        writeFile(dir / "public", "x");
        ::chmod((dir / "public").c_str(), 0644);
        ASSERT_TRUE(anotherUserOpens(dir / "public")) << "the test cannot tell a private file from another";

        const fs::path target = dir / "settings.json";
        c.arrange(target);
        AtomicFileWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(target, &error, AtomicWriteOptions{c.mode})) << error;
        EXPECT_EQ(modeOf(dir / "settings.json.tmp"), 0600u) << "before its first byte";
        EXPECT_FALSE(anotherUserOpens(dir / "settings.json.tmp"));
        ASSERT_TRUE(writer.write(R"({"api.token": "0123456789abcdef"})", &error));
        EXPECT_FALSE(anotherUserOpens(dir / "settings.json.tmp"));
        ASSERT_TRUE(writer.commit(&error)) << error;
        EXPECT_EQ(modeOf(target), 0600u);
        EXPECT_FALSE(anotherUserOpens(target));
    }
}

// Regression: a target that was a link became a plain file and its end kept the old bytes.
TEST(AtomicWriterLinkTest, ALinkedTargetIsWrittenThroughAndStaysALink) {
    TempDir dir;
    fs::create_directory(dir / "elsewhere");
    writeFile(dir / "elsewhere/real.json", "old");
    ::chmod((dir / "elsewhere/real.json").c_str(), 0600);
    fs::create_symlink(dir / "elsewhere/real.json", dir / "link.json");
    fs::create_symlink("link.json", dir / "chain.json");
    ASSERT_TRUE(writeFileAtomically(dir / "chain.json", "new", nullptr));
    EXPECT_TRUE(fs::is_symlink(dir / "chain.json"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.json"));
    EXPECT_EQ(readFile(dir / "elsewhere/real.json"), "new");
    EXPECT_EQ(modeOf(dir / "elsewhere/real.json"), 0600u);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "elsewhere/real.json.tmp")));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "chain.json.tmp")));
}

// ---- Two writers of one target.

// A save of writer w, number n: a header that gives the length, the body, and a closing
// line, so a file cut short or mixed from two saves is told from a whole one.
static std::string saveBytes(int writer, int number) {
    const std::size_t length = 1 + static_cast<std::size_t>((number * 7919 + writer * 104729) % 65536);
    std::string bytes = "writer " + std::to_string(writer) + " save " + std::to_string(number) + " length " +
                        std::to_string(length) + "\n";
    bytes.append(length, static_cast<char>('a' + (number + writer) % 26));
    bytes += "\nend\n";
    return bytes;
}

static bool isWholeSave(const std::string& bytes) {
    int writer = -1;
    int number = -1;
    std::size_t length = 0;
    if (std::sscanf(bytes.c_str(), "writer %d save %d length %zu", &writer, &number, &length) != 3) {
        return false;
    }
    return bytes == saveBytes(writer, number);
}

// Saves the target count times; after every rename the target must be a whole save. The
// exit code counts the saves that failed or left anything else, up to 100.
[[noreturn]] static void saveRepeatedly(const fs::path& target, int writer, int count) {
    int bad = 0;
    for (int i = 0; i < count; ++i) {
        std::string error;
        if (!writeFileAtomically(target, saveBytes(writer, i), &error)) {
            std::fprintf(stderr, "writer %d save %d failed: %s\n", writer, i, error.c_str());
            ++bad;
        } else if (!isWholeSave(readFile(target))) {
            std::fprintf(stderr, "writer %d save %d left a torn or empty file\n", writer, i);
            ++bad;
        }
    }
    std::_Exit(bad > 100 ? 100 : bad);
}

// Regression: two copies of the program saving one file shared the ".tmp" name, and each
// open removed the other's temporary file: a third of the saves failed and readers saw
// empty files. Bounded by its count of saves, not by time.
TEST(AtomicWriterTwoWritersTest, TwoProcessesSavingOneTargetAThousandTimesEachAlwaysLeaveAWholeFile) {
    TempDir dir;
    const fs::path target = dir / "settings.json";
    constexpr int kSaves = 1000;
    const auto started = std::chrono::steady_clock::now();
    pid_t children[2];
    for (int writer = 0; writer < 2; ++writer) {
        children[writer] = ::fork();
        ASSERT_GE(children[writer], 0);
        if (children[writer] == 0) {
            saveRepeatedly(target, writer, kSaves);
        }
    }
    for (int writer = 0; writer < 2; ++writer) {
        int status = 0;
        ASSERT_EQ(::waitpid(children[writer], &status, 0), children[writer]);
        ASSERT_TRUE(WIFEXITED(status)) << "writer " << writer;
        EXPECT_EQ(WEXITSTATUS(status), 0) << "saves of writer " << writer << " that failed or left a broken file";
    }
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::printf("two writers, %d saves each: %lld ms\n", kSaves, static_cast<long long>(took.count()));
    EXPECT_TRUE(isWholeSave(readFile(target)));
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "settings.json.tmp")));
}

TEST(AtomicWriterTwoWritersTest, AWriterWaitsForAnotherThatIsFillingTheTemporaryFile) {
    TempDir dir;
    const fs::path target = dir / "song";
    AtomicFileWriter first;
    ASSERT_TRUE(first.open(target, nullptr));
    ASSERT_TRUE(first.write("first, ", nullptr));
    bool secondSaved = false;
    std::thread second([&] { secondSaved = writeFileAtomically(target, "second", nullptr); });
    // Whatever the second does meanwhile, the first's file is not removed or cut.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(first.write("whole", nullptr));
    EXPECT_TRUE(first.commit(nullptr));
    second.join();
    EXPECT_TRUE(secondSaved);
    EXPECT_EQ(readFile(target), "second");  // the last rename wins
}

// Regression: a program that held the lock of "<target>.tmp" held every save of the target
// as long as it liked (the settings save at start waited 60 s, and the start with it).
TEST(AtomicWriterTwoWritersTest, AWriterGivesUpOnATemporaryFileAnotherProgramKeepsHoldingAndSaysSo) {
    TempDir dir;
    const fs::path target = dir / "settings.json";
    writeFile(target, "old");
    {
        const FileHeldElsewhere holder(dir / "settings.json.tmp");
        ASSERT_TRUE(holder.holding());
        std::string error;
        EXPECT_FALSE(writeFileAtomically(target, "new", &error));  // with the writer's own wait
        EXPECT_EQ(error, "cannot create " + (dir / "settings.json.tmp").string() + ": another program is writing it");
        AtomicFileWriter streaming;
        EXPECT_FALSE(streaming.open(target, nullptr,
                                    AtomicWriteOptions{AtomicWriteOptions::kKeepMode, std::chrono::milliseconds(50)}));
        EXPECT_EQ(readFile(target), "old");
        EXPECT_TRUE(fs::exists(dir / "settings.json.tmp"));  // not taken from under its holder
    }
    // Let go: its file is a leftover now, and the next save goes through.
    EXPECT_TRUE(writeFileAtomically(target, "new", nullptr));
    EXPECT_EQ(readFile(target), "new");
    EXPECT_FALSE(fs::exists(dir / "settings.json.tmp"));
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
    EXPECT_EQ(error, "cannot write " + (dir / "take.wav.tmp").string() + ": it is no longer open");
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
