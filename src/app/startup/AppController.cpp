#include "app/startup/AppController.h"

#include "app/files/FileNames.h"
#include "app/startup/UiScale.h"

#include "core/BuildInfo.h"
#include "core/Failure.h"
#include "core/files/RegularFile.h"
#include "core/log/Logger.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QUrl>
#include <QWindow>
#include <qpa/qplatformscreen.h>

#include <cstdint>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <utility>

namespace ostrel::app {

QString channelOfPrerelease(QStringView prerelease) {
    if (prerelease.isEmpty()) {
        return QStringLiteral("stable");
    }
    const qsizetype dot = prerelease.indexOf(u'.');
    return (dot < 0 ? prerelease : prerelease.left(dot)).toString();
}

AppController::AppController(core::Logger& logger, QString logFilePath, QObject* parent)
    : QObject(parent),
      logger_(logger),
      logFilePath_(std::move(logFilePath)),
      interfaceScale_(scaleFactorInEffect(qgetenv("QT_SCALE_FACTOR"))) {}

void AppController::setInterfaceScale(double factor) {
    if (factor > 0.0 && factor != interfaceScale_) {
        interfaceScale_ = factor;
        emit interfaceScaleChanged();
    }
}

namespace {

const QScreen* screenOf(QObject* window) {
    const auto* shown = qobject_cast<QWindow*>(window);
    return shown != nullptr ? shown->screen() : nullptr;
}

}  // namespace

QRect AppController::freeScreenArea(QObject* window) const {
    const QScreen* screen = screenOf(window);
    return screen != nullptr ? screen->availableGeometry().intersected(screen->geometry()) : QRect();
}

QSize AppController::freeScreenPixels(QObject* window) const {
    const QScreen* screen = screenOf(window);
    const QPlatformScreen* native = screen != nullptr ? screen->handle() : nullptr;
    if (native == nullptr) {
        return {};
    }
    // The platform's geometry is in its own units, which a platform scale (Wayland's, say)
    // still takes to pixels.
    const QSizeF free = QSizeF(native->availableGeometry().intersected(native->geometry()).size()) *
                        native->devicePixelRatio();
    return free.toSize();
}

QString AppController::versionString() const { return QString::fromStdString(core::appVersion()); }

QString AppController::channel() const {
    const std::string_view label = core::buildInfo().prerelease;
    return channelOfPrerelease(QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
}

QString AppController::logTail() const {
    // Through the regular-file door, whatever its size: a log path that is a link to a
    // device or a pipe gives nothing and never blocks, and only the end is read.
    core::RegularFile file;
    const std::filesystem::path path = pathBytes(logFilePath_);
    const core::FileReadProblem problem = file.open(path, std::numeric_limits<std::uint64_t>::max());
    if (problem == core::FileReadProblem::NotRegularFile) {
        return tr("(the log file is not a regular file)");
    }
    if (problem == core::FileReadProblem::CannotOpen && file.systemError() == ENOENT) {
        return tr("(the log file does not exist yet)");
    }
    if (problem != core::FileReadProblem::None) {
        return tr("(the log file cannot be opened: %1)")
            .arg(QString::fromStdString(core::whyNotRead(problem, file.systemError())));
    }
    const std::uint64_t size = file.size();
    const std::uint64_t from = size > static_cast<std::uint64_t>(kLogTailBytes) ? size - kLogTailBytes : 0;
    QByteArray bytes(static_cast<qsizetype>(size - from), Qt::Uninitialized);
    std::size_t got = 0;
    if (!file.readAt(from, bytes.data(), static_cast<std::size_t>(bytes.size()), got)) {
        return tr("(the log file could not be read: %1)")
            .arg(QString::fromStdString(core::systemMessage(file.systemError())));
    }
    bytes.truncate(static_cast<qsizetype>(got));
    return QString::fromUtf8(bytes);
}

void AppController::setHelpText(const QString& text) {
    if (text == helpText_) {
        return;
    }
    helpText_ = text;
    emit helpTextChanged();
}

void AppController::setStartupMs(int ms) {
    startupMs_ = ms;
    emit startupMsChanged();
}

void AppController::noteStep(const QString& text) { logger_.recordStep("ui", text.toStdString()); }

void AppController::writeTestError() {
    core::ActionScope action("Main window > Write test error button", logger_);
    logger_.recordStep("ui", "clicked 'Write test error'");
    logger_.log(core::LogLevel::ERROR, "test",
                "This is a test error, created on purpose to show the flight recorder.");
    emit logChanged();
}

void AppController::refreshLog() { emit logChanged(); }

void AppController::openLogFolder() {
    logger_.recordStep("ui", "opened the log folder");
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(logFilePath_).absolutePath()));
}

}  // namespace ostrel::app
