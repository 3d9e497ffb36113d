#include "core/AtomicWriter.h"

#include "core/Failure.h"
#include "core/PathSuffix.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace ostrel::core {
namespace {

std::string systemMessage(int code) { return std::system_category().message(code); }

// After a rename the new directory entry is durable only once the folder is synced.
void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error) {
    const std::filesystem::path parent = path.parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
        if (ec) {
            return fail(error, "cannot create folder " + parent.string() + ": " + ec.message());
        }
    }

    const std::filesystem::path temporary = withSuffix(path, ".tmp");

    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) {
        return fail(error, "cannot create " + temporary.string());
    }

    bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    written = written && std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    if (!written) {
        std::fclose(file);
        std::remove(temporary.c_str());
        return fail(error, "cannot write " + temporary.string() + " (disk full or read-only?)");
    }
    std::fclose(file);

    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int code = errno;
        std::remove(temporary.c_str());
        return fail(error, "cannot replace " + path.string() + ": " + systemMessage(code));
    }
    syncFolder(parent);
    return true;
}

}  // namespace ostrel::core
