#pragma once

#include "core/log/LogSink.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ostrel::core {

// Appends each record's lines to a file that is rotated by size: before a record, a live
// file of maxBytes or more becomes path.1, path.1 becomes path.2 and so on up to
// path.<keepFiles>, whose old content is dropped. The file is opened and closed for every
// record, so others may delete or truncate it at any time. It is its user's alone (0600,
// as are older files an earlier version made wider, unless they are links or have another
// name), and never written through a link, nor when it is not a regular file or has
// another name. Once it cannot be opened or written, or the data folder this process locked
// is no longer at its path (never into a folder not held), that record and every later one
// go to the standard error instead, after one ERROR that says why.
class FileSink final : public LogSink {
public:
    // Creates the folder of path (its user's alone); never throws for it. Each log file
    // skipped as it was made private (makeOldFilePrivate) adds a warning, for the caller to
    // log: the sink has no logger of its own.
    FileSink(std::filesystem::path path, std::uint64_t maxBytes, unsigned keepFiles,
             std::vector<std::string>* warnings = nullptr);

    // Called by the logger with its mutex held.
    void write(const LogRecord& record) override;

private:
    void rotate();
    void writeToStandardError(const LogRecord& record, const std::string& reason);

    std::filesystem::path path_;
    std::uint64_t maxBytes_;
    unsigned keepFiles_;
    bool toStandardError_ = false;
    std::string folderProblem_;  // why the log's folder could not be made at the start
};

// The text of one record, each line ending in one line feed: the first line, then for
// records that carry them the action line and the recent steps.
std::string formatLogLine(const LogRecord& record);

// UTC text of a time in 100-nanosecond ticks: "2026-03-01T14:05:09.042Z" in the long
// form, "14:05:09.042" in the short one.
// Long: "2026-03-01T14:05:09.042Z"; Short: "14:05:09.042".
enum class TimestampForm { Short, Long };

std::string formatTimestamp(std::int64_t ticks, TimestampForm form);

// path followed by "." and n, as in "ostrel.log.2".
std::filesystem::path rotatedLogPath(const std::filesystem::path& path, unsigned n);

}  // namespace ostrel::core
