#pragma once

#include <filesystem>

namespace ostrel::core {

// The temporary files being filled right now (an AtomicFileWriter enters each it holds),
// so that a close cut short can remove them and name the work lost. A fixed table that a
// signal handler walks with no allocation and no lock; a path too long for it, or one
// past its kSlots, is simply not entered.
namespace TemporaryFiles {

inline constexpr int kSlots = 64;

// Any thread. The slot to leave, or -1 when the path was not entered.
int enter(const std::filesystem::path& path) noexcept;

// Any thread; -1 does nothing.
void leave(int slot) noexcept;

// Calls visit with each entered path (zero-terminated). Safe in a signal handler; a slot
// that changes while it is read is left out.
void forEach(void (*visit)(const char* path, void* context), void* context) noexcept;

}  // namespace TemporaryFiles

}  // namespace ostrel::core
