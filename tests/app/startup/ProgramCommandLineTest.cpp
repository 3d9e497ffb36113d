// The built program's command line on a machine without a display: a server over ssh, a
// container, a CI runner.

#include "ProgramTestSupport.h"
#include "core/BuildInfo.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <functional>
#include <vector>

using namespace ostrel;
using namespace ostrel::test;

namespace {

struct SplitRun {
    int exitCode = -1;  // -1: the program did not exit normally (an abort)
    QString out;
    QString err;
};

// The program as a user starts it where nothing names a display, or, with display, as on a
// desktop (the offscreen platform standing in for one). Its usual data folder lies in home;
// variables ("NAME=value") are set last.
SplitRun runWithoutDisplay(const QStringList& arguments, const QString& home, bool display = false,
                           const QStringList& variables = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    if (!display) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
            environment.remove(name);
        }
    }
    for (const QString& variable : variables) {
        environment.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    }
    environment.remove("APPDATA");
    environment.insert("XDG_DATA_HOME", home + "/share");
    environment.insert("HOME", home);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(OSTREL_PROGRAM), arguments);
    // A bound for a hung program, not a measure of speed.
    if (!process.waitForFinished(120000)) {
        ADD_FAILURE() << "the program did not end";
        process.kill();
        process.waitForFinished();
    }
    SplitRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

QString lastLine(const QString& text) { return text.trimmed().split(u'\n').last(); }

// A display number no X server answers at: no socket file, no abstract socket and no TCP
// port of its own on this machine.
int displayWithNoServer() {
    const QString unixSockets = QString::fromUtf8(readBytes("/proc/net/unix"));
    const QString tcp = QString::fromUtf8(readBytes("/proc/net/tcp") + readBytes("/proc/net/tcp6"));
    for (int display = 99;; ++display) {
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(display);
        const QString port = QStringLiteral(":%1 ").arg(6000 + display, 4, 16, QChar(u'0')).toUpper();
        if (!QFileInfo::exists(socket) && !unixSockets.contains(socket + u'\n') && !tcp.contains(port)) {
            return display;
        }
    }
}

}  // namespace

// Regression: without a display, --help, --version and a wrong flag ended in an abort (exit
// 134) with Qt's "Could not load the Qt platform plugin", before the command line was read,
// and a plain start did the same with nothing in the log to say why. The answers are those
// of a desktop, and none of them, nor the refused start, makes the data folder.
TEST(ProgramCommandLineTest, WithoutADisplayTheCommandLineIsAnsweredAndAStartSaysWhyWritingNothing) {
    const QString noDisplay = QStringLiteral(
        "Ostrel has no display to show its window on (neither DISPLAY nor WAYLAND_DISPLAY is set): start it on a "
        "desktop, or run it without a window with QT_QPA_PLATFORM=offscreen, as scripts/run.sh does.");
    struct Case {
        QStringList arguments;
        int exitCode;
        std::function<void(const SplitRun&)> said;
        bool answersAsOnADesktop = true;  // the same output and code with a display
    };
    const Case cases[] = {
        {{"--help"}, 0, [](const SplitRun& run) {
             EXPECT_TRUE(run.out.startsWith("Usage: ")) << run.out.toStdString();
             EXPECT_TRUE(run.out.contains("--data-dir <folder>"));
             EXPECT_FALSE(run.out.contains("--platform"));
         }},
        {{"--help-all"}, 0, [](const SplitRun& run) { EXPECT_TRUE(run.out.contains("--platform <platformName")); }},
        {{"--version"}, 0,
         [](const SplitRun& run) { EXPECT_EQ(run.out.toStdString(), "Ostrel " + core::appVersion() + "\n"); }},
        {{"--no-such-flag"}, 1,
         [](const SplitRun& run) { EXPECT_EQ(lastLine(run.err).toStdString(), "Ostrel: Unknown option 'no-such-flag'."); }},
        {{"--quit-after-ms", "0", "--data-dir"}, 1,
         [](const SplitRun& run) { EXPECT_EQ(lastLine(run.err).toStdString(), "Ostrel: Missing value after '--data-dir'."); }},
        {{"--quit-after-ms", "0"}, 7,
         [&](const SplitRun& run) { EXPECT_EQ(lastLine(run.err).toStdString(), noDisplay.toStdString()); }, false},
        {{"extra-arg"}, 1,
         [](const SplitRun& run) { EXPECT_EQ(lastLine(run.err).toStdString(), "Ostrel: Unexpected argument 'extra-arg'."); }},
    };
    std::vector<Case> wrongQuitTimes;
    for (const char* value : {"abc", "1e3", "-5", ""}) {
        const std::string said = std::string("Ostrel: Invalid value '") + value +
                                 "' for '--quit-after-ms': it takes a whole number of milliseconds from 0 to 2147483647.";
        wrongQuitTimes.push_back({{"--quit-after-ms", value, "--screenshot", "w.png"}, 1, [said](const SplitRun& run) {
                                      EXPECT_EQ(lastLine(run.err).toStdString(), said);
                                  }});
    }
    std::vector<Case> all(std::begin(cases), std::end(cases));
    all.insert(all.end(), wrongQuitTimes.begin(), wrongQuitTimes.end());
    for (const Case& c : all) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        TempDir home;
        const SplitRun run = runWithoutDisplay(c.arguments, qPath(home.path()));
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        c.said(run);
        EXPECT_EQ(contentsOf(qPath(home.path())).join('\n').toStdString(), "") << "something was written";
        if (c.answersAsOnADesktop) {
            const SplitRun desktop = runWithoutDisplay(c.arguments, qPath(home.path()), true);
            EXPECT_EQ(desktop.exitCode, run.exitCode);
            EXPECT_EQ(desktop.out.toStdString(), run.out.toStdString());
        }
    }
}

// Regression: a display named that leads nowhere (a forwarding gone, a platform chosen without
// its display, a Wayland socket that is not there) ended in Qt's abort (exit 134) after the
// data folder and its lock were made. It ends with 7 and one sentence naming what led there
// and Qt's reason, writing nothing; a platform Qt has no plugin for is told the same way; the
// command line is still answered.
TEST(ProgramCommandLineTest, ADisplayThatCannotBeReachedEndsWithSevenNamingItWritingNothing) {
    const QString display = QStringLiteral(":%1").arg(displayWithNoServer());
    const QString advice = QStringLiteral(
        "start it on a desktop, unset %1, or run it without a window with QT_QPA_PLATFORM=offscreen, as "
        "scripts/run.sh does.");
    const struct {
        QString variable;
        QString qtReason;  // a pattern: Qt's own words
    } cases[] = {
        {"DISPLAY=" + display, "could not connect to display " + display},
        {"WAYLAND_DISPLAY=wayland-9", ".+"},
        {"QT_QPA_PLATFORM=xcb", "could not connect to display"},
        {"QT_QPA_PLATFORM=no-such-platform", R"(could not find the Qt platform plugin "no-such-platform" in "")"},
    };
    for (const auto& [variable, qtReason] : cases) {
        SCOPED_TRACE(variable.toStdString());
        TempDir home;
        // No Wayland socket where Qt would look for one.
        const QStringList variables{variable, "XDG_RUNTIME_DIR=" + qPath(home.path())};
        const SplitRun run = runWithoutDisplay({"--quit-after-ms", "0"}, qPath(home.path() / "home"), false, variables);
        EXPECT_EQ(run.exitCode, 7) << run.err.toStdString();
        const QString name = variable.section(u'=', 0, 0);
        const QString sentence = "Ostrel cannot show its window where " + QRegularExpression::escape(variable) +
                                 " leads \\(Qt: " + qtReason + "\\): " + QRegularExpression::escape(advice.arg(name));
        EXPECT_TRUE(QRegularExpression("^" + sentence + "$").match(run.err.trimmed()).hasMatch())
            << run.err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(qPath(home.path() / "home"))) << "something was written";

        const SplitRun help = runWithoutDisplay({"--version"}, qPath(home.path() / "home"), false, variables);
        EXPECT_EQ(help.exitCode, 0) << help.err.toStdString();
        EXPECT_EQ(help.out.toStdString(), "Ostrel " + core::appVersion() + "\n");
    }
}
