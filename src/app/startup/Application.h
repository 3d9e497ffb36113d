#pragma once

#include <QString>
#include <QUrl>

namespace ostrel::app {

// The main window of the QML module "Ostrel.App".
inline constexpr char kMainWindowUrl[] = "qrc:/qt/qml/Ostrel/App/Main.qml";

struct ApplicationSetup {
    QUrl mainWindow{QString::fromLatin1(kMainWindowUrl)};
};

// The whole life of the program on the GUI thread: builds every service and controller in
// order, loads the main window, runs the event loop and tears everything down in reverse.
// Returns the process exit code: the event loop's result, or one of app/startup/ExitCodes.h
// (a screenshot not saved, the window not loaded, no display, a data folder refused). The QML module must already be
// linked and imported by the caller.
int runApplication(int& argc, char** argv, const ApplicationSetup& setup = {});

}  // namespace ostrel::app
