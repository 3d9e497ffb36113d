#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "devices/patches/Patch.h"

namespace ostrel::engine { inline namespace devices {

// Patch files (".ostpatch"): one JSON document, "format" "ostrel-patch", "format_version" 1.
// The same patch always gives the same bytes. GUI thread; no shared state.

// The whole file text. Throws std::invalid_argument (with the reason savePatchFile gives)
// for a patch that could not be read back: text that is not UTF-8, a knob value that is
// not finite, or two modules with one id.
std::string serializePatch(const Patch& patch);

// Writes the file through the atomic writer; the old content survives any failure.
// Returns false with a reason (error may be null) for an unsavable patch too.
[[nodiscard]] bool savePatchFile(const std::filesystem::path& path, const Patch& patch, std::string* error);

// Readers: on success out is replaced and the newer-version warning, if any, is appended to
// warnings; on failure out is untouched and error gets one message. Never throw, not even
// when memory runs out. The file reader refuses anything but a regular file without
// waiting, and a file larger than 16 MB from its size.
[[nodiscard]] bool parsePatch(std::string_view text, Patch& out, std::string* error, std::vector<std::string>* warnings);
[[nodiscard]] bool loadPatchFile(const std::filesystem::path& path, Patch& out, std::string* error,
                   std::vector<std::string>* warnings);

} }  // namespace ostrel::engine::devices
