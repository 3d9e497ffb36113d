#include "model/file/ProjectFile.h"

#include <cstdint>
#include <new>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "core/Failure.h"
#include "core/files/AtomicWriter.h"
#include "core/files/RegularFile.h"
#include "model/file/ProjectFileReader.h"
#include "model/file/ProjectFileWriter.h"

namespace ostrel::model {

namespace {

// Far above any real project (131,072 notes take 28 MB), low enough that reading a wrong
// file (a disk image, a video) is refused from its size before it fills the memory.
constexpr std::uint64_t kMaxProjectFileBytes = 256ull * 1024 * 1024;
const char* const kOutOfMemory = "not enough memory to open the project file";

}  // namespace

std::string projectToJsonText(const Project& project) {
    std::string text;
    std::string error;
    if (!writeProjectText(project, text, &error)) throw std::invalid_argument(error);
    return text;
}

bool saveProjectFile(const std::filesystem::path& path, const Project& project, std::string* error) {
    std::string text;
    if (!writeProjectText(project, text, error)) return false;
    return core::writeFileAtomically(path, text, error);
}

bool loadProjectFile(const std::filesystem::path& path, Project& out, std::string* error,
                     std::vector<std::string>* warnings) {
    std::string text;
    const core::DocumentReadTexts texts{"the project file is too large to open (more than 256 MB)", kOutOfMemory};
    if (!core::readDocumentFile(path, kMaxProjectFileBytes, text, texts, error)) {
        return false;
    }
    return parseProject(text, out, error, warnings);
}

bool parseProject(std::string_view text, Project& out, std::string* error, std::vector<std::string>* warnings) {
    try {
        return readProjectText(text, out, error, warnings);
    } catch (const nlohmann::json::exception& exception) {
        // Every lookup checks its kind first; this only guards against a slip.
        core::fail(error, std::string("the file could not be read: ") + exception.what());
        return false;
    } catch (const std::bad_alloc&) {
        return core::fail(error, kOutOfMemory);
    }
}

}  // namespace ostrel::model
