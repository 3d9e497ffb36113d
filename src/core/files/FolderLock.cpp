#include "core/files/FolderLock.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"
#include "core/files/PrivateFolder.h"
#include "core/files/PrivatePath.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

namespace fs = std::filesystem;

// The folder writes are guarded under: set by guardWrites at start-up, before other threads
// write, and then only read (signal handlers too), so plain storage behind one flag.
struct WriteGuard {
    char folder[PATH_MAX]{};
    std::size_t length = 0;
    dev_t device = 0;
    ino_t inode = 0;
};
WriteGuard writeGuard;
// Release on arming, acquire on reading: a reader that sees it armed sees the folder.
std::atomic<bool> writeGuardArmed{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Whether path (length bytes) lies under the guarded folder and that is gone from its path.
bool replacedUnder(const char* path, std::size_t length) noexcept {
    if (!writeGuardArmed.load(std::memory_order_acquire)) {
        return false;
    }
    const WriteGuard& guard = writeGuard;
    if (length <= guard.length || std::memcmp(path, guard.folder, guard.length) != 0 || path[guard.length] != '/') {
        return false;
    }
    struct stat now {};
    return ::stat(guard.folder, &now) != 0 || now.st_dev != guard.device || now.st_ino != guard.inode;
}

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
        const std::string why = systemMessage(errno);  // before the user database is asked
        return "cannot be written (" + why + "; owner " + userLabel(status.st_uid) + ", mode " +
               octalMode(status.st_mode) + ")";
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

// Like create_directories, but each folder made is the user's alone (0700, less the umask),
// as per-user data folders are; folders that exist keep their modes. 0 once folder is a
// folder, else the system's error code.
int makeFolders(const fs::path& folder) {
    std::vector<fs::path> missing;
    for (fs::path at = folder; !at.empty(); at = at.parent_path()) {
        struct stat status {};
        if (::stat(at.c_str(), &status) == 0) {
            break;
        }
        missing.push_back(at);
        if (at == at.parent_path()) {
            break;
        }
    }
    for (auto at = missing.rbegin(); at != missing.rend(); ++at) {
        if (::mkdir(at->c_str(), 0700) != 0 && errno != EEXIST) {
            return errno;
        }
    }
    struct stat made {};
    if (::stat(folder.c_str(), &made) != 0) {
        return errno;
    }
    return S_ISDIR(made.st_mode) ? 0 : ENOTDIR;
}

// The folder, made when missing (made says so). What it fails for is looked at first, so a
// folder that cannot be made leaves nothing made on the way.
bool prepareFolder(const fs::path& folder, bool& made, std::string* error) {
    made = false;
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
    const int code = makeFolders(folder);
    made = true;
    return code == 0 || fail(error, "it cannot be made (" + systemMessage(code) + ")");
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

// Whether the folder (fd, or its path when it could not be opened) and those of its
// subfolders that exist are this user's alone to change; the reason goes to error.
bool keptPrivate(int fd, const fs::path& folder, std::span<const std::string_view> subfolders, std::string* error) {
    struct stat status {};
    if ((fd >= 0 ? ::fstat(fd, &status) : ::stat(folder.c_str(), &status)) != 0) {
        return fail(error, "it cannot be reached (" + systemMessage(errno) + ")");
    }
    FolderWriters writers;
    if (!readFolderWriters(fd, folder.string(), status, writers, error)) {
        return false;
    }
    if (std::string reason = whyNotPrivate(status, writers, FolderRole::DataFolder, "it"); !reason.empty()) {
        return fail(error, std::move(reason));
    }
    for (const std::string_view name : subfolders) {
        const fs::path subfolder = folder / name;
        const bool found = fd >= 0 ? ::fstatat(fd, subfolder.filename().c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
                                   : ::lstat(subfolder.c_str(), &status) == 0;
        std::string reason;
        if (found && S_ISLNK(status.st_mode)) {
            // A link counts as the folder it leads to, which is where the files would go,
            // and the way there as the data folder's own.
            reason = whyPathNotPrivate(subfolder, FolderRole::InsideDataFolder);
        } else if (found && S_ISDIR(status.st_mode)) {
            if (!readFolderWriters(-1, subfolder.string(), status, writers, &reason)) {
                reason = subfolder.string() + ": " + reason;
            } else {
                reason = whyNotPrivate(status, writers, FolderRole::InsideDataFolder, subfolder.string());
            }
        }
        if (!reason.empty()) {
            return fail(error, std::move(reason));
        }
    }
    return true;
}

// Why a file the program would take orders from is not the user's own (a link there may be
// root's too), as the end of a sentence naming it "it"; empty when it is, or is missing.
// What is not a regular file is for its reader to refuse.
std::string whyNotOwnFile(int fd, const fs::path& file) {
    struct stat status {};
    const bool found = fd >= 0 ? ::fstatat(fd, file.filename().c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0
                               : ::lstat(file.c_str(), &status) == 0;
    if (!found) {
        return {};
    }
    const uid_t me = ::geteuid();
    const std::string refusal = ", and Ostrel takes no orders from another user's file; remove it, or use another "
                                "data folder";
    if (S_ISLNK(status.st_mode)) {
        if (status.st_uid != me && status.st_uid != 0) {
            return "it is a link that belongs to the user " + userLabel(status.st_uid) + ", not to you or root (mode " +
                   octalMode(status.st_mode) + ")" + refusal;
        }
        if (::stat(file.c_str(), &status) != 0) {
            return {};
        }
    }
    if (!S_ISREG(status.st_mode) || status.st_uid == me) {
        return {};
    }
    return "it belongs to the user " + userLabel(status.st_uid) + ", not to you (mode " + octalMode(status.st_mode) +
           ")" + refusal;
}

}  // namespace

FolderLock::~FolderLock() {
    if (guarding_) {
        writeGuardArmed.store(false, std::memory_order_release);
    }
    if (fileFd_ >= 0) {
        ::close(fileFd_);  // releases the lock
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
}

FolderLock::Outcome FolderLock::acquire(const fs::path& folder, std::string* error, const PrivateContents& contents) {
    holderPid_ = 0;
    refusedFile_.clear();
    if (fileFd_ >= 0) {
        return Outcome::Held;
    }
    // The way there and what of the folder exists first, whose it is before whether it can be
    // written: nothing is made in a folder that is refused.
    if (std::string reason = whyPathNotPrivate(folder, FolderRole::DataFolder); !reason.empty()) {
        fail(error, std::move(reason));
        return Outcome::Unusable;
    }
    bool made = false;
    if (!prepareFolder(folder, made, error)) {
        return Outcome::Unusable;
    }
    // In a folder others may make names in (as /tmp), someone may have made one first.
    if (std::string reason = made ? whyPathNotPrivate(folder, FolderRole::DataFolder) : ""; !reason.empty()) {
        fail(error, std::move(reason));
        return Outcome::Unusable;
    }
    folder_ = folder;
    // Judged on the folder opened, which is the one locked and written into.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const auto refuse = [fd](Outcome outcome) {
        if (fd >= 0) {
            ::close(fd);
        }
        return outcome;
    };
    if (!keptPrivate(fd, folder, contents.subfolders, error)) {
        return refuse(Outcome::Unusable);
    }
    for (const std::string_view name : contents.files) {
        if (std::string reason = whyNotOwnFile(fd, folder / name); !reason.empty()) {
            refusedFile_ = folder / name;
            fail(error, std::move(reason));
            return refuse(Outcome::FileRefused);
        }
    }
    const fs::path path = folder / kFileName;
    if (lockFolder(fd) == Outcome::HeldByOther) {
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

FolderLock::Outcome FolderLock::lockFolder(int fd) {
    if (fd < 0) {
        return Outcome::Held;  // the lock file alone guards
    }
    int result = 0;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result == 0) {
        struct stat status {};
        if (::fstat(fd, &status) == 0) {
            device_ = status.st_dev;
            inode_ = status.st_ino;
        }
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
    // In the folder judged and locked, when it could be opened, whatever is at its path now.
    constexpr int kFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    const int fd = folderFd_ >= 0 ? ::openat(folderFd_, kFileName, kFlags, 0600) : ::open(path.c_str(), kFlags, 0600);
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
    // Another name of the same file may be any file of the user's, which the process
    // number would overwrite.
    if (status.st_nlink > 1) {
        ::close(fd);
        fail(error, path.string() + " has more than one name (a hard link)");
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

void FolderLock::guardWrites() {
    if (!held()) {
        return;
    }
    struct stat status {};
    if (folderFd_ < 0 && ::stat(folder_.c_str(), &status) == 0) {
        device_ = status.st_dev;
        inode_ = status.st_ino;
    }
    std::string folder = folder_.string();
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder.size() >= sizeof writeGuard.folder) {
        return;  // no path under it can be opened either
    }
    writeGuardArmed.store(false, std::memory_order_release);
    std::memcpy(writeGuard.folder, folder.c_str(), folder.size() + 1);
    writeGuard.length = folder.size();
    writeGuard.device = device_;
    writeGuard.inode = inode_;
    writeGuardArmed.store(true, std::memory_order_release);
    guarding_ = true;
}

bool mayWriteUnderHeldFolder(const fs::path& path, std::string* error) {
    if (!replacedUnder(path.c_str(), path.native().size())) {
        return true;
    }
    return fail(error, "the data folder " + std::string(writeGuard.folder) +
                           " is no longer the one this copy of Ostrel locked (it was moved or replaced while Ostrel "
                           "ran), so nothing more is written into it");
}

bool heldFolderReplacedUnder(const char* path) noexcept { return replacedUnder(path, std::strlen(path)); }

bool createFoldersToWrite(const fs::path& folder, std::string* error) {
    if (!mayWriteUnderHeldFolder(folder, error)) {
        return false;
    }
    const int code = makeFolders(folder);
    return code == 0 || fail(error, "cannot create folder " + folder.string() + ": " + systemMessage(code));
}

}  // namespace ostrel::core
