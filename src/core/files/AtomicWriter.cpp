#include "core/files/AtomicWriter.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"
#include "core/files/PathSuffix.h"

#include <cerrno>
#include <cstdio>
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

AtomicFileWriter::~AtomicFileWriter() { discard(); }

bool AtomicFileWriter::open(const std::filesystem::path& path, std::string* error) {
    discard();
    const std::filesystem::path parent = path.parent_path();
    if (!parent.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(parent, ec);
        if (ec) {
            return fail(error, "cannot create folder " + parent.string() + ": " + ec.message());
        }
    }

    const std::filesystem::path temporary = withSuffix(path, ".tmp");
    // A leftover from a crash, or a link someone planted there: either way not ours to
    // write through. A folder stays, and the exclusive create below then refuses it.
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return fail(error, "cannot create " + temporary.string());
    }
    target_ = path;
    temporary_ = temporary;
    fd_ = fd;
    return true;
}

bool AtomicFileWriter::write(std::string_view bytes, std::string* error) {
    if (fd_ < 0) {
        return failWrite(error);
    }
    if (writeAll(fd_, bytes.data(), bytes.size()) != bytes.size()) {
        return failWrite(error);
    }
    return true;
}

bool AtomicFileWriter::commit(std::string* error) {
    if (fd_ < 0) {
        return failWrite(error);
    }
    if (::fsync(fd_) != 0) {
        return failWrite(error);
    }
    // The data is on disk; a failure to close cannot lose it.
    ::close(fd_);
    fd_ = -1;

    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int code = errno;
        ::unlink(temporary_.c_str());
        return fail(error, "cannot replace " + target_.string() + ": " + systemMessage(code));
    }
    syncFolder(target_.parent_path());
    target_.clear();
    temporary_.clear();
    return true;
}

void AtomicFileWriter::discard() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(temporary_.c_str());
    }
}

bool AtomicFileWriter::failWrite(std::string* error) {
    discard();
    if (temporary_.empty()) {
        return fail(error, "cannot write: the file was not opened");
    }
    return fail(error, "cannot write " + temporary_.string() + " (disk full or read-only?)");
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error) {
    AtomicFileWriter writer;
    return writer.open(path, error) && writer.write(bytes, error) && writer.commit(error);
}

}  // namespace ostrel::core
