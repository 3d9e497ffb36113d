#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ostrel::core {

// Makes a file an earlier version left open to others (a log, a crash report or dump) its
// user's alone (0600). Only a regular file with no other name is changed, and only through
// a descriptor of the file itself: a link is never followed, a FIFO never waited on, and a
// second name of another file (a hard link) is left alone, since its mode is that file's.
// Nothing at path is fine. Anything left alone adds a warning to warnings, naming the file
// and why. Start-up, before other threads touch the file.
void makeOldFilePrivate(const std::filesystem::path& path, std::vector<std::string>* warnings);

}  // namespace ostrel::core
