#include "app/AppController.h"

#include "AppTestSupport.h"
#include "core/BuildInfo.h"
#include "support/TempDir.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::app;
using namespace ostrel::test;

namespace {

struct Controller {
    QString logFile() const { return qPath(dir / "ostrel.log"); }

    TempDir dir;
    RecordingLogger log;
    AppController app{log.logger, logFile()};
};

// Distinct bytes so a tail that starts anywhere else would differ.
QByteArray numberedBytes(int size) {
    QByteArray bytes;
    for (int i = 0; bytes.size() < size; ++i) {
        bytes += QByteArray::number(i) + '\n';
    }
    return bytes.left(size);
}

}  // namespace

TEST(AppControllerLogTest, WithoutAFileTheTailSaysSo) {
    Controller controller;
    EXPECT_EQ(controller.app.logTail(), "(the log file does not exist yet)");
}

TEST(AppControllerLogTest, TheTailIsTheLastSixThousandBytes) {
    Controller controller;
    const QByteArray small = numberedBytes(5999);
    writeBytes(controller.logFile(), small);
    EXPECT_EQ(controller.app.logTail(), QString::fromUtf8(small));

    const QByteArray large = numberedBytes(10000);
    writeBytes(controller.logFile(), large);
    EXPECT_EQ(controller.app.logTail(), QString::fromUtf8(large.right(6000)));
    EXPECT_EQ(controller.app.logTail().size(), 6000);
}

TEST(AppControllerLogTest, TheTestErrorCarriesItsActionAndStep) {
    Controller controller;
    QSignalSpy changed(&controller.app, &AppController::logChanged);
    controller.app.noteStep(QStringLiteral("opened the browser"));
    controller.app.writeTestError();

    ASSERT_EQ(controller.log.records().size(), 1u);
    const core::LogRecord& record = controller.log.records()[0];
    EXPECT_EQ(record.level, core::LogLevel::ERROR);
    EXPECT_EQ(record.category, "test");
    EXPECT_EQ(record.message, "This is a test error, created on purpose to show the flight recorder.");
    EXPECT_EQ(record.actionStack, std::vector<std::string>{"Main window > Write test error button"});
    ASSERT_FALSE(record.recentSteps.empty());
    EXPECT_EQ(record.recentSteps.back().category, "ui");
    EXPECT_EQ(record.recentSteps.back().message, "clicked 'Write test error'");
    EXPECT_EQ(record.recentSteps.front().message, "opened the browser");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(core::currentActionStack().empty());
}

TEST(AppControllerLogTest, NotedStepsWriteNoLine) {
    Controller controller;
    controller.app.noteStep(QStringLiteral("zoomed the timeline"));
    EXPECT_TRUE(controller.log.records().empty());
    std::vector<core::LogStep> steps;
    ASSERT_TRUE(controller.log.logger.copyRecentSteps(steps));
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].category, "ui");
    EXPECT_EQ(steps[0].message, "zoomed the timeline");
}

TEST(AppControllerLogTest, RefreshOnlySignals) {
    Controller controller;
    QSignalSpy changed(&controller.app, &AppController::logChanged);
    controller.app.refreshLog();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(controller.log.records().empty());
}

TEST(AppControllerHelpTest, OnlyADifferentTextIsAnnounced) {
    Controller controller;
    QSignalSpy changed(&controller.app, &AppController::helpTextChanged);
    controller.app.setHelpText(QStringLiteral("Plays the song."));
    controller.app.setHelpText(QStringLiteral("Plays the song."));
    EXPECT_EQ(changed.count(), 1);
    controller.app.setHelpText(QString());
    EXPECT_EQ(changed.count(), 2);
    EXPECT_EQ(controller.app.helpText(), "");
    EXPECT_TRUE(controller.app.setProperty("helpText", QStringLiteral("From QML")));
    EXPECT_EQ(controller.app.helpText(), "From QML");
    EXPECT_EQ(changed.count(), 3);
}

TEST(AppControllerStartupTest, TheStartupTimeIsUnknownUntilTheFirstFrame) {
    Controller controller;
    QSignalSpy changed(&controller.app, &AppController::startupMsChanged);
    EXPECT_EQ(controller.app.startupMs(), -1);
    controller.app.setStartupMs(420);
    controller.app.setStartupMs(420);
    EXPECT_EQ(controller.app.startupMs(), 420);
    EXPECT_EQ(changed.count(), 2);
}

TEST(AppControllerVersionTest, VersionAndChannelComeFromTheBuild) {
    Controller controller;
    EXPECT_EQ(controller.app.versionString(), QString::fromStdString(core::appVersion()));
    EXPECT_EQ(controller.app.property("versionString").toString(), controller.app.versionString());
    const std::string_view label = core::buildInfo().prerelease;
    EXPECT_EQ(controller.app.channel(), channelOfPrerelease(QString::fromUtf8(label.data(), label.size())));
    EXPECT_EQ(controller.app.logFilePath(), controller.logFile());
}

TEST(AppControllerVersionTest, TheChannelIsTheLabelUpToItsFirstDot) {
    EXPECT_EQ(channelOfPrerelease(u""), "stable");
    EXPECT_EQ(channelOfPrerelease(u"alpha.39"), "alpha");
    EXPECT_EQ(channelOfPrerelease(u"rc.1.2"), "rc");
    EXPECT_EQ(channelOfPrerelease(u"beta"), "beta");
}
