// fuzz-links: ostrel_model
// Any bytes through the project reader: it must return, never throw or crash, and
// whatever it accepts must save, load back equal and save to the same bytes again. It
// calls a text JSON exactly when the library's own parser reads it as an object.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "model/file/ProjectFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace ostrel::model;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Project project;
    std::string error;
    std::vector<std::string> warnings;
    const nlohmann::json document = nlohmann::json::parse(text, nullptr, false, false);
    const bool libraryReads = !document.is_discarded() && document.is_object();
    if (!parseProject(text, project, &error, &warnings)) {
        if (error.empty()) std::abort();  // a failure always says why
        if (libraryReads && error == "the file is not valid JSON") std::abort();
        return 0;
    }
    if (!libraryReads) std::abort();
    const std::string saved = projectToJsonText(project);
    Project again;
    if (!parseProject(saved, again, &error, nullptr)) std::abort();
    if (!(again == project)) std::abort();
    if (projectToJsonText(again) != saved) std::abort();
    return 0;
}
