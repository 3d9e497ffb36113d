#include "core/log/FileSink.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"
#include "core/files/FolderLock.h"
#include "core/files/PathSuffix.h"
#include "core/files/PrivateOldFile.h"
#include "core/log/UtcTime.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ostrel::core {

namespace {

// The live log open for appending, its user's alone, or -1 with the reason in why. Never
// through a link, into anything but a regular file, or into a file with another name (one
// of the user's other files). O_NONBLOCK: a FIFO put where the log belongs would otherwise
// hold this open, and with it the logger's mutex, until someone read from it; a regular
// file ignores it.
// A log whose folder could not be made gives the reason the make failed, not that the file
// is missing.
int openLog(const std::filesystem::path& path, const std::string& folderProblem, std::uint64_t& size,
            std::string& why) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                          0600);
    if (fd < 0) {
        const int code = errno;
        why = code == ELOOP                             ? "it is a symbolic link"
              : code == ENOENT && !folderProblem.empty() ? folderProblem
                                                        : systemMessage(code);
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink > 1) {
        why = !S_ISREG(status.st_mode) ? "it is not a regular file" : "it has more than one name, a hard link";
        ::close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return fd;
}

}  // namespace

FileSink::FileSink(std::filesystem::path path, std::uint64_t maxBytes, unsigned keepFiles,
                   std::vector<std::string>* warnings)
    : path_(std::move(path)), maxBytes_(maxBytes), keepFiles_(keepFiles) {
    const std::filesystem::path parent = path_.parent_path();
    if (!parent.empty()) {
        (void)createFoldersToWrite(parent, &folderProblem_);
    }
    // Logs an earlier version left readable by others become their user's alone; the
    // sink makes every new one so.
    for (unsigned n = 0; n <= keepFiles_; ++n) {
        makeOldFilePrivate(n == 0 ? path_ : rotatedLogPath(path_, n), warnings);
    }
}

void FileSink::write(const LogRecord& record) {
    std::string why;
    if (toStandardError_ || !mayWriteUnderHeldFolder(path_, &why)) {
        writeToStandardError(record, why);
        return;
    }
    std::uint64_t size = 0;
    int fd = openLog(path_, folderProblem_, size, why);
    if (fd >= 0 && size >= maxBytes_) {
        ::close(fd);
        rotate();
        fd = openLog(path_, folderProblem_, size, why);
    }
    const std::string text = formatLogLine(record);
    if (fd >= 0) {
        const bool whole = writeAll(fd, text.data(), text.size()) == text.size();
        why = whole ? "" : systemMessage(errno);
        ::close(fd);
        if (whole) {
            return;
        }
    }
    writeToStandardError(record, "the log cannot be written to " + path_.string() + " (" + why + ")");
}

void FileSink::writeToStandardError(const LogRecord& record, const std::string& reason) {
    if (!toStandardError_) {
        toStandardError_ = true;
        LogRecord notice = record;
        notice.level = LogLevel::ERROR;
        notice.category = "app";
        notice.message = reason + "; the log goes to the standard error from now on";
        const std::string text = formatLogLine(notice);
        writeAll(STDERR_FILENO, text.data(), text.size());
    }
    const std::string text = formatLogLine(record);
    writeAll(STDERR_FILENO, text.data(), text.size());
}

// Each step ignores its own failure: a missing older file is normal.
void FileSink::rotate() {
    std::error_code ignored;
    if (keepFiles_ == 0) {
        // No older file to keep: start the live file afresh rather than grow it forever.
        std::filesystem::remove(path_, ignored);
        return;
    }
    std::filesystem::remove(rotatedLogPath(path_, keepFiles_), ignored);
    for (unsigned i = keepFiles_ - 1; i >= 1; --i) {
        std::filesystem::rename(rotatedLogPath(path_, i), rotatedLogPath(path_, i + 1), ignored);
    }
    std::filesystem::rename(path_, rotatedLogPath(path_, 1), ignored);
}

std::string formatTimestamp(std::int64_t ticks, TimestampForm form) {
    const bool longForm = form == TimestampForm::Long;
    const std::int64_t seconds = floorDiv(ticks, kTicksPerSecond);
    const int milliseconds = static_cast<int>(floorDiv(ticks, kTicksPerSecond / 1000) - seconds * 1000);
    const UtcTime t = utcTimeFromSeconds(seconds);
    char text[64];
    if (longForm) {
        std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03dZ", static_cast<long long>(t.year),
                      t.month, t.day, t.hour, t.minute, t.second, milliseconds);
    } else {
        std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", t.hour, t.minute, t.second, milliseconds);
    }
    return text;
}

std::string formatLogLine(const LogRecord& record) {
    std::string text;
    text.reserve(96 + record.category.size() + record.message.size());
    text += formatTimestamp(record.time, TimestampForm::Long);
    text += ' ';
    text += logLevelName(record.level);
    text += " [";
    text += record.category;
    text += "] ";
    text += record.message;
    text += "  (thread ";
    text += record.threadTag;
    text += ")\n";
    if (!record.actionStack.empty()) {
        text += "    action: ";
        for (std::size_t i = 0; i < record.actionStack.size(); ++i) {
            if (i > 0) {
                text += " > ";
            }
            text += record.actionStack[i];
        }
        text += '\n';
    }
    if (!record.recentSteps.empty()) {
        text += "    recent steps (oldest first):\n";
        for (const LogStep& step : record.recentSteps) {
            text += "      ";
            text += formatTimestamp(step.time, TimestampForm::Short);
            text += " [";
            text += step.category;
            text += "] ";
            text += step.message;
            text += '\n';
        }
    }
    return text;
}

std::filesystem::path rotatedLogPath(const std::filesystem::path& path, unsigned n) {
    return withSuffix(withSuffix(path, "."), std::to_string(n));
}

}  // namespace ostrel::core
