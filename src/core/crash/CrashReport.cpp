#include "core/crash/CrashReport.h"

#include "core/files/FolderLock.h"
#include "core/log/Logger.h"
#include "core/log/UtcTime.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::core {

namespace {

constexpr std::string_view kUnavailableLine = "  (unavailable: the logger was busy at the time of the crash)\n";

// Never opens what is already there: another crash's report, or a link planted in the folder;
// nor makes a file in a data folder put where the locked one was. By its name in the folder
// held open, never by a path resolved anew.
int createFile(int folderFd, const char* path, std::size_t nameAt) {
    if (heldFolderReplacedUnder(path)) {
        errno = EACCES;
        return -1;
    }
    // The user's alone: a dump holds raw memory and the environment.
    return ::openat(folderFd, path + nameAt, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

// A zero-terminated path in the crash folder for open(2).
void putReportPath(PathOut& out, std::string_view folder, const UtcTime& t, unsigned number,
                   std::string_view extension) {
    out.used = 0;
    if (!folder.empty()) {
        out.put(folder);
        out.put("/");
    }
    putReportName(out, t, number, extension);
    out.put(std::string_view("", 1));
}

}  // namespace

template <typename Out>
void putReason(Out& out, std::uint64_t code, std::uintptr_t address) {
    out.put("exception 0x");
    putHex(out, code, 8);
    out.put(" at address 0x");
    putHex(out, address, 16);
    if (address == 0) {
        return;
    }
    static ModuleHit hit;
    hit.name.used = 0;
    if (findModule(address, hit)) {
        out.put(" in ");
        out.put(hit.name.view());
        out.put(" + 0x");
        putHex(out, address - hit.base, 1);
    }
}

template <typename Out>
void putReport(Out& out, std::string_view version, std::string_view reason, std::span<const std::string> actions,
               Logger* logger) {
    out.put("Ostrel crash report\n===================\nversion: ");
    out.put(version);
    out.put("\nreason:  ");
    out.put(reason);
    out.put("\naction:  ");
    if (actions.empty()) {
        out.put("(none)");
    }
    for (std::size_t i = 0; i < actions.size(); ++i) {
        if (i > 0) {
            out.put(" > ");
        }
        out.put(actions[i]);
    }
    out.put("\nrecent steps (oldest first):\n");
    std::size_t steps = 0;
    const bool copied = logger != nullptr && logger->tryVisitRecentSteps([&](const LogStep& step) {
        const UtcTime t = utcTimeFromTicks(step.time);
        out.put("  ");
        putClock(out, t);
        out.put(" [");
        out.put(step.category);
        out.put("] ");
        out.put(step.message);
        out.put("\n");
        ++steps;
    });
    if (!copied) {
        out.put(kUnavailableLine);
    } else if (steps == 0) {
        out.put("  (none recorded)\n");
    }
}

template <typename Out>
void putReportName(Out& out, const UtcTime& t, unsigned number, std::string_view extension) {
    out.put("crash-");
    putDecimal(out, static_cast<std::uint64_t>(std::max<std::int64_t>(t.year, 0)), 4);
    putDecimal(out, static_cast<std::uint64_t>(t.month), 2);
    putDecimal(out, static_cast<std::uint64_t>(t.day), 2);
    out.put("-");
    putDecimal(out, static_cast<std::uint64_t>(t.hour), 2);
    putDecimal(out, static_cast<std::uint64_t>(t.minute), 2);
    putDecimal(out, static_cast<std::uint64_t>(t.second), 2);
    if (number > 1) {
        out.put("-");
        putDecimal(out, number, 1);
    }
    out.put(extension);
}

void createReportPair(int folderFd, std::string_view folder, const UtcTime& t, PathOut& reportPath, PathOut& dumpPath,
                      int& reportFd, int& dumpFd, DumpFile dump) {
    reportFd = -1;
    dumpFd = -1;
    const std::size_t nameAt = reportNameOffset(folder);
    for (unsigned number = 1; number <= kMaxReportsPerSecond; ++number) {
        putReportPath(reportPath, folder, t, number, ".txt");
        reportFd = createFile(folderFd, reportPath.data, nameAt);
        if (reportFd < 0 && errno == EEXIST) {
            continue;
        }
        putReportPath(dumpPath, folder, t, number, ".dmp");
        if (dump == DumpFile::Create) {
            dumpFd = createFile(folderFd, dumpPath.data, nameAt);
            if (dumpFd >= 0 || errno != EEXIST) {
                return;
            }
        } else {
            struct stat existing {};
            if (::fstatat(folderFd, dumpPath.data + nameAt, &existing, AT_SYMLINK_NOFOLLOW) != 0) {
                return;
            }
        }
        // A dump without its report holds this number: give ours back and try the next.
        if (reportFd >= 0) {
            ::close(reportFd);
            ::unlinkat(folderFd, reportPath.data + nameAt, 0);
            reportFd = -1;
        }
    }
}

template void putReason(StringOut&, std::uint64_t, std::uintptr_t);
template void putReason(ReasonOut&, std::uint64_t, std::uintptr_t);
template void putReport(StringOut&, std::string_view, std::string_view, std::span<const std::string>, Logger*);
template void putReport(FdOut&, std::string_view, std::string_view, std::span<const std::string>, Logger*);
template void putReportName(StringOut&, const UtcTime&, unsigned, std::string_view);
template void putReportName(PathOut&, const UtcTime&, unsigned, std::string_view);

}  // namespace ostrel::core
