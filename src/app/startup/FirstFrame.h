#pragma once

class QCommandLineParser;
class QCoreApplication;
class QElapsedTimer;
class QQuickWindow;

namespace ostrel::core {
class Logger;
}

namespace ostrel::app {

class AppController;
class AudioController;
class InstrumentController;
class ProjectController;
class TransportController;
struct ScreenshotRequest;

// What the first-frame handler works with; everything lives in main's frame for the whole
// event loop, so the delayed actions may keep these references.
struct FirstFrameContext {
    const QElapsedTimer& startupClock;
    QQuickWindow& window;
    AppController& app;
    core::Logger& logger;
    const QCommandLineParser& parser;
    AudioController& audio;
    InstrumentController& instrument;
    QCoreApplication& application;
    TransportController& transport;
    ProjectController& project;
    ScreenshotRequest& screenshot;
    int& failureExitCode;
};

// Runs once, right after the window's first frame: reports the start-up time, then carries
// out the command line's switches in their fixed order, the screenshot last. GUI thread.
void onFirstFrame(const FirstFrameContext& context);

}  // namespace ostrel::app
