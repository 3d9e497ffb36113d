#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::core {

// Replaces the whole file at path with bytes: written beside it as path + ".tmp",
// forced to disk, then renamed over the target, so the target holds either its old
// content or all of the new. Returns false with a one-line reason on failure (error may
// be null; it is untouched on success). Never throws for file-system failures.
// Any thread; two calls for the same target at once would share the temporary file.
[[nodiscard]] bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error);

}  // namespace ostrel::core
