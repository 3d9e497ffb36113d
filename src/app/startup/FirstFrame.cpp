#include "app/startup/FirstFrame.h"

#include "app/demo/DemoProject.h"
#include "app/live/InstrumentController.h"
#include "app/project/ProjectController.h"
#include "app/sound/AudioController.h"
#include "app/sound/TransportController.h"
#include "app/startup/AppController.h"
#include "app/startup/WindowScreenshot.h"
#include "core/log/Logger.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QQuickWindow>
#include <QTimer>

#include <cstdlib>

namespace ostrel::app {
namespace {

// How long the demonstration note and the demonstration clock run.
constexpr int kDemoNoteMs = 1000;
constexpr int kDemoTransportMs = 1200;
// Long enough for the first frame to settle before the picture is taken.
constexpr int kScreenshotDelayMs = 600;
// The loop of the loop demonstration: bars 2 to 4 in 4/4.
constexpr double kDemoLoopStart = 4.0;
constexpr double kDemoLoopEnd = 12.0;

bool isSet(const FirstFrameContext& context, const char* option) {
    return context.parser.isSet(QString::fromLatin1(option));
}

[[noreturn]] void crashOnPurpose(core::Logger& logger) {
    const core::ActionScope action("Demo crash requested with --demo-crash", logger);
    logger.recordStep("app", "about to crash on purpose (--demo-crash)");
    // The crash reporter's handler takes the abort as it would a real fault, with this
    // action still open.
    std::abort();
}

}  // namespace

void onFirstFrame(const FirstFrameContext& context) {
    const int ms = static_cast<int>(context.startupClock.elapsed());
    context.app.setStartupMs(ms);
    context.logger.log(core::LogLevel::INFO, "app", "first frame after " + std::to_string(ms) + " ms");
    emit context.app.logChanged();

    if (isSet(context, "demo-error")) {
        context.app.writeTestError();
    }
    if (isSet(context, "demo-tone")) {
        context.audio.setTestTone(true);
    }
    if (isSet(context, "demo-tone-silent")) {
        context.audio.setTestToneLevel(0.0f);
        context.audio.setTestTone(true);
    }
    if (isSet(context, "demo-instrument") || isSet(context, "demo-instrument-silent")) {
        if (isSet(context, "demo-instrument-silent")) {
            context.instrument.setLevel(0.0);
        }
        context.instrument.keyDown(0);
        InstrumentController& instrument = context.instrument;
        QTimer::singleShot(kDemoNoteMs, &context.application, [&instrument] { instrument.keyUp(0); });
    }
    if (isSet(context, "demo-transport") || isSet(context, "demo-transport-silent")) {
        context.transport.setMetronome(isSet(context, "demo-transport"));
        context.transport.play();
        TransportController& transport = context.transport;
        QTimer::singleShot(kDemoTransportMs, &context.application, [&transport] { transport.stop(); });
    }
    if (isSet(context, "demo-project")) {
        DemoViews views;
        views.devices = isSet(context, "demo-devices");
        views.step = isSet(context, "demo-step");
        views.fm = isSet(context, "demo-fm");
        views.sampler = isSet(context, "demo-sampler");
        views.audio = isSet(context, "demo-audio");
        buildDemoProject(context.project, views, &context.window);
    }
    if (isSet(context, "demo-loop")) {
        context.transport.setLoopRange(kDemoLoopStart, kDemoLoopEnd);
        context.transport.setStartBeat(kDemoLoopStart);
    }
    if (isSet(context, "demo-drums")) {
        context.instrument.selectPatch(QStringLiteral("Modular Drums"));
    }
    if (isSet(context, "demo-crash")) {
        crashOnPurpose(context.logger);
    }
    if (isSet(context, "screenshot")) {
        QQuickWindow& window = context.window;
        ScreenshotRequest& screenshot = context.screenshot;
        core::Logger& logger = context.logger;
        int& failureExitCode = context.failureExitCode;
        QTimer::singleShot(kScreenshotDelayMs, &context.application, [&window, &screenshot, &logger, &failureExitCode] {
            saveWindowScreenshot(window, screenshot, logger, failureExitCode);
        });
    }
}

}  // namespace ostrel::app
