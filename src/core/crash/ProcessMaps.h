#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/crash/SignalSafeOut.h"

namespace ostrel::core {

// The process's memory map, /proc/self/maps, read with open(2) and read(2) only into
// fixed buffers: safe in a signal handler, as the crash reporter needs it.

// The longest path the crash reporter handles, in bytes.
inline constexpr std::size_t kMaxPath = 4096;

// Reads a maps file line by line or in chunks.
class MapsReader {
public:
    // /proc/self/maps.
    MapsReader();
    // Another file of the same form.
    explicit MapsReader(const char* path);
    ~MapsReader();
    MapsReader(const MapsReader&) = delete;
    MapsReader& operator=(const MapsReader&) = delete;

    // The next line without its line feed, cut to the line buffer (kMaxPath + 128 bytes);
    // false at the end. A file that cannot be opened reads as empty.
    bool next(std::string_view& line);

    // The unread bytes as they come, for a copy of the whole file; false at the end.
    bool nextChunk(std::string_view& chunk);

private:
    // True when unread bytes are buffered, reading more when none are.
    bool fill();

    int fd_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    char buffer_[4096];
    char line_[kMaxPath + 128];
};

// One line of the map; path points into the line.
struct MapsEntry {
    std::uintptr_t start = 0;
    std::uintptr_t end = 0;
    std::uintptr_t offset = 0;
    bool readable = false;
    std::string_view path;
};

// "start-end perms offset dev inode   path", the numbers in lower-case hex. False, with
// entry partly filled, for a line not of that form.
bool parseMapsLine(std::string_view line, MapsEntry& entry);

// A file mapped into the process: the last part of its path, cut to 256 bytes, and its
// load base.
struct ModuleHit {
    FixedOut<256> name;
    std::uintptr_t base = 0;
};

// The file mapped at address and its load base (the start of its mapping at offset 0),
// found in /proc/self/maps rather than with dladdr, which takes the loader's lock. Adds to
// hit.name, which the caller empties. False for anonymous memory, the stack, the heap, the
// vdso or an address mapped to nothing. One thread at a time: it keeps static buffers.
bool findModule(std::uintptr_t address, ModuleHit& hit);

// The readable memory from sp up to the end of the mapping that holds it, at most maxBytes.
// After an overflow sp may sit in the guard page just below the stack: the stack then
// starts at the next readable mapping, if that is at most 64 KiB above.
bool findStack(std::uintptr_t sp, std::size_t maxBytes, std::uintptr_t& from, std::uintptr_t& to);

}  // namespace ostrel::core
