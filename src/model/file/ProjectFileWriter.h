#pragma once

#include <string>

#include "model/document/Project.h"

namespace ostrel::model {

// The project file's whole text (ProjectFile.h says its form) into text. Fails, leaving
// text untouched and the reason ("cannot save the project: ...") in error, when the
// project holds a value a file cannot keep. error may be null.
[[nodiscard]] bool writeProjectText(const Project& project, std::string& text, std::string* error);

}  // namespace ostrel::model
