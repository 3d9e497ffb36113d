#include "core/crash/CrashReport.h"

#include "core/crash/ProcessMaps.h"
#include "core/files/UniqueFd.h"
#include "core/log/UtcTime.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::writeFile;

__attribute__((noinline)) int aFunctionOfThisBinary(int x) { return x * 5 + 2; }

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CrashReportTest, ReportNamesCarryTheSecondAndFromTheSecondCrashOnItsNumber) {
    struct Case {
        UtcTime time;
        unsigned number;
        std::string extension;
        std::string name;
    };
    const std::vector<Case> cases = {
        {{2026, 12, 7, 21, 5, 9}, 1, ".txt", "crash-20261207-210509.txt"},
        {{2026, 12, 7, 21, 5, 9}, 2, ".dmp", "crash-20261207-210509-2.dmp"},
        {{2026, 1, 2, 3, 4, 5}, 1000, ".txt", "crash-20260102-030405-1000.txt"},
        {{1970, 1, 1, 0, 0, 0}, 0, "", "crash-19700101-000000"},
        {{7, 1, 1, 0, 0, 0}, 1, ".txt", "crash-00070101-000000.txt"},
        {{-44, 3, 15, 12, 0, 0}, 1, ".txt", "crash-00000315-120000.txt"},  // no year before 0
        {{12026, 1, 1, 0, 0, 0}, 1, ".txt", "crash-120260101-000000.txt"},
    };
    for (const Case& c : cases) {
        std::string text;
        StringOut out{text};
        putReportName(out, c.time, c.number, c.extension);
        EXPECT_EQ(text, c.name);
    }
}

TEST(CrashReportTest, TheReasonGivesTheCodeAndAddressAndTheFileMappedThere) {
    const auto code = reinterpret_cast<std::uintptr_t>(&aFunctionOfThisBinary);
    ModuleHit hit;
    ASSERT_TRUE(findModule(code, hit));
    std::string offset;
    StringOut offsetOut{offset};
    putHex(offsetOut, code - hit.base, 1);

    std::string text;
    StringOut out{text};
    putReason(out, 11, code);
    EXPECT_THAT(text, ::testing::MatchesRegex("exception 0x0000000B at address 0x[0-9A-F]{16} in core_tests \\+ 0x" +
                                              offset));

    ReasonOut fixed;
    putReason(fixed, 6, 0);
    EXPECT_EQ(fixed.view(), "exception 0x00000006 at address 0x0000000000000000") << "no file for address 0";
}

// Each pair takes the first number whose report and dump names are both free; a dump left
// alone holds its number, and the report taken for it is given back.
TEST(CrashReportTest, PairsTakeTheFirstNumberWhoseTwoNamesAreFree) {
    TempDir dir;
    const std::string folder = dir.path().string();
    const UtcTime t{2026, 12, 7, 21, 5, 9};
    static PathOut reportPath;
    static PathOut dumpPath;
    int reportFd = -1;
    int dumpFd = -1;
    const UniqueFd held(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(held);

    createReportPair(held.get(), folder, t, reportPath, dumpPath, reportFd, dumpFd, DumpFile::Create);
    ASSERT_GE(reportFd, 0);
    ASSERT_GE(dumpFd, 0);
    EXPECT_EQ(std::string(reportPath.data), folder + "/crash-20261207-210509.txt");
    EXPECT_EQ(std::string(dumpPath.data), folder + "/crash-20261207-210509.dmp");
    ::close(reportFd);
    ::close(dumpFd);

    writeFile(dir / "crash-20261207-210509-2.dmp", "a dump whose report was lost");
    createReportPair(held.get(), folder, t, reportPath, dumpPath, reportFd, dumpFd, DumpFile::Create);
    ASSERT_GE(reportFd, 0);
    ASSERT_GE(dumpFd, 0);
    EXPECT_EQ(std::string(reportPath.data), folder + "/crash-20261207-210509-3.txt");
    ::close(reportFd);
    ::close(dumpFd);

    // A report written outside a crash keeps the dump's name free and makes no dump.
    writeFile(dir / "crash-20261207-210509-4.dmp", "");
    createReportPair(held.get(), folder, t, reportPath, dumpPath, reportFd, dumpFd, DumpFile::KeepNameFree);
    ASSERT_GE(reportFd, 0);
    EXPECT_EQ(dumpFd, -1);
    EXPECT_EQ(std::string(reportPath.data), folder + "/crash-20261207-210509-5.txt");
    EXPECT_EQ(std::string(dumpPath.data), folder + "/crash-20261207-210509-5.dmp");
    ::close(reportFd);

    EXPECT_THAT(namesIn(dir.path()),
                ::testing::ElementsAre("crash-20261207-210509-2.dmp", "crash-20261207-210509-3.dmp",
                                       "crash-20261207-210509-3.txt", "crash-20261207-210509-4.dmp",
                                       "crash-20261207-210509-5.txt", "crash-20261207-210509.dmp",
                                       "crash-20261207-210509.txt"));

    createReportPair(-1, dir.path().string() + "/missing", t, reportPath, dumpPath, reportFd, dumpFd, DumpFile::Create);
    EXPECT_EQ(reportFd, -1) << "a folder that is not there";
    EXPECT_EQ(dumpFd, -1);
}

}  // namespace
}  // namespace ostrel::core
