#pragma once

namespace ostrel::app {

// Process exit codes besides the event loop's own result.
inline constexpr int kScreenshotFailedExitCode = 2;
inline constexpr int kMainWindowFailedExitCode = 3;
// Another copy holds the data folder; this one wrote nothing.
inline constexpr int kAlreadyRunningExitCode = 4;

}  // namespace ostrel::app
