#include "core/files/FolderLock.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace ostrel::core {
namespace {

struct flock wholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end, however long the file grows
    return lock;
}

}  // namespace

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

FolderLock::Outcome FolderLock::acquire(const std::filesystem::path& folder, std::string* error) {
    holderPid_ = 0;
    if (fd_ >= 0) {
        return Outcome::Held;
    }
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
        fail(error, "cannot create folder " + folder.string() + ": " + ec.message());
        return Outcome::Failed;
    }
    const std::filesystem::path path = folder / kFileName;
    // O_NOFOLLOW: a link planted at the name is not ours to lock or write through.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
    if (fd < 0) {
        fail(error, "cannot open " + path.string() + ": " + std::system_category().message(errno));
        return Outcome::Failed;
    }
    // The holder may end between the refused lock and the question who holds it: then
    // the lock is free and the next try takes it.
    bool locked = false;
    for (int attempt = 0; attempt < 3 && !locked; ++attempt) {
        struct flock lock = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_SETLK, &lock) == 0) {
            locked = true;
            break;
        }
        const int code = errno;
        if (code != EACCES && code != EAGAIN) {
            ::close(fd);
            fail(error, "cannot lock " + path.string() + ": " + std::system_category().message(code));
            return Outcome::Failed;
        }
        struct flock holder = wholeFile(F_WRLCK);
        if (::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type == F_UNLCK) {
            continue;
        }
        holderPid_ = static_cast<long>(holder.l_pid);
        ::close(fd);
        return Outcome::HeldByOther;
    }
    if (!locked) {  // taken and given up again three times over: someone else is busy with it
        ::close(fd);
        return Outcome::HeldByOther;
    }
    const std::string pid = std::to_string(static_cast<long>(::getpid())) + "\n";
    if (::ftruncate(fd, 0) == 0) {
        (void)writeAll(fd, pid.data(), pid.size());
    }
    fd_ = fd;
    return Outcome::Held;
}

}  // namespace ostrel::core
