#include "core/files/FolderLock.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace ostrel::core {
namespace {

namespace fs = std::filesystem;

std::string systemMessage(int code) { return std::system_category().message(code); }

struct flock wholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end, however long the file grows
    return lock;
}

// Why this process cannot make files in a folder that exists (status is its stat), as the
// end of a sentence; empty when it can.
std::string unusable(const fs::path& folder, const struct stat& status) {
    if (!S_ISDIR(status.st_mode)) {
        return "is not a folder";
    }
    if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
        return "cannot be written (" + systemMessage(errno) + ")";
    }
    return {};
}

// The same for a folder that should exist, named in the sentence.
std::string unwritable(const fs::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        return folder.string() + " cannot be reached (" + systemMessage(errno) + ")";
    }
    const std::string reason = unusable(folder, status);
    return reason.empty() ? reason : folder.string() + " " + reason;
}

// The folder, made when missing. What it fails for is looked at first, so a folder that
// cannot be made leaves nothing made on the way.
bool prepareFolder(const fs::path& folder, std::string* error) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) == 0) {
        const std::string reason = unusable(folder, status);
        return reason.empty() || fail(error, "it " + reason);
    }
    // Missing (or under a file): the nearest thing above that exists must be a folder that
    // takes new folders.
    const auto missing = [] { return errno == ENOENT || errno == ENOTDIR; };
    if (!missing()) {
        return fail(error, "it cannot be reached (" + systemMessage(errno) + ")");
    }
    fs::path above = folder.parent_path();
    while (!above.empty() && ::stat(above.c_str(), &status) != 0 && missing() && above != above.parent_path()) {
        above = above.parent_path();
    }
    if (const std::string reason = unwritable(above.empty() ? fs::path(".") : above); !reason.empty()) {
        return fail(error, "it cannot be made: " + reason);
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        return fail(error, "it cannot be made (" + ec.message() + ")");
    }
    return true;
}

// The process that holds the lock file's lock, without making the file; 0 when none does.
long holderOf(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return 0;
    }
    struct flock holder = wholeFile(F_WRLCK);
    const bool asked = ::fcntl(fd, F_GETLK, &holder) == 0;
    ::close(fd);
    return asked && holder.l_type != F_UNLCK ? static_cast<long>(holder.l_pid) : 0;
}

// Why the lock file could not be opened, in words for people.
std::string unopenable(const fs::path& path, int code) {
    switch (code) {
    case ELOOP:
        return path.string() + " is a symbolic link";
    case EISDIR:
        return path.string() + " is a folder";
    default:
        return path.string() + " cannot be opened for writing (" + systemMessage(code) + ")";
    }
}

}  // namespace

FolderLock::~FolderLock() {
    if (fileFd_ >= 0) {
        ::close(fileFd_);  // releases the lock
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
}

FolderLock::Outcome FolderLock::acquire(const fs::path& folder, std::string* error) {
    holderPid_ = 0;
    if (fileFd_ >= 0) {
        return Outcome::Held;
    }
    if (!prepareFolder(folder, error)) {
        return Outcome::Unusable;
    }
    const fs::path path = folder / kFileName;
    if (lockFolder(folder) == Outcome::HeldByOther) {
        holderPid_ = holderOf(path);
        return Outcome::HeldByOther;
    }
    const Outcome file = lockFile(path, error);
    if (file != Outcome::Held && folderFd_ >= 0) {
        ::close(folderFd_);
        folderFd_ = -1;
    }
    return file;
}

FolderLock::Outcome FolderLock::lockFolder(const fs::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Outcome::Held;  // the lock file alone guards
    }
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0) {
        folderFd_ = fd;
        return Outcome::Held;
    }
    const int code = errno;
    ::close(fd);
    // Any other failure is a file system without folder locks: the lock file alone guards.
    return code == EWOULDBLOCK ? Outcome::HeldByOther : Outcome::Held;
}

FolderLock::Outcome FolderLock::lockFile(const fs::path& path, std::string* error) {
    // O_NOFOLLOW: a link planted at the name is not ours to lock or write through.
    // O_NONBLOCK: a pipe or device planted there must not hold the start.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        fail(error, unopenable(path, errno));
        return Outcome::Failed;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        fail(error, path.string() + " is not a regular file");
        return Outcome::Failed;
    }
    // The holder may end between the refused lock and the question who holds it: then
    // the lock is free and the next try takes it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        struct flock lock = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &lock) == 0) {
            const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
            if (::ftruncate(fd, 0) == 0) {
                (void)writeAll(fd, pid.data(), pid.size());
            }
            fileFd_ = fd;
            return Outcome::Held;
        }
        const int code = errno;
        if (code != EACCES && code != EAGAIN) {
            ::close(fd);
            fail(error, path.string() + " cannot be locked (" + systemMessage(code) + ")");
            return Outcome::Failed;
        }
        struct flock holder = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type == F_UNLCK) {
            continue;
        }
        holderPid_ = static_cast<long>(holder.l_pid);
        break;
    }
    // Held by another, or taken and given up again three times over: someone else is busy with it.
    ::close(fd);
    return Outcome::HeldByOther;
}

}  // namespace ostrel::core
