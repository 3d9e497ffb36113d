#pragma once

namespace ostrel::app {

// Process exit codes besides the event loop's own result.
// A wrong command line, as Qt's parser answers its own mistakes; nothing was looked at.
inline constexpr int kWrongCommandLineExitCode = 1;
// The picture asked for was not saved, or the run ended before it was taken.
inline constexpr int kScreenshotFailedExitCode = 2;
inline constexpr int kMainWindowFailedExitCode = 3;
// Another copy holds the data folder; this one wrote nothing.
inline constexpr int kAlreadyRunningExitCode = 4;
// The data folder is not a folder, cannot be written or cannot be made, or it (or a folder
// the program writes into under it, or one on the way to either) is another user's or others
// may write in it, or its settings file is another user's or others may change it. Nothing
// was written, and nothing made where anything was refused.
inline constexpr int kDataFolderUnusableExitCode = 5;
// The data folder's lock could not be taken (its lock file is a link, a folder, cannot be
// opened or locked), so a second copy could not be kept out; nothing was written.
inline constexpr int kFolderLockFailedExitCode = 6;
// No display to show the window on, and no Qt platform chosen, or the platform chosen does
// not come up (a display named that is not there); nothing was written.
inline constexpr int kNoDisplayExitCode = 7;

}  // namespace ostrel::app
