#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>

#include "core/crash/SignalSafeOut.h"

namespace ostrel::core {

// The crash dump (CrashReporter.h gives its layout). Safe in a signal handler: no
// allocation, no lock, write(2) and pwrite(2) only.

// The instruction and stack pointers saved in a ucontext_t; both 0 for a null context or
// an unknown machine.
void registersOf(const void* context, std::uintptr_t& pc, std::uintptr_t& sp);

// At most this much of the crashing thread's stack is dumped.
inline constexpr std::size_t kMaxStackDump = 1024 * 1024;

// Writes the whole dump to fd through out and closes fd; false when a write went short,
// so the file is not a whole dump. info and context may be null:
// the signal section then holds zeros for them, and there are no registers and no stack.
// ticks: the time of the crash, 100-ns ticks since 1970-01-01 UTC.
bool writeDump(FdOut& out, int fd, int signal, const siginfo_t* info, const void* context, std::int64_t ticks);

}  // namespace ostrel::core
