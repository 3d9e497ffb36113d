#include "app/startup/AppController.h"

#include "AppTestSupport.h"
#include "app/startup/UiScale.h"
#include "core/BuildInfo.h"
#include "support/HostileFiles.h"
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

TEST(AppControllerLogTest, TheTailIsTheLastSixThousandBytes) {
    Controller controller;
    EXPECT_EQ(controller.app.logTail(), "(the log file does not exist yet)");
    const QByteArray small = numberedBytes(5999);
    writeBytes(controller.logFile(), small);
    EXPECT_EQ(controller.app.logTail(), QString::fromUtf8(small));
    const QByteArray large = numberedBytes(10000);
    writeBytes(controller.logFile(), large);
    EXPECT_EQ(controller.app.logTail(), QString::fromUtf8(large.right(6000)));
}

// Regression: the tail read the log path to its end, so a link to /dev/zero or /dev/full
// grew without bound and a FIFO blocked the window.
TEST(AppControllerLogTest, ALogPathThatIsNoRegularFileGivesNothingAndNeverBlocks) {
    for (const char* device : {"/dev/zero", "/dev/full"}) {
        Controller controller;
        std::filesystem::create_symlink(device, controller.dir / "ostrel.log");
        QString tail;
        runWithinMemory(1024, [&] { tail = controller.app.logTail(); });
        EXPECT_EQ(tail, "(the log file is not a regular file)") << device;
    }
    Controller controller;
    makeFifo(controller.dir / "ostrel.log");
    QString tail;
    EXPECT_TRUE(returnsWithoutAWriter(controller.dir / "ostrel.log", [&] { tail = controller.app.logTail(); }));
    EXPECT_EQ(tail, "(the log file is not a regular file)");
}

// Regression: a log that could not be opened for any reason was said not to exist yet.
TEST(AppControllerLogTest, ALogThatCannotBeOpenedSaysWhy) {
    TempDir dir;
    writeFile(dir / "file", "x");
    RecordingLogger log;
    const AppController app(log.logger, qPath(dir / "file" / "ostrel.log"));
    EXPECT_EQ(app.logTail(), "(the log file cannot be opened: Not a directory)");
}

TEST(AppControllerLogTest, AHugeSparseLogGivesOnlyItsEnd) {
    Controller controller;
    makeSparseFile(controller.dir / "ostrel.log", 3ull << 30);
    QString tail;
    runWithinMemory(1024, [&] { tail = controller.app.logTail(); });
    EXPECT_EQ(tail.size(), 6000);
    EXPECT_EQ(tail, QString(6000, QChar(0)));
}

TEST(AppControllerLogTest, NotedStepsWriteNoLineButTheTestErrorCarriesThem) {
    Controller controller;
    QSignalSpy changed(&controller.app, &AppController::logChanged);
    controller.app.noteStep(QStringLiteral("opened the browser"));
    controller.app.refreshLog();
    EXPECT_TRUE(controller.log.records().empty());
    EXPECT_EQ(changed.count(), 1);

    controller.app.writeTestError();
    ASSERT_EQ(controller.log.records().size(), 1u);
    const core::LogRecord& record = controller.log.records()[0];
    EXPECT_EQ(record.level, core::LogLevel::ERROR);
    EXPECT_EQ(record.category, "test");
    EXPECT_EQ(record.message, "This is a test error, created on purpose to show the flight recorder.");
    EXPECT_EQ(record.actionStack, std::vector<std::string>{"Main window > Write test error button"});
    ASSERT_GE(record.recentSteps.size(), 2u);
    EXPECT_EQ(record.recentSteps.front().category + ": " + record.recentSteps.front().message, "ui: opened the browser");
    EXPECT_EQ(record.recentSteps.back().category + ": " + record.recentSteps.back().message, "ui: clicked 'Write test error'");
    EXPECT_EQ(changed.count(), 2);
    EXPECT_TRUE(core::currentActionStack().empty());
}

TEST(AppControllerHelpTest, OnlyADifferentTextIsAnnounced) {
    Controller controller;
    QSignalSpy changed(&controller.app, &AppController::helpTextChanged);
    controller.app.setHelpText(QStringLiteral("Plays the song."));
    controller.app.setHelpText(QStringLiteral("Plays the song."));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(controller.app.setProperty("helpText", QString()));
    EXPECT_EQ(controller.app.helpText(), "");
    EXPECT_EQ(changed.count(), 2);
}

TEST(AppControllerVersionTest, VersionAndChannelComeFromTheBuild) {
    Controller controller;
    EXPECT_EQ(controller.app.property("versionString").toString(), QString::fromStdString(core::appVersion()));
    const std::string_view label = core::buildInfo().prerelease;
    EXPECT_EQ(controller.app.channel(), channelOfPrerelease(QString::fromUtf8(label.data(), label.size())));
    EXPECT_EQ(controller.app.logFilePath(), controller.logFile());
    EXPECT_EQ(controller.app.startupMs(), -1);  // unknown until the first frame

    const std::pair<const char16_t*, const char*> channels[] = {
        {u"", "stable"}, {u"alpha.39", "alpha"}, {u"rc.1.2", "rc"}, {u"beta", "beta"}};
    for (const auto& [prerelease, channel] : channels) EXPECT_EQ(channelOfPrerelease(prerelease), channel);
}

// The interface size in effect is what Qt takes from QT_SCALE_FACTOR: the Settings sheet
// measures a size not yet applied against it.
TEST(AppControllerScaleTest, TheInterfaceScaleIsTheFactorQtAppliesAtStart) {
    const std::pair<const char*, double> cases[] = {{"", 1.0}, {"1.25", 1.25}, {" 2 ", 2.0},
                                                    {"0", 1.0}, {"-1", 1.0}, {"big", 1.0}};
    for (const auto& [text, factor] : cases) EXPECT_DOUBLE_EQ(scaleFactorInEffect(text), factor) << text;

    const QByteArray before = qgetenv("QT_SCALE_FACTOR");
    qputenv("QT_SCALE_FACTOR", "1.5");
    Controller scaled;
    qunsetenv("QT_SCALE_FACTOR");
    Controller plain;
    if (!before.isEmpty()) qputenv("QT_SCALE_FACTOR", before);
    EXPECT_DOUBLE_EQ(scaled.app.property("interfaceScale").toDouble(), 1.5);
    EXPECT_DOUBLE_EQ(plain.app.interfaceScale(), 1.0);
}
