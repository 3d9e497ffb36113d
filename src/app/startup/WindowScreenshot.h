#pragma once

#include <QString>

class QQuickWindow;

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

// The picture the command line asks for, and whether it is done with: saved, or its failure
// said. GUI thread.
struct ScreenshotRequest {
    QString path;
    bool done = false;
};

// Grabs the window and saves it to the request's path, the format chosen by the file name's
// suffix; logs "screenshot saved to " and the path (INFO), or "screenshot FAILED for ", the
// path and why (ERROR, and on stderr), then ends the event loop with 0, or with 2 after
// recording 2 in failureExitCode. Where the window's own
// picture would be cut (the software scene graph under an interface size of 100 %), the scene
// is grabbed instead and the picture is saved once it is drawn. GUI thread.
void saveWindowScreenshot(QQuickWindow& window, ScreenshotRequest& request, core::Logger& logger,
                          int& failureExitCode);

// The picture was not saved (or, the event loop having ended first, never taken): says why,
// as above, marks the request done and records 2 in failureExitCode; the caller ends the
// run. GUI thread.
void reportScreenshotFailed(ScreenshotRequest& request, const QString& why, core::Logger& logger,
                            int& failureExitCode);

}  // namespace ostrel::app
