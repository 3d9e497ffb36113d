#include "core/crash/SignalSafeOut.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <limits>
#include <string>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

using test::readFile;
using test::TempDir;

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(SignalSafeOutTest, NumbersAreWrittenInTheirBaseWithLeadingZerosUpToTheMinimum) {
    struct Case {
        std::uint64_t value;
        int minDigits;
        unsigned base;
        std::string text;
    };
    const std::vector<Case> cases = {
        {0, 1, 10, "0"},
        {0, 0, 10, "0"},  // zero still has its digit
        {0, 4, 10, "0000"},
        {7, 2, 10, "07"},
        {59, 2, 10, "59"},
        {12345, 2, 10, "12345"},  // the minimum never cuts
        {2026, 4, 10, "2026"},
        {kMax, 1, 10, "18446744073709551615"},
        {kMax, 22, 10, "0018446744073709551615"},
        {0, 8, 16, "00000000"},
        {11, 8, 16, "0000000B"},  // upper-case digits
        {255, 1, 16, "FF"},
        {0xDEADBEEF, 16, 16, "00000000DEADBEEF"},
        {kMax, 16, 16, "FFFFFFFFFFFFFFFF"},
        {kMax, 1, 16, "FFFFFFFFFFFFFFFF"},
    };
    for (const Case& c : cases) {
        std::string text;
        StringOut out{text};
        putUnsigned(out, c.value, c.minDigits, c.base);
        EXPECT_EQ(text, c.text) << c.value << " base " << c.base;

        FixedOut<32> fixed;
        if (c.base == 16) {
            putHex(fixed, c.value, c.minDigits);
        } else {
            putDecimal(fixed, c.value, c.minDigits);
        }
        EXPECT_EQ(fixed.view(), c.text) << "the fixed buffer gives other text";
    }
}

TEST(SignalSafeOutTest, AFixedBufferKeepsWhatFitsAndDropsTheRest) {
    FixedOut<8> out;
    out.put("abcdef");
    EXPECT_EQ(out.view(), "abcdef");
    out.put("ghij");
    EXPECT_EQ(out.view(), "abcdefgh");
    putDecimal(out, 12345, 1);
    EXPECT_EQ(out.view(), "abcdefgh");
    EXPECT_EQ(out.used, 8u);
    out.used = 0;  // as the crash handler starts a buffer over
    putHex(out, 0xABC, 4);
    EXPECT_EQ(out.view(), "0ABC");
}

// A file written through the buffer holds every byte in order, across many refills of the
// 8 KiB buffer, with bytes passed straight to the file after a flush counted too.
TEST(SignalSafeOutTest, TheFileOutputWritesEveryByteInOrderAndCountsThem) {
    TempDir dir;
    const auto path = dir / "out.bin";
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    static FdOut out;  // 8 KiB of buffer: kept off the test's stack, as the handler keeps it
    out.start(fd);

    std::string expected;
    for (int i = 0; i < 3000; ++i) {
        const std::string line = "line " + std::to_string(i) + "\n";
        out.put(line);
        expected += line;
    }
    const std::uint32_t word = 0x01020304;
    out.putValue(word);
    expected.append(reinterpret_cast<const char*>(&word), sizeof word);
    const std::string big(20000, 'x');
    out.putBytes(big.data(), big.size());
    expected += big;
    EXPECT_EQ(out.total(), expected.size());

    out.flush();
    const std::string direct = "written past the buffer";
    ASSERT_EQ(rawWrite(fd, direct.data(), direct.size()), static_cast<ssize_t>(direct.size()));
    out.putDirect(direct.size());
    expected += direct;
    out.put("tail");
    expected += "tail";
    out.flush();
    EXPECT_EQ(out.total(), expected.size());
    ::close(fd);
    EXPECT_EQ(readFile(path), expected);

    out.start(-1);
    EXPECT_EQ(out.total(), 0u) << "start begins a new count";
}

}  // namespace
}  // namespace ostrel::core
