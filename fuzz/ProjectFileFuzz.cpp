// fuzz-links: ostrel_model
// Any bytes through the project reader: it must return, never throw or crash, and
// whatever it accepts must save, load back equal and save to the same bytes again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "model/ProjectFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ostrel::model;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Project project;
    std::string error;
    std::vector<std::string> warnings;
    if (!parseProject(text, project, &error, &warnings)) {
        if (error.empty()) std::abort();  // a failure always says why
        return 0;
    }
    const std::string saved = projectToJsonText(project);
    Project again;
    if (!parseProject(saved, again, &error, nullptr)) std::abort();
    if (!(again == project)) std::abort();
    if (projectToJsonText(again) != saved) std::abort();
    return 0;
}
