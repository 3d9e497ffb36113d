#include "core/files/AtomicWriter.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"
#include "core/files/FolderLock.h"
#include "core/files/PathSuffix.h"
#include "core/files/TemporaryFiles.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace ostrel::core {
namespace {

// A writer that keeps finding the name changed under it gives up after this many tries;
// each try either takes the file or sees another writer finish or a leftover go.
constexpr int kOpenAttempts = 10000;

// After a rename the new directory entry is durable only once the folder is synced.
void syncFolder(const std::filesystem::path& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The file a link at path finally leads to, so the save replaces that and the link stays.
// A path that is no link, or a link whose end cannot be found, is itself the target.
std::filesystem::path resolvedTarget(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec))) {
        return path;
    }
    std::filesystem::path end = std::filesystem::weakly_canonical(path, ec);
    return ec || end.empty() ? path : end;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The bits the written file ends with, when known before it is made: those asked for, or
// those of the file it replaces; none (-1) for a new file that takes the umask's.
int finalMode(const std::filesystem::path& target, const AtomicWriteOptions& options) {
    if (options.mode != AtomicWriteOptions::kKeepMode) {
        return options.mode & 07777;
    }
    struct stat replaced {};
    if (::stat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        return static_cast<int>(replaced.st_mode & 07777);
    }
    return -1;
}

using Clock = std::chrono::steady_clock;

// Waits for the lock until the deadline, without blocking in the call: a holder that
// never lets go must cost the writer a few seconds, not its thread.
bool lockWholeFile(int fd, Clock::time_point deadline) {
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(20));
    }
}

// True when fd, locked, is still the file at path: the name has not moved on to a newer
// file since it was opened (by a rename, or a writer that cleared it away).
bool stillNamed(int fd, const std::filesystem::path& path) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && sameFile(opened, named);
}

enum class Claim { Ours, TryAgain, Busy, Failed };

// One try at making the temporary file ours: a fresh file, locked, still at its name.
// Busy when another holder kept a lock past the deadline; Failed with the errno value in
// code.
// The file is created with mode (less the umask), so it never shows wider bits than it will
// keep, not even before its first byte.
Claim claimTemporary(const std::filesystem::path& temporary, mode_t mode, int& fd, int& code,
                     Clock::time_point deadline) {
    fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
        // Another writer may lock it first and clear it away as a leftover before a byte
        // is written: then the name has moved on and this one tries again.
        if (!lockWholeFile(fd, deadline)) {
            // Left at its name: only a writer holding a file's lock removes it.
            ::close(fd);
            fd = -1;
            return Claim::Busy;
        }
        if (stillNamed(fd, temporary)) {
            return Claim::Ours;
        }
        ::close(fd);
        fd = -1;
        return Claim::TryAgain;
    }
    code = errno;
    if (code != EEXIST) {
        return Claim::Failed;
    }
    struct stat existing {};
    if (::lstat(temporary.c_str(), &existing) != 0) {
        code = errno;
        return code == ENOENT ? Claim::TryAgain : Claim::Failed;
    }
    if (S_ISDIR(existing.st_mode)) {
        code = EISDIR;
        return Claim::Failed;  // a folder is nobody's temporary file, and not ours to remove
    }
    if (!S_ISREG(existing.st_mode)) {
        // A link or a pipe planted at the name: never written through, only removed.
        ::unlink(temporary.c_str());
        return Claim::TryAgain;
    }
    // Another writer's, or a leftover: its lock tells which. Waiting for it lets the other
    // writer finish; once it is ours and still at the name, nobody is filling it.
    const int other = ::open(temporary.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (other < 0) {
        code = errno;
        return code == ENOENT || code == ELOOP ? Claim::TryAgain : Claim::Failed;
    }
    if (!lockWholeFile(other, deadline)) {
        ::close(other);
        return Claim::Busy;
    }
    if (stillNamed(other, temporary)) {
        ::unlink(temporary.c_str());
    }
    ::close(other);
    return Claim::TryAgain;
}

// Why the temporary file could not be made, after the claim that ended the tries.
std::string whyNotClaimed(Claim claim, int code) {
    switch (claim) {
    case Claim::Busy:
        return "another program is writing it";
    case Claim::Failed:
        return systemMessage(code);
    default:
        return "other files kept taking its name";
    }
}

// The system's words for a failed write or sync; a write that took no bytes sets none.
std::string whyNotWritten(int code) { return code != 0 ? systemMessage(code) : "the system took no more bytes"; }

}  // namespace

AtomicFileWriter::~AtomicFileWriter() { discard(); }

bool AtomicFileWriter::open(const std::filesystem::path& path, std::string* error, const AtomicWriteOptions& options) {
    discard();
    if (!mayWriteUnderHeldFolder(path, error)) {
        return false;
    }
    const std::filesystem::path target =
        options.linkAtTarget == AtomicWriteOptions::LinkAtTarget::Replace ? path : resolvedTarget(path);
    const std::filesystem::path parent = target.parent_path();
    if (!parent.empty() && !createFoldersToWrite(parent, error)) {
        return false;
    }

    const std::filesystem::path temporary = withSuffix(target, ".tmp");
    const Clock::time_point deadline = Clock::now() + options.waitForOtherWriter;
    const int mode = finalMode(target, options);
    // Entered before it is made: a close cut short the moment after still removes it.
    const int entered = TemporaryFiles::enter(temporary);
    int fd = -1;
    int code = 0;
    Claim claim = Claim::TryAgain;
    for (int attempt = 0; attempt < kOpenAttempts && claim == Claim::TryAgain; ++attempt) {
        claim = claimTemporary(temporary, mode < 0 ? 0666 : static_cast<mode_t>(mode) & 0777, fd, code, deadline);
    }
    if (claim != Claim::Ours) {
        TemporaryFiles::leave(entered);
        return fail(error, "cannot create " + temporary.string() + ": " + whyNotClaimed(claim, code));
    }
    // Exactly the final bits before the first byte: the umask may have taken some away.
    if (mode >= 0) {
        ::fchmod(fd, static_cast<mode_t>(mode));
    }
    target_ = target;
    temporary_ = temporary;
    options_ = options;
    fd_ = fd;
    entered_ = entered;
    return true;
}

bool AtomicFileWriter::write(std::string_view bytes, std::string* error) {
    if (fd_ < 0) {
        return failClosed(error);
    }
    errno = 0;
    if (writeAll(fd_, bytes.data(), bytes.size()) != bytes.size()) {
        return failWrite(error, errno);
    }
    return true;
}

bool AtomicFileWriter::commit(std::string* error) {
    if (fd_ < 0) {
        return failClosed(error);
    }
    if (::fsync(fd_) != 0) {
        return failWrite(error, errno);
    }
    // The mode is set before the rename, so the target never shows other bits.
    if (options_.mode != AtomicWriteOptions::kKeepMode) {
        ::fchmod(fd_, static_cast<mode_t>(options_.mode) & 07777);
    } else if (struct stat replaced {}; ::stat(target_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        ::fchmod(fd_, replaced.st_mode & 07777);
    }

    // Renamed while still locked: a writer waiting for this file then finds the name
    // moved on and makes its own.
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        const int code = errno;
        discard();
        return fail(error, "cannot replace " + target_.string() + ": " + systemMessage(code));
    }
    close();
    syncFolder(target_.parent_path());
    target_.clear();
    temporary_.clear();
    return true;
}

void AtomicFileWriter::close() noexcept {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
        fd_ = -1;
    }
    TemporaryFiles::leave(entered_);
    entered_ = -1;
}

void AtomicFileWriter::discard() noexcept {
    if (fd_ >= 0) {
        // Still locked, so the name is still this file: nobody else removes a locked one.
        ::unlink(temporary_.c_str());
        close();
    }
}

bool AtomicFileWriter::failWrite(std::string* error, int code) {
    discard();
    return fail(error, "cannot write " + temporary_.string() + ": " + whyNotWritten(code));
}

bool AtomicFileWriter::failClosed(std::string* error) const {
    if (temporary_.empty()) {
        return fail(error, "cannot write: the file was not opened");
    }
    return fail(error, "cannot write " + temporary_.string() + ": it is no longer open");
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error,
                         const AtomicWriteOptions& options) {
    AtomicFileWriter writer;
    return writer.open(path, error, options) && writer.write(bytes, error) && writer.commit(error);
}

}  // namespace ostrel::core
