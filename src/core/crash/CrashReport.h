#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/crash/ProcessMaps.h"
#include "core/crash/SignalSafeOut.h"

namespace ostrel::core {

class Logger;
struct UtcTime;

// The crash report's text and the names of its files (CrashReporter.h gives the form).
// Everything here is safe in a signal handler when Out is: it allocates nothing, and takes
// no lock but the logger's, tried once. Out is StringOut, FdOut, ReasonOut or PathOut.

using ReasonOut = FixedOut<512>;
// A zero-terminated path in the crash folder.
using PathOut = FixedOut<kMaxPath + 64>;

// "exception 0x<code, 8 hex digits> at address 0x<address, 16 hex digits>", then, unless
// the address is 0, " in <file> + 0x<offset>" for the file mapped there. One thread at a
// time: it keeps static buffers.
template <typename Out>
void putReason(Out& out, std::uint64_t code, std::uintptr_t address);

// The whole report, its steps from the logger (null: none to ask).
template <typename Out>
void putReport(Out& out, std::string_view version, std::string_view reason, std::span<const std::string> actions,
               Logger* logger);

// "crash-YYYYMMDD-HHMMSS" followed by the extension; from the second crash within the same
// second on (number 2, 3, ...), "-<number>" before it.
template <typename Out>
void putReportName(Out& out, const UtcTime& t, unsigned number, std::string_view extension);

// Crashes in the same second are told apart by number; beyond this many the crash
// folder is taken to be full of someone else's files.
inline constexpr unsigned kMaxReportsPerSecond = 1000;

// Whether the dump is made with the report, or its name only kept free (a report written
// outside a crash has no dump, but must not take a crash's number).
enum class DumpFile { Create, KeepNameFree };

// Creates the report and its dump in the folder held open at folderFd, whose path is folder
// ("" and AT_FDCWD for the working folder), under the first number whose two names are both
// free, so that a report and its dump always share a name; never opens what is already
// there, be it another crash's file or a planted link. The paths are left zero-terminated.
// Either descriptor is -1 when that file could not be made; both are when no number was
// free, or folderFd is -1.
void createReportPair(int folderFd, std::string_view folder, const UtcTime& t, PathOut& reportPath, PathOut& dumpPath,
                      int& reportFd, int& dumpFd, DumpFile dump);

// Where a file's own name starts in a path createReportPair made in folder.
inline std::size_t reportNameOffset(std::string_view folder) { return folder.empty() ? 0 : folder.size() + 1; }

}  // namespace ostrel::core
