#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

// The context object `app`: the version and release channel, the help-strip text, the
// start-up time, the end of the log file and a few logging actions. GUI thread only;
// other threads may write the log file while it is read.
class AppController : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString versionString READ versionString CONSTANT)
    Q_PROPERTY(QString channel READ channel CONSTANT)
    Q_PROPERTY(QString logFilePath READ logFilePath CONSTANT)
    Q_PROPERTY(QString helpText READ helpText WRITE setHelpText NOTIFY helpTextChanged)
    Q_PROPERTY(int startupMs READ startupMs NOTIFY startupMsChanged)
    Q_PROPERTY(QString logTail READ logTail NOTIFY logChanged)
    // The interface size in effect, as the factor Qt scales the window by: QT_SCALE_FACTOR's
    // at start.
    Q_PROPERTY(double interfaceScale READ interfaceScale NOTIFY interfaceScaleChanged)

public:
    // At most this much of the log file's end is shown.
    static constexpr qint64 kLogTailBytes = 6000;

    AppController(core::Logger& logger, QString logFilePath, QObject* parent = nullptr);

    // The version text, "+" and the commit.
    QString versionString() const;
    // "stable" for a release; otherwise the pre-release label up to its first ".".
    QString channel() const;
    QString logFilePath() const { return logFilePath_; }
    QString helpText() const { return helpText_; }
    // -1 until the first frame is drawn.
    int startupMs() const { return startupMs_; }
    // Re-read from the file at every call; the cut may fall inside a line.
    QString logTail() const;
    double interfaceScale() const { return interfaceScale_; }
    // For a scale Qt takes from elsewhere than QT_SCALE_FACTOR, as a screen's own factor.
    void setInterfaceScale(double factor);

    void setHelpText(const QString& text);
    // Once, from the first-frame handler; always signals.
    void setStartupMs(int ms);

    // Into the logger's ring of recent steps only; no log line.
    Q_INVOKABLE void noteStep(const QString& text);
    // An ERROR record that carries an open action and the recent steps.
    Q_INVOKABLE void writeTestError();
    Q_INVOKABLE void refreshLog();
    Q_INVOKABLE void openLogFolder();
    // The free part (less desktop panels) of the screen a window (a QWindow) is on, in the
    // window's units; empty without a window.
    Q_INVOKABLE QRect freeScreenArea(QObject* window) const;
    // The same in the screen's own pixels, which the units cannot give back: Qt rounds them
    // to whole numbers, so 1366 pixels at 150 % are 911 units, which make 1366.5 again.
    Q_INVOKABLE QSize freeScreenPixels(QObject* window) const;

signals:
    void helpTextChanged();
    void startupMsChanged();
    void logChanged();
    void interfaceScaleChanged();

private:
    core::Logger& logger_;
    QString logFilePath_;
    QString helpText_;
    int startupMs_ = -1;
    double interfaceScale_ = 1.0;
};

// The channel of a pre-release label: "stable" when empty, else its text up to the first ".".
QString channelOfPrerelease(QStringView prerelease);

}  // namespace ostrel::app
