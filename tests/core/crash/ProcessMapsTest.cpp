#include "core/crash/ProcessMaps.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

using test::TempDir;
using test::writeFile;

__attribute__((noinline)) int aFunctionOfThisBinary(int x) { return x * 3 + 1; }

std::uintptr_t addressOf(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

std::vector<std::string> linesOf(MapsReader& maps) {
    std::vector<std::string> lines;
    std::string_view line;
    while (maps.next(line)) {
        lines.emplace_back(line);
    }
    return lines;
}

// The whole line set of a real /proc/self/maps, each form in it once: a program's file,
// a library's, with a path holding a space, the heap, an anonymous mapping, the stack, a
// deleted file, the vdso and the vsyscall page.
TEST(ProcessMapsTest, EachFormOfARealMapsLineIsParsed) {
    struct Case {
        std::string line;
        std::uintptr_t start, end, offset;
        bool readable;
        std::string path;
    };
    const std::vector<Case> cases = {
        {"55d5c3a8e000-55d5c3a91000 r--p 00000000 08:01 1234567                    /usr/bin/cat", 0x55d5c3a8e000,
         0x55d5c3a91000, 0, true, "/usr/bin/cat"},
        {"55d5c3a91000-55d5c3a95000 r-xp 00003000 08:01 1234567                    /usr/bin/cat", 0x55d5c3a91000,
         0x55d5c3a95000, 0x3000, true, "/usr/bin/cat"},
        {"7f1c2a428000-7f1c2a5bd000 r-xp 00028000 fd:00 9437198 /usr/lib/x86_64-linux-gnu/libc.so.6", 0x7f1c2a428000,
         0x7f1c2a5bd000, 0x28000, true, "/usr/lib/x86_64-linux-gnu/libc.so.6"},
        {"7f1c2a5bd000-7f1c2a615000 ---p 001bd000 fd:00 9437198 /usr/lib/x86_64-linux-gnu/libc.so.6",
         0x7f1c2a5bd000, 0x7f1c2a615000, 0x1bd000, false, "/usr/lib/x86_64-linux-gnu/libc.so.6"},
        {"7f1c2a700000-7f1c2a701000 rw-p 00002000 08:01 77 /home/me/My Songs/libdrums.so", 0x7f1c2a700000,
         0x7f1c2a701000, 0x2000, true, "/home/me/My Songs/libdrums.so"},
        {"55d5c4f0e000-55d5c4f2f000 rw-p 00000000 00:00 0                          [heap]", 0x55d5c4f0e000,
         0x55d5c4f2f000, 0, true, "[heap]"},
        {"7f1c2a615000-7f1c2a619000 rw-p 00000000 00:00 0 ", 0x7f1c2a615000, 0x7f1c2a619000, 0, true, ""},
        {"7f1c2a619000-7f1c2a61a000 rw-p 00000000 00:00 0", 0x7f1c2a619000, 0x7f1c2a61a000, 0, true, ""},
        {"7ffd4b1f2000-7ffd4b213000 rw-p 00000000 00:00 0                          [stack]", 0x7ffd4b1f2000,
         0x7ffd4b213000, 0, true, "[stack]"},
        {"7f1c2a800000-7f1c2a900000 rw-s 00000000 00:01 4096 /memfd:ring (deleted)", 0x7f1c2a800000, 0x7f1c2a900000,
         0, true, "/memfd:ring (deleted)"},
        {"7ffd4b3b9000-7ffd4b3bb000 r-xp 00000000 00:00 0                          [vdso]", 0x7ffd4b3b9000,
         0x7ffd4b3bb000, 0, true, "[vdso]"},
        {"ffffffffff600000-ffffffffff601000 --xp 00000000 00:00 0                  [vsyscall]", 0xffffffffff600000,
         0xffffffffff601000, 0, false, "[vsyscall]"},
    };
    for (const Case& c : cases) {
        MapsEntry entry;
        ASSERT_TRUE(parseMapsLine(c.line, entry)) << c.line;
        EXPECT_EQ(entry.start, c.start) << c.line;
        EXPECT_EQ(entry.end, c.end) << c.line;
        EXPECT_EQ(entry.offset, c.offset) << c.line;
        EXPECT_EQ(entry.readable, c.readable) << c.line;
        EXPECT_EQ(entry.path, c.path) << c.line;
    }
}

TEST(ProcessMapsTest, LinesNotOfTheMapsFormAreRefused) {
    const std::vector<std::string> refused = {
        "",
        "hello",
        "1000",                           // no end
        "1000 2000 r--p 0 0:0 0",         // no dash
        "1000-",                          // no end after the dash
        "1000-2000",                      // no permissions
        "1000-2000 r-",                   // permissions cut short
        "1000-2000 r--p zz 00:00 0 /x",   // the offset is no number
        "ABC000-ABD000 r--p 0 0:0 0 /x",  // the kernel writes lower-case hex
    };
    for (const std::string& line : refused) {
        MapsEntry entry;
        EXPECT_FALSE(parseMapsLine(line, entry)) << line;
    }
}

// A file of the maps form read back line by line and whole: lines without their line
// feed, a last line without one, an empty line, a line too long for the buffer cut to it
// with the next one intact; chunks that add up to the file.
TEST(ProcessMapsTest, TheReaderGivesLinesAndChunksOfARealFile) {
    TempDir dir;
    const std::string longPath = "/" + std::string(kMaxPath + 500, 'p');
    const std::string text = "1000-2000 r--p 00000000 08:01 1 /a\n\n3000-4000 rw-p 00000000 00:00 0 " + longPath +
                             "\n5000-6000 r-xp 00001000 08:01 2 /b";
    writeFile(dir / "maps", text);

    MapsReader maps((dir / "maps").c_str());
    const std::vector<std::string> lines = linesOf(maps);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "1000-2000 r--p 00000000 08:01 1 /a");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].size(), kMaxPath + 128);
    EXPECT_EQ(lines[2], text.substr(lines[0].size() + 2, kMaxPath + 128));
    EXPECT_EQ(lines[3], "5000-6000 r-xp 00001000 08:01 2 /b");

    std::string big;
    for (int i = 0; big.size() < 3 * 4096; ++i) {
        big += std::to_string(i) + "000-" + std::to_string(i) + "fff r--p 00000000 00:00 0\n";
    }
    writeFile(dir / "big", big);
    MapsReader chunks((dir / "big").c_str());
    std::string copied;
    std::string_view chunk;
    int count = 0;
    while (chunks.nextChunk(chunk)) {
        copied.append(chunk);
        ++count;
    }
    EXPECT_EQ(copied, big);
    EXPECT_GE(count, 3);

    MapsReader missing((dir / "no such file").c_str());
    std::string_view nothing;
    EXPECT_FALSE(missing.next(nothing));
    EXPECT_FALSE(missing.nextChunk(nothing));
}

// The process's own map: every line parses, and the mapping of this binary's code is in it.
TEST(ProcessMapsTest, TheProcessOwnMapParsesAndHoldsThisBinary) {
    MapsReader maps;
    const std::vector<std::string> lines = linesOf(maps);
    ASSERT_FALSE(lines.empty());
    const std::uintptr_t code = addressOf(reinterpret_cast<const void*>(&aFunctionOfThisBinary));
    bool found = false;
    for (const std::string& line : lines) {
        MapsEntry entry;
        ASSERT_TRUE(parseMapsLine(line, entry)) << line;
        EXPECT_LT(entry.start, entry.end) << line;
        if (entry.start <= code && code < entry.end) {
            found = true;
            EXPECT_TRUE(entry.path.ends_with("/core_tests")) << line;
        }
    }
    EXPECT_TRUE(found);
}

// The base of this binary: the start of its mapping at offset 0, as /proc/self/maps read
// with the standard library shows it.
std::uintptr_t baseOfThisBinary() {
    std::ifstream in("/proc/self/maps");
    for (std::string line; std::getline(in, line);) {
        MapsEntry entry;
        if (parseMapsLine(line, entry) && entry.offset == 0 && entry.path.ends_with("/core_tests")) {
            return entry.start;
        }
    }
    return 0;
}

TEST(ProcessMapsTest, AnAddressInThisBinaryIsFoundWithItsFileNameAndBase) {
    const std::uintptr_t code = addressOf(reinterpret_cast<const void*>(&aFunctionOfThisBinary));
    ModuleHit hit;
    ASSERT_TRUE(findModule(code, hit));
    EXPECT_EQ(hit.name.view(), "core_tests");
    EXPECT_EQ(hit.base, baseOfThisBinary());
    EXPECT_LE(hit.base, code);

    const auto heap = std::make_unique<char[]>(1 << 20);
    const int local = aFunctionOfThisBinary(1);
    struct Case {
        const char* what;
        std::uintptr_t address;
    };
    for (const Case& c : {Case{"the heap", addressOf(heap.get())}, Case{"the stack", addressOf(&local)},
                          Case{"nothing", 4096}}) {
        ModuleHit none;
        EXPECT_FALSE(findModule(c.address, none)) << c.what;
        EXPECT_EQ(none.name.used, 0u) << c.what;
    }
}

TEST(ProcessMapsTest, TheStackIsFoundFromAnAddressInItOrJustBelowIt) {
    const int local = aFunctionOfThisBinary(2);
    const std::uintptr_t sp = addressOf(&local);
    std::uintptr_t from = 0;
    std::uintptr_t to = 0;
    ASSERT_TRUE(findStack(sp, 1024 * 1024, from, to));
    EXPECT_EQ(from, sp);
    EXPECT_GT(to, sp);
    EXPECT_LE(to - from, 1024u * 1024u);
    ASSERT_TRUE(findStack(sp, 16, from, to));
    EXPECT_EQ(to, sp + 16) << "cut to the most asked for";

    // A guard page below readable memory, as below a thread's stack: what follows is taken.
    const long page = ::sysconf(_SC_PAGESIZE);
    void* memory = ::mmap(nullptr, static_cast<std::size_t>(2 * page), PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    ASSERT_EQ(::mprotect(memory, static_cast<std::size_t>(page), PROT_NONE), 0);
    const std::uintptr_t guard = addressOf(memory);
    ASSERT_TRUE(findStack(guard + 64, 1024 * 1024, from, to));
    EXPECT_EQ(from, guard + static_cast<std::uintptr_t>(page));
    EXPECT_GE(to, from + static_cast<std::uintptr_t>(page));
    ::munmap(memory, static_cast<std::size_t>(2 * page));

    EXPECT_FALSE(findStack(4096, 1024 * 1024, from, to)) << "nothing readable within 64 KiB above";
}

}  // namespace
}  // namespace ostrel::core
