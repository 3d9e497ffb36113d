#include "core/files/FolderLock.h"

#include "core/Failure.h"
#include "core/files/FileDescriptorIo.h"
#include "core/files/PrivateFolder.h"
#include "core/files/PrivatePath.h"
#include "core/files/UniqueFd.h"

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

// The process that holds the lock file's lock, without making the file; 0 when none does.
long holderOf(int folder) {
    const int fd = ::openat(folder, FolderLock::kFileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
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

// Why this process cannot make files in what a walk reached (the nearest folder, when the
// rest is missing), as the end of a sentence; empty when it can.
std::string unwritable(const PathEnd& end) {
    if (::faccessat(AT_FDCWD, nameOfOpenFile(end.fd.get(), end.realPath).c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return {};
    }
    const std::string why = systemMessage(errno);  // before the user database is asked
    return "cannot be written (" + why + "; owner " + userLabel(end.status.st_uid) + ", mode " +
           octalMode(end.status.st_mode) + ")";
}

// The data folder, reached through private folders alone and judged, and made when missing:
// the walk is tried first without making anything, so nothing is made on a way refused.
bool reachFolder(const fs::path& folder, PathEnd& place, std::string* error) {
    PathWalk walk = walkPrivatePath(folder, FolderRole::DataFolder, MissingFolders::Leave);
    if (walk.verdict != PathWalk::Verdict::Private) {
        return fail(error, std::move(walk.reason));
    }
    const bool exists = walk.end.kind == PathEnd::Kind::Folder;
    if (walk.end.kind == PathEnd::Kind::NotAFolder) {
        return fail(error, walk.end.blocking ? "it cannot be made: " + walk.end.realPath + " is not a folder"
                                             : std::string("it is not a folder"));
    }
    if (const std::string reason = unwritable(walk.end); !reason.empty()) {
        return fail(error, exists ? "it " + reason : "it cannot be made: " + walk.end.realPath + " " + reason);
    }
    if (!exists) {
        walk = walkPrivatePath(folder, FolderRole::DataFolder, MissingFolders::Make);
        if (walk.verdict != PathWalk::Verdict::Private) {
            return fail(error, std::move(walk.reason));
        }
        if (walk.end.kind != PathEnd::Kind::Folder) {
            return fail(error, "it cannot be made: " + walk.end.realPath + " is not a folder");
        }
    }
    place = std::move(walk.end);
    return true;
}

// A name in the data folder, looked at where it is, never through a link; false when there
// is nothing there.
bool lookAt(const PathEnd& place, std::string_view name, UniqueFd& fd, struct stat& status) {
    fd.reset(::openat(place.fd.get(), std::string(name).c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    return fd && ::fstat(fd.get(), &status) == 0;
}

// Whether those of the folders the program writes into that exist are this user's alone to
// change; the reason goes to error. One that is a link counts as the folder it leads to,
// which is where the files would go, and the way there as the data folder's own; where that
// is missing, linked names it, for the caller to make.
bool subfoldersKeptPrivate(const PathEnd& place, std::span<const std::string_view> names,
                           std::vector<std::string>& linked, std::string* error) {
    for (const std::string_view name : names) {
        const std::string path = pathInFolder(place.realPath, name);
        UniqueFd fd;
        struct stat status {};
        if (!lookAt(place, name, fd, status)) {
            continue;
        }
        std::string reason;
        if (S_ISLNK(status.st_mode)) {
            PathWalk walk = walkPrivatePath(path, FolderRole::InsideDataFolder, MissingFolders::Leave);
            reason = std::move(walk.reason);
            if (walk.verdict == PathWalk::Verdict::Private && walk.end.kind == PathEnd::Kind::Missing) {
                linked.push_back(path);
            }
        } else if (S_ISDIR(status.st_mode)) {
            reason = whyOpenNotPrivate(fd.get(), path, status, FolderRole::InsideDataFolder, path);
        }
        if (!reason.empty()) {
            return fail(error, std::move(reason));
        }
    }
    return true;
}

// Makes the missing folders that links among the written folders lead to, through the same
// walk, so that nobody else can make them first between this look and the program's first
// file there. One that cannot be made is left to its writer to report.
bool makeLinkedFolders(const std::vector<std::string>& linked, std::string* error) {
    for (const std::string& path : linked) {
        PathWalk walk = walkPrivatePath(path, FolderRole::InsideDataFolder, MissingFolders::Make);
        if (walk.verdict == PathWalk::Verdict::NotPrivate) {
            return fail(error, std::move(walk.reason));
        }
    }
    return true;
}

// Why a file the program would take orders from may not be obeyed, as the end of a sentence
// naming it "it"; empty when it may, or is missing. A link there is judged where it leads,
// and the way there. What is not a regular file is for its reader to refuse. A file that
// may be obeyed comes back in readable, the very file judged, when this user may read it.
std::string whyNotObeyable(const PathEnd& place, std::string_view name, UniqueFd& readable) {
    std::string path = pathInFolder(place.realPath, name);
    UniqueFd fd;
    struct stat status {};
    if (!lookAt(place, name, fd, status)) {
        return {};
    }
    if (S_ISLNK(status.st_mode)) {
        PathWalk walk = walkPrivatePath(path, FolderRole::InsideDataFolder, MissingFolders::Leave);
        if (walk.verdict != PathWalk::Verdict::Private) {
            return std::move(walk.reason);
        }
        if (walk.end.kind != PathEnd::Kind::NotAFolder || walk.end.blocking) {
            return {};
        }
        fd = std::move(walk.end.fd);
        status = walk.end.status;
        path = std::move(walk.end.realPath);
    }
    if (!S_ISREG(status.st_mode)) {
        return {};
    }
    if (std::string reason = whyOpenNotPrivate(fd.get(), path, status, FolderRole::ObeyedFile, "it");
        !reason.empty()) {
        return reason;
    }
    readable.reset(::open(nameOfOpenFile(fd.get(), path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return {};
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
    // Whose the way and the folder are before whether it can be written, and all of it
    // before anything is made in it.
    PathEnd place;
    std::vector<std::string> linked;
    if (!reachFolder(folder, place, error) || !subfoldersKeptPrivate(place, contents.subfolders, linked, error)) {
        return Outcome::Unusable;
    }
    obeyed_.clear();
    for (const std::string_view name : contents.files) {
        if (std::string reason = whyNotObeyable(place, name, obeyed_.emplace_back()); !reason.empty()) {
            refusedFile_ = folder / name;
            fail(error, std::move(reason));
            return Outcome::FileRefused;
        }
    }
    if (!makeLinkedFolders(linked, error)) {
        return Outcome::Unusable;
    }
    folder_ = place.realPath;
    device_ = place.status.st_dev;
    inode_ = place.status.st_ino;
    // The folder lock needs a descriptor opened for reading; the one of the walk is a place.
    if (lockFolder(::openat(place.fd.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) == Outcome::HeldByOther) {
        holderPid_ = holderOf(place.fd.get());
        return Outcome::HeldByOther;
    }
    const Outcome file = lockFile(place.fd.get(), error);
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
        folderFd_ = fd;
        return Outcome::Held;
    }
    const int code = errno;
    ::close(fd);
    // Any other failure is a file system without folder locks: the lock file alone guards.
    return code == EWOULDBLOCK ? Outcome::HeldByOther : Outcome::Held;
}

FolderLock::Outcome FolderLock::lockFile(int folder, std::string* error) {
    // O_NOFOLLOW: a link planted at the name is not ours to lock or write through.
    // O_NONBLOCK: a pipe or device planted there must not hold the start.
    // In the folder judged, whatever is at its path now.
    constexpr int kFlags = O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    const fs::path path = folder_ / kFileName;
    const int fd = ::openat(folder, kFileName, kFlags, 0600);
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

UniqueFd FolderLock::takeObeyedFile(std::size_t index) {
    return index < obeyed_.size() ? std::move(obeyed_[index]) : UniqueFd();
}

void FolderLock::guardWrites() {
    if (!held()) {
        return;
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
