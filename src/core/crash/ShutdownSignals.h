#pragma once

#include <filesystem>

namespace ostrel::core {

// SIGTERM, SIGINT and SIGHUP as a request to close, delivered through a self-pipe: the
// handler only writes the signal's number into the pipe, and the owner's event loop watches
// the read end (the application wraps it in a QSocketNotifier) and closes as its Quit
// command does. A close must not hang: a second of these signals once one has arrived ends
// the process at once, by that signal, and so does the first kCloseLimitSeconds after it
// came when the process is still there (something blocked the event loop or the close).
// A signal the process was started with ignored (nohup, a background job) stays ignored.
// A close cut short either way removes the temporary files being written (TemporaryFiles)
// and says so in one ERROR line, naming the files they were to become and the exports
// still rendering, on stderr and in the log file given to setLogFile.
namespace ShutdownSignals {

inline constexpr unsigned kCloseLimitSeconds = 5;

// Start-up, GUI thread, once. Installs the handlers (SIGALRM's too, for the limit); returns
// the pipe's read end (non-blocking, close-on-exec), or -1 when the pipe could not be made
// (the signals then keep their default action). Installing again returns the same end.
int install();

// The log file a close cut short writes its line to. Start-up, GUI thread, before the
// signals can come; a path too long is not kept.
void setLogFile(const std::filesystem::path& path);

// The number of the next signal waiting in the pipe (SIGTERM, SIGINT or SIGHUP), or 0 when
// none waits. GUI thread.
int takePending();

}  // namespace ShutdownSignals

}  // namespace ostrel::core
