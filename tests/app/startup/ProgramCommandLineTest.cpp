// The built program's command line on a machine without a display: a server over ssh, a
// container, a CI runner.

#include "ProgramTestSupport.h"
#include "core/BuildInfo.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <functional>

using namespace ostrel;
using namespace ostrel::test;

namespace {

struct SplitRun {
    int exitCode = -1;  // -1: the program did not exit normally (an abort)
    QString out;
    QString err;
};

// The program as a user starts it where nothing names a display, or, with display, as on a
// desktop (the offscreen platform standing in for one). Its usual data folder lies in home.
SplitRun runWithoutDisplay(const QStringList& arguments, const QString& home, bool display = false) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    if (!display) {
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) environment.remove(name);
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
    };
    for (const Case& c : cases) {
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
