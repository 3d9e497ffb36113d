#pragma once

#include <QString>

namespace ostrel::app {

// The stem of a file named after a song: the name trimmed, every character other than an ASCII
// letter, digit, space, "_" or "-" turned into one "_", "Untitled" when nothing is left. Not yet
// cut to length: callers cut it to what their name form allows.
QString songFileBase(const QString& songName);

}  // namespace ostrel::app
