#pragma once

#include <filesystem>

namespace ostrel::core {

// The work a close cut short would lose, so that it can remove what is half written and
// name it: the temporary files being filled right now (an AtomicFileWriter enters each it
// holds), and exports still rendering in memory, whose file is not made yet. A fixed table
// that a signal handler walks with no allocation and no lock; a path too long for it, or
// one past its kSlots, is simply not entered.
namespace TemporaryFiles {

inline constexpr int kSlots = 64;

enum class Kind {
    File,    // a temporary file being filled: a cut close removes it
    Export,  // the file an export will write once it has rendered: only named
};

// Any thread. The slot to leave, or -1 when the path was not entered.
int enter(const std::filesystem::path& path, Kind kind = Kind::File) noexcept;

// Any thread; -1 does nothing.
void leave(int slot) noexcept;

// Calls visit with each entered path (zero-terminated) and its kind. Safe in a signal
// handler; a slot that changes while it is read is left out.
void forEach(void (*visit)(const char* path, Kind kind, void* context), void* context) noexcept;

// Entered for the life of the object.
class Entry {
public:
    Entry(const std::filesystem::path& path, Kind kind) noexcept : slot_(enter(path, kind)) {}
    ~Entry() { leave(slot_); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

private:
    int slot_;
};

}  // namespace TemporaryFiles

}  // namespace ostrel::core
