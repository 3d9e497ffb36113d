// fuzz-links: ostrel_devices
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "devices/patches/PatchFile.h"

// Any text: the reader never throws or crashes, fails without touching the patch, and
// whatever it accepts saves and reads back to the same patch and the same bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using ostrel::engine::Patch;

    Patch patch;
    patch.name = "sentinel";
    std::string error;
    std::vector<std::string> warnings;
    if (!ostrel::engine::parsePatch(text, patch, &error, &warnings)) {
        if (error.empty() || patch.name != "sentinel" || !patch.nodes.empty()) std::abort();
        return 0;
    }
    if (patch.voices < 1 || patch.voices > 8 || patch.category.empty()) std::abort();

    const std::string saved = ostrel::engine::serializePatch(patch);
    Patch again;
    if (!ostrel::engine::parsePatch(saved, again, &error, nullptr)) std::abort();
    if (!(again == patch) || ostrel::engine::serializePatch(again) != saved) std::abort();
    return 0;
}
