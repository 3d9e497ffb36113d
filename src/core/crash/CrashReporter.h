#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::core {

class Logger;

// Leaves "crash-YYYYMMDD-HHMMSS.txt" (UTC) and a ".dmp" of the same name in the crash
// folder when the process dies of SIGSEGV, SIGBUS, SIGILL, SIGFPE or SIGABRT, at most
// one pair per process, then lets the process end by the same signal. Both files are
// created new, never opened over what exists: when another crash in the same second has
// taken the name, "-2", "-3", ... goes before the extension of both, so every crash
// keeps its own pair. A file that cannot be written whole (a full disk) is removed: a
// report that fails takes its dump with it, a dump that fails goes alone.
//
// The text report:
//   Ostrel crash report
//   ===================
//   version: <version>
//   reason:  exception 0x<signal number, 8 hex digits> at address 0x<instruction, 16 hex
//            digits>[ in <module file name> + 0x<offset from the module's base>]
//   action:  <the crashing thread's open actions joined by " > ", or "(none)">
//   recent steps (oldest first):
//     HH:MM:SS [category] message      (or "(none recorded)", or "(unavailable: ...)")
//
// The dump ("Ostrel crash dump", format 1; integers in the machine's byte order, which
// is little-endian on x86-64 and AArch64):
//   header, 32 bytes: the magic "OSTRDUMP", u32 format 1, u32 ELF machine (62 x86-64,
//     183 AArch64, 0 other), u32 process id, u32 thread id, i64 time of the crash in
//     100-ns ticks since 1970-01-01 UTC.
//   sections, each a u32 kind, a u32 zero, a u64 byte count and that many bytes:
//     1 signal: i32 signal number, i32 si_code, i32 si_errno, i32 zero, u64 fault
//       address (si_addr), u64 instruction address, u64 stack pointer.
//     2 registers: the general registers saved in the ucontext (x86-64: the 23 u64
//       gregs in <sys/ucontext.h> order; AArch64: x0 to x30, sp, pc, pstate).
//     3 memory map: the text of /proc/self/maps.
//     4 stack: u64 address of the first byte, then the crashing thread's stack from the
//       stack pointer upward, at most 1 MiB.
//   a closing section of kind 0 and count 0.
//
// Only the thread that calls install gets the alternate signal stack on which a stack
// overflow can still be reported; other threads' overflows end the process unreported.
namespace CrashReporter {

struct Config {
    std::filesystem::path crashFolder;
    std::string version;
    Logger* logger = nullptr;  // may be null: the report then has no recent steps
};

// Start-up, GUI thread, before other threads. Creates the folder (ignoring failure) and
// holds it open: reports go into that folder, never by its path again, and none are written
// when it could not be made (or is gone since). Makes the reports and dumps in it that an
// earlier version left open to others its user's alone (makeOldFilePrivate; each one
// skipped is a WARN to the logger), prepares everything the handler needs and installs it.
// Installing again replaces the folder, version and logger.
void install(const Config& config);

// The report's text for the calling thread's open actions. Tries the logger's lock once.
std::string reportText(std::string_view version, std::string_view reason, Logger* logger);

// Writes reportText for the installed version and logger into the installed folder,
// named by the current UTC second as the handler names it; returns the report's path.
// Not for signal handlers.
std::filesystem::path writeReport(std::string_view reason);

// Non-empty entries named "crash-*.txt" (case-sensitive), numbered ones included; 0 when
// the folder cannot be read.
int countReports(const std::filesystem::path& folder);

}  // namespace CrashReporter

}  // namespace ostrel::core
