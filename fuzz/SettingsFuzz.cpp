// fuzz-links: ostrel_core
// Arbitrary bytes as settings.json: loading never throws or crashes, and whatever loads
// is written out as a file that loads again without warnings to the same bytes.
#include "core/settings/SettingsRegistry.h"
#include "core/settings/SettingsStore.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace ostrel::core;

// Kept as plain characters: the clean-up at exit runs after static objects are gone.
char folderName[4096];

const fs::path& folder() {
    static const fs::path made = [] {
        const std::string pattern = (fs::temp_directory_path() / "settings-fuzz-XXXXXX").string();
        if (pattern.size() >= sizeof folderName) {
            std::abort();
        }
        pattern.copy(folderName, pattern.size());
        if (::mkdtemp(folderName) == nullptr) {
            std::abort();
        }
        std::atexit([] {
            std::error_code ignored;
            fs::remove_all(folderName, ignored);
        });
        return fs::path(folderName);
    }();
    return made;
}

void put(const fs::path& file, const char* bytes, std::size_t size) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes, static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const SettingsRegistry registry = buildSettingsRegistry();
    const fs::path file = folder() / "settings.json";
    put(file, reinterpret_cast<const char*>(data), size);

    SettingsStore store(registry);
    store.load(file);
    std::string error;
    const std::string text = store.toJsonText(&error);
    if (text.empty()) {
        std::fprintf(stderr, "loaded settings cannot be written: %s\n", error.c_str());
        std::abort();
    }

    put(file, text.data(), text.size());
    SettingsStore again(registry);
    if (!again.load(file).empty() || again.toJsonText() != text) {
        std::fprintf(stderr, "a written settings file does not load back to itself\n");
        std::abort();
    }
    return 0;
}
