#include "app/startup/AppController.h"

#include "core/BuildInfo.h"
#include "core/log/Logger.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

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
    : QObject(parent), logger_(logger), logFilePath_(std::move(logFilePath)) {}

QString AppController::versionString() const { return QString::fromStdString(core::appVersion()); }

QString AppController::channel() const {
    const std::string_view label = core::buildInfo().prerelease;
    return channelOfPrerelease(QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
}

QString AppController::logTail() const {
    QFile file(logFilePath_);
    if (!file.open(QIODevice::ReadOnly)) {
        return tr("(the log file does not exist yet)");
    }
    if (file.size() > kLogTailBytes) {
        file.seek(file.size() - kLogTailBytes);
    }
    return QString::fromUtf8(file.readAll());
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
