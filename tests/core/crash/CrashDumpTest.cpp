#include "core/crash/CrashDump.h"

#include "core/crash/ProcessMaps.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <string>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

using test::readFile;
using test::TempDir;

template <typename T>
T valueAt(const std::string& bytes, std::size_t at) {
    T value{};
    if (at + sizeof value <= bytes.size()) {
        std::memcpy(&value, bytes.data() + at, sizeof value);
    }
    return value;
}

// A dump walked along its documented layout: the section kinds in order, and each kind's bytes.
struct Dump {
    std::string bytes;
    std::vector<std::uint32_t> kinds;
    std::map<std::uint32_t, std::string> sections;
    bool exact = false;  // the sections end where the file does
};

Dump walk(const std::string& bytes) {
    Dump dump{bytes, {}, {}, false};
    std::size_t at = 32;
    while (at + 16 <= bytes.size() && (dump.kinds.empty() || dump.kinds.back() != 0)) {
        dump.kinds.push_back(valueAt<std::uint32_t>(bytes, at));
        dump.sections[dump.kinds.back()] = bytes.substr(at + 16, valueAt<std::uint64_t>(bytes, at + 8));
        at += 16 + dump.sections[dump.kinds.back()].size();
    }
    dump.exact = at == bytes.size();
    return dump;
}

int createFile(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

FdOut& scratch() {
    static FdOut out;  // as big as the handler's, and as static
    return out;
}

TEST(CrashDumpTest, RegistersOfNoContextAreZeroAndOfARealOneNameThisStack) {
    std::uintptr_t pc = 1;
    std::uintptr_t sp = 1;
    registersOf(nullptr, pc, sp);
    EXPECT_EQ(pc, 0u);
    EXPECT_EQ(sp, 0u);

    ucontext_t context{};
    ASSERT_EQ(::getcontext(&context), 0);
    registersOf(&context, pc, sp);
    EXPECT_NE(pc, 0u);
    // The stack pointer lies in readable memory: the stack the dump copies from there.
    std::uintptr_t from = 0;
    std::uintptr_t to = 0;
    EXPECT_TRUE(findStack(sp, kMaxStackDump, from, to));
    EXPECT_EQ(from, sp);
}

// Without a context: the header, the signal section with zeros where the context would
// give the pointers, the map, and no registers or stack.
TEST(CrashDumpTest, ADumpWithoutAContextHoldsTheHeaderTheSignalAndTheMap) {
    TempDir dir;
    const int fd = createFile(dir / "no-context.dmp");
    ASSERT_GE(fd, 0);
    siginfo_t info{};
    info.si_signo = SIGSEGV;
    info.si_code = SEGV_MAPERR;
    info.si_errno = 0;
    info.si_addr = reinterpret_cast<void*>(0x1234);
    writeDump(scratch(), fd, SIGSEGV, &info, nullptr, 17);
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1) << "the dump closes its file";

    const Dump dump = walk(readFile(dir / "no-context.dmp"));
    EXPECT_EQ(dump.bytes.substr(0, 12), std::string("OSTRDUMP\1\0\0\0", 12));
#if defined(__x86_64__)
    EXPECT_EQ(valueAt<std::uint32_t>(dump.bytes, 12), 62u);
#endif
    EXPECT_EQ(valueAt<std::uint32_t>(dump.bytes, 16), static_cast<std::uint32_t>(::getpid()));
    EXPECT_EQ(valueAt<std::uint32_t>(dump.bytes, 20), static_cast<std::uint32_t>(::gettid()));
    EXPECT_EQ(valueAt<std::int64_t>(dump.bytes, 24), 17);
    EXPECT_TRUE(dump.exact);
    EXPECT_EQ(dump.kinds, (std::vector<std::uint32_t>{1, 3, 0}));

    const std::string& signal = dump.sections.at(1);
    ASSERT_EQ(signal.size(), 40u);
    EXPECT_EQ(valueAt<std::int32_t>(signal, 0), SIGSEGV);
    EXPECT_EQ(valueAt<std::int32_t>(signal, 4), SEGV_MAPERR);
    EXPECT_EQ(valueAt<std::int32_t>(signal, 8), 0);
    EXPECT_EQ(valueAt<std::uint64_t>(signal, 16), 0x1234u);
    EXPECT_EQ(valueAt<std::uint64_t>(signal, 24), 0u) << "no instruction pointer without a context";
    EXPECT_EQ(valueAt<std::uint64_t>(signal, 32), 0u) << "no stack pointer without a context";

    // The map is the process's own, line for line.
    const std::string& map = dump.sections.at(3);
    ASSERT_FALSE(map.empty());
    EXPECT_EQ(map.back(), '\n');
    EXPECT_NE(map.find("/core_tests\n"), std::string::npos);
    std::size_t lines = 0;
    for (std::size_t at = 0; at < map.size();) {
        const std::size_t end = map.find('\n', at);
        MapsEntry entry;
        EXPECT_TRUE(parseMapsLine(std::string_view(map).substr(at, end - at), entry));
        at = end + 1;
        ++lines;
    }
    EXPECT_GT(lines, 3u);
}

// With a context: its registers, and the stack from its stack pointer upward.
TEST(CrashDumpTest, ADumpWithAContextHoldsItsRegistersAndTheStackFromItsPointer) {
    TempDir dir;
    const int fd = createFile(dir / "context.dmp");
    ASSERT_GE(fd, 0);
    ucontext_t context{};
    ASSERT_EQ(::getcontext(&context), 0);
    std::uintptr_t pc = 0;
    std::uintptr_t sp = 0;
    registersOf(&context, pc, sp);
    writeDump(scratch(), fd, SIGABRT, nullptr, &context, 0);

    const Dump dump = walk(readFile(dir / "context.dmp"));
    EXPECT_TRUE(dump.exact);
    EXPECT_EQ(dump.kinds, (std::vector<std::uint32_t>{1, 2, 3, 4, 0}));
    const std::string& signal = dump.sections.at(1);
    EXPECT_EQ(valueAt<std::int32_t>(signal, 0), SIGABRT);
    EXPECT_EQ(valueAt<std::int32_t>(signal, 4), 0) << "no siginfo: zeros";
    EXPECT_EQ(valueAt<std::uint64_t>(signal, 16), 0u);
    EXPECT_EQ(valueAt<std::uint64_t>(signal, 24), pc);
    EXPECT_EQ(valueAt<std::uint64_t>(signal, 32), sp);
#if defined(__x86_64__)
    EXPECT_EQ(dump.sections.at(2), std::string(reinterpret_cast<const char*>(context.uc_mcontext.gregs),
                                               sizeof context.uc_mcontext.gregs));
#endif
    const std::string& stack = dump.sections.at(4);
    ASSERT_GT(stack.size(), 8u);
    EXPECT_LE(stack.size(), 8u + kMaxStackDump);
    EXPECT_EQ(valueAt<std::uint64_t>(stack, 0), sp);
}

}  // namespace
}  // namespace ostrel::core
