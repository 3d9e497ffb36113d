#include "core/files/RegularFile.h"

#include "core/Failure.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace ostrel::core {

RegularFile::~RegularFile() { close(); }

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)),
      systemError_(std::exchange(other.systemError_, 0)) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
        systemError_ = std::exchange(other.systemError_, 0);
    }
    return *this;
}

void RegularFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

FileReadProblem RegularFile::open(const std::filesystem::path& path, std::uint64_t maxBytes) {
    close();
    // Refused before opening: opening some devices already does something (a tape rewinds).
    systemError_ = 0;
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        systemError_ = errno;
        return FileReadProblem::CannotOpen;
    }
    if (!S_ISREG(status.st_mode)) {
        return FileReadProblem::NotRegularFile;
    }
    // The path may be swapped for a FIFO between the check and the open: O_NONBLOCK keeps
    // that open from waiting for a writer, and the check on the open file catches it.
    // Reads from a regular file ignore O_NONBLOCK.
    UniqueFd opened(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!opened) {
        systemError_ = errno;
        return FileReadProblem::CannotOpen;
    }
    return adopt(std::move(opened), maxBytes);
}

FileReadProblem RegularFile::adopt(UniqueFd opened, std::uint64_t maxBytes) {
    close();
    systemError_ = 0;
    struct stat status {};
    if (::fstat(opened.get(), &status) != 0) {
        systemError_ = errno;
        return FileReadProblem::CannotOpen;
    }
    if (!S_ISREG(status.st_mode)) {
        return FileReadProblem::NotRegularFile;
    }
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > maxBytes) {
        return FileReadProblem::TooLarge;
    }
    fd_ = opened.release();
    size_ = size;
    return FileReadProblem::None;
}

bool RegularFile::readAt(std::uint64_t offset, void* into, std::size_t count, std::size_t& got) {
    got = 0;
    if (fd_ < 0) {
        return false;
    }
    char* to = static_cast<char*>(into);
    while (got < count) {
        const ssize_t n = ::pread(fd_, to + got, count - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            systemError_ = errno;
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool RegularFile::status(struct stat& out) const { return fd_ >= 0 && ::fstat(fd_, &out) == 0; }

bool RegularFile::setPermissions(unsigned mode, std::string* error) {
    if (fd_ < 0) {
        return fail(error, "the file is not open");
    }
    if (::fchmod(fd_, static_cast<mode_t>(mode)) != 0) {
        return fail(error, "its mode cannot be changed: " + std::system_category().message(errno));
    }
    return true;
}

FileReadProblem readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& bytes,
                                int* systemError) {
    bytes.clear();
    RegularFile file;
    FileReadProblem problem = file.open(path, maxBytes);
    if (problem == FileReadProblem::None) {
        problem = readWhole(file, maxBytes, bytes);
    }
    if (systemError != nullptr) {
        *systemError = file.systemError();
    }
    return problem;
}

std::string whyNotRead(FileReadProblem problem, int systemError) {
    switch (problem) {
    case FileReadProblem::CannotOpen:
    case FileReadProblem::ReadFailed:
        return systemMessage(systemError);
    case FileReadProblem::NotRegularFile:
        return "it is not a regular file";
    default:
        return {};
    }
}

FileReadProblem readWhole(RegularFile& file, std::uint64_t maxBytes, std::string& bytes) {
    bytes.clear();
    try {
        // The size from fstat first; then on to the end, for a file that grew since, or one
        // (in /proc) that tells no size at all.
        constexpr std::size_t kChunk = 65536;
        std::size_t used = 0;
        std::size_t want = static_cast<std::size_t>(file.size());
        for (;;) {
            bytes.resize(used + want);
            std::size_t got = 0;
            if (!file.readAt(used, bytes.data() + used, want, got)) {
                bytes.clear();
                return FileReadProblem::ReadFailed;
            }
            used += got;
            if (used > maxBytes) {
                bytes.clear();
                return FileReadProblem::TooLarge;
            }
            if (got < want) {
                break;
            }
            // One byte past the limit is enough to tell that the file is too large.
            const std::uint64_t room = maxBytes - used;
            want = room >= kChunk ? kChunk : static_cast<std::size_t>(room) + 1;
        }
        bytes.resize(used);
        return FileReadProblem::None;
    } catch (const std::bad_alloc&) {
        bytes.clear();
        bytes.shrink_to_fit();
        return FileReadProblem::OutOfMemory;
    }
}

bool readDocumentFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& text,
                      const DocumentReadTexts& texts, std::string* error) {
    int code = 0;
    const FileReadProblem problem = readRegularFile(path, maxBytes, text, &code);
    switch (problem) {
    case FileReadProblem::None:
        return true;
    case FileReadProblem::TooLarge:
        return fail(error, texts.tooLarge);
    case FileReadProblem::OutOfMemory:
        return fail(error, texts.outOfMemory);
    case FileReadProblem::ReadFailed:
        return fail(error, "cannot read " + path.string() + ": " + whyNotRead(problem, code));
    case FileReadProblem::CannotOpen:
    case FileReadProblem::NotRegularFile:  // a folder, a FIFO, a device
        break;
    }
    return fail(error, "cannot open " + path.string() + ": " + whyNotRead(problem, code));
}

}  // namespace ostrel::core
