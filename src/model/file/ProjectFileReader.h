#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/document/Project.h"

namespace ostrel::model {

// The reader behind parseProject (ProjectFile.h), without its guard: stops at the first
// problem with one message, leaving out untouched; on success replaces out and appends the
// load's warnings. error and warnings may be null. May throw std::bad_alloc, and
// nlohmann::json::exception only through a slip: parseProject turns both into failures.
[[nodiscard]] bool readProjectText(std::string_view text, Project& out, std::string* error,
                                   std::vector<std::string>* warnings);

}  // namespace ostrel::model
