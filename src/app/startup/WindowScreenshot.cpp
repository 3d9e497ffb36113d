#include "app/startup/WindowScreenshot.h"

#include "app/startup/ExitCodes.h"
#include "core/log/Logger.h"

#include <QCoreApplication>
#include <QImage>
#include <QQuickWindow>

namespace ostrel::app {

void saveWindowScreenshot(QQuickWindow& window, const QString& path, core::Logger& logger, int& failureExitCode) {
    const bool saved = window.grabWindow().save(path);
    logger.log(core::LogLevel::INFO, "app",
               (saved ? QStringLiteral("screenshot saved to ") : QStringLiteral("screenshot FAILED for ")).toStdString() +
                   path.toStdString());
    if (!saved) {
        failureExitCode = kScreenshotFailedExitCode;
    }
    QCoreApplication::exit(saved ? 0 : kScreenshotFailedExitCode);
}

}  // namespace ostrel::app
