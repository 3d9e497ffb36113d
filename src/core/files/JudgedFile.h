#pragma once

#include "core/files/UniqueFd.h"

#include <filesystem>

namespace ostrel::core {

// A file the program takes orders from, as it was judged at start: its reader reads what was
// judged, never the name again, which by then may lead elsewhere.
struct JudgedFile {
    enum class Kind {
        Missing,     // nothing there, or a link to nothing: the defaults
        Open,        // fd is the very file judged, open for reading
        NotAFile,    // a folder, a device or a pipe: left alone
        Unopenable,  // a regular file this user may not open; error says why
    };
    Kind kind = Kind::Missing;
    UniqueFd fd;
    int error = 0;
    // Open: the file's real path, in which only the user or root may change a name.
    std::filesystem::path realPath;
};

}  // namespace ostrel::core
