#pragma once

#include <QString>

class QQuickWindow;

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

// Grabs the window and saves it to path, the format chosen by the file name's suffix;
// logs "screenshot saved to " and the path (INFO), or "screenshot FAILED for ", the path
// and why (ERROR, and on stderr), then ends the event loop with 0, or with 2 after
// recording 2 in failureExitCode. Where the window's own
// picture would be cut (the software scene graph under an interface size of 100 %), the scene
// is grabbed instead and the picture is saved once it is drawn. GUI thread.
void saveWindowScreenshot(QQuickWindow& window, const QString& path, core::Logger& logger, int& failureExitCode);

}  // namespace ostrel::app
