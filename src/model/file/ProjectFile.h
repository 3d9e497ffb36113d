#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "model/document/Project.h"

namespace ostrel::model {

// Project files (".ostproj"): one JSON document, "format" "ostrel-project", version 1.
// Written with an indent of 2, members in key order, text outside ASCII as it is and one
// line feed at the end, so one document always gives the same bytes. Keys the reader does
// not know are kept in each record's extra and written back. GUI thread; no shared state.

// Writes the project through the atomic writer. Fails, writing nothing, when the project
// holds a value a file cannot keep (a number that is not finite, text that is not UTF-8).
[[nodiscard]] bool saveProjectFile(const std::filesystem::path& path, const Project& project, std::string* error);

// The complete file text. Throws std::invalid_argument, with the same reason that
// saveProjectFile gives, for a project that cannot be written.
std::string projectToJsonText(const Project& project);

// Reads a whole file and returns parseProject of it; "cannot open " + path when it cannot
// be opened or is not a regular file (a folder, a FIFO, a device: refused without waiting),
// and a message of its own when it is larger than 256 MB. Never throws, not even when
// memory runs out.
[[nodiscard]] bool loadProjectFile(const std::filesystem::path& path, Project& out, std::string* error,
                     std::vector<std::string>* warnings);

// The reader. Stops at the first problem with one message, leaving out untouched; on
// success replaces out and appends the load's warnings. error and warnings may be null.
[[nodiscard]] bool parseProject(std::string_view text, Project& out, std::string* error, std::vector<std::string>* warnings);

}  // namespace ostrel::model
