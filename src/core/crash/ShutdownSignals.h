#pragma once

namespace ostrel::core {

// SIGTERM and SIGINT as a request to close, delivered through a self-pipe: the handler
// only writes the signal's number into the pipe, and the owner's event loop watches the
// read end (the application wraps it in a QSocketNotifier) and closes as its Quit command
// does. A second of these signals once one has arrived ends the process at once, by that
// signal, for a close that hangs.
namespace ShutdownSignals {

// Start-up, GUI thread, once. Installs both handlers; returns the pipe's read end
// (non-blocking, close-on-exec), or -1 when the pipe could not be made (the signals then
// keep their default action). Installing again returns the same end.
int install();

// The number of the next signal waiting in the pipe (SIGTERM or SIGINT), or 0 when none
// waits. GUI thread.
int takePending();

}  // namespace ShutdownSignals

}  // namespace ostrel::core
