#pragma once

#include <QStringList>

#include <string>

namespace ostrel::app {

// Whether Qt brings up the platform this run would show its window on (as the environment
// and the command line choose it), tried in a copy of the process before the application
// object exists: where it cannot, Qt aborts, and only the copy ends. Qt's reason goes to
// error. Start-up, while the process has one thread.
[[nodiscard]] bool platformComesUp(int argc, char** argv, std::string* error);

// The sentence for a platform that did not come up: what chose it (DISPLAY, WAYLAND_DISPLAY,
// QT_QPA_PLATFORM, a -platform argument) with its value, Qt's reason and what to do.
std::string unreachableDisplaySentence(const QStringList& arguments, const std::string& reason);

}  // namespace ostrel::app
