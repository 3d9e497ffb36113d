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

// A folder writes are guarded under: set by guardWrites at start-up, before other threads
// write, and then only read (signal handlers too), so plain storage behind one count.
struct WriteGuard {
    char folder[PATH_MAX]{};
    std::size_t length = 0;
    dev_t device = 0;
    ino_t inode = 0;
};
// The data folder first, then the written folders that lie outside it.
constexpr std::size_t kMaxGuarded = 16;
WriteGuard writeGuards[kMaxGuarded];
// Release on arming, acquire on reading: a reader that sees a count sees those folders.
std::atomic<std::size_t> guardedCount{0};
static_assert(std::atomic<std::size_t>::is_always_lock_free);

// Whether path is folder or lies in it, by their text. No allocation, for signal handlers.
bool isOrLiesIn(std::string_view path, std::string_view folder) noexcept {
    return path.starts_with(folder) &&
           (path.size() == folder.size() || path[folder.size()] == '/' || folder == "/");
}

// The guard whose folder path (length bytes) is or lies under and that is gone from its
// path; null when there is none.
const WriteGuard* replacedUnder(const char* path, std::size_t length) noexcept {
    const std::size_t count = guardedCount.load(std::memory_order_acquire);
    for (std::size_t i = 0; i < count; ++i) {
        const WriteGuard& guard = writeGuards[i];
        if (!isOrLiesIn({path, length}, {guard.folder, guard.length})) {
            continue;
        }
        struct stat now {};
        if (::stat(guard.folder, &now) != 0 || now.st_dev != guard.device || now.st_ino != guard.inode) {
            return &guard;
        }
    }
    return nullptr;
}

// Adds a guard for folder, unless there is no room left or its path is too long for any
// path under it to be opened either.
void addGuard(std::size_t& count, const fs::path& folder, dev_t device, ino_t inode) {
    std::string text = folder.string();
    while (text.size() > 1 && text.back() == '/') {
        text.pop_back();
    }
    if (count == kMaxGuarded || text.size() >= sizeof writeGuards[count].folder) {
        return;
    }
    WriteGuard& guard = writeGuards[count++];
    std::memcpy(guard.folder, text.c_str(), text.size() + 1);
    guard.length = text.size();
    guard.device = device;
    guard.inode = inode;
}

// Room the data folder's path must leave for the names of the files kept in it: the longest
// the program makes of its own accord ("crashes/crash-YYYYMMDD-HHMMSS-NNNN.dmp" and the
// like), with some to spare.
constexpr std::size_t kRoomForNames = 64;

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
    if (walk.end.pathToBe.size() + kRoomForNames > PATH_MAX - 1) {
        return fail(error, "its path, " + std::to_string(walk.end.pathToBe.size()) +
                               " bytes long, leaves no room for the names of the files Ostrel keeps in it (the "
                               "system names a file by at most " +
                               std::to_string(PATH_MAX - 1) + " bytes); use a folder with a shorter path");
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

// A folder the program writes into, as judged: where its files go.
struct WrittenFolder {
    std::string path;      // a real path, or the link's own until what it leads to is made
    bool toMake = false;   // a link to a missing folder
    bool linked = false;   // a link to a folder, whose identity is kept to guard writes
    struct stat status {};
};

// A written folder that is a link counts as what it leads to, which is where the files go,
// and the way there as the data folder's own; the reason goes to error.
bool judgeLinkedFolder(WrittenFolder& folder, std::string* error) {
    PathWalk walk = walkPrivatePath(folder.path, FolderRole::InsideDataFolder, MissingFolders::Leave);
    if (walk.verdict != PathWalk::Verdict::Private) {
        return fail(error, std::move(walk.reason));
    }
    folder.toMake = walk.end.kind == PathEnd::Kind::Missing;
    if (!folder.toMake) {
        // Something else than a folder is for its writer to report.
        folder.linked = walk.end.kind == PathEnd::Kind::Folder;
        folder.path = std::move(walk.end.realPath);
        folder.status = walk.end.status;
    }
    return true;
}

// Whether those of the folders the program writes into that exist are this user's alone to
// change, and where their files go; the reason goes to error.
bool subfoldersKeptPrivate(const PathEnd& place, std::span<const std::string_view> names,
                           std::vector<WrittenFolder>& written, std::string* error) {
    written.clear();
    for (const std::string_view name : names) {
        WrittenFolder& folder = written.emplace_back();
        folder.path = pathInFolder(place.realPath, name);
        UniqueFd fd;
        struct stat status {};
        if (!lookAt(place, name, fd, status)) {
            continue;
        }
        if (S_ISLNK(status.st_mode) && !judgeLinkedFolder(folder, error)) {
            return false;
        }
        if (S_ISDIR(status.st_mode)) {
            if (std::string reason = whyOpenNotPrivate(fd.get(), folder.path, status, StickyParent::no,
                                                       FolderRole::InsideDataFolder, folder.path);
                !reason.empty()) {
                return fail(error, std::move(reason));
            }
        }
    }
    return true;
}

// Makes the missing folders that links among the written folders lead to, through the same
// walk, so that nobody else can make them first between this look and the program's first
// file there; the files then go by the real path made. One that cannot be made, or is not
// the user's folder once made, makes the data folder unusable: its files would otherwise go
// by a name someone else may take.
bool makeLinkedFolders(std::vector<WrittenFolder>& written, std::string* error) {
    for (WrittenFolder& folder : written) {
        if (!folder.toMake) {
            continue;
        }
        PathWalk walk = walkPrivatePath(folder.path, FolderRole::InsideDataFolder, MissingFolders::Make);
        if (walk.verdict != PathWalk::Verdict::Private) {
            return fail(error, std::move(walk.reason));
        }
        if (walk.end.kind != PathEnd::Kind::Folder) {
            return fail(error, folder.path + " cannot be made: " + walk.end.realPath + " is not a folder");
        }
        folder.path = std::move(walk.end.realPath);
        folder.status = walk.end.status;
        folder.linked = true;
    }
    return true;
}

// Why a file the program would take orders from may not be obeyed, as the end of a sentence
// naming it "it"; empty when it may, or is missing. A link there is judged where it leads,
// and the way there. The file as judged goes to judged, for its reader: missing where there
// is nothing, or a link to nothing; what is not a regular file is for the reader to refuse.
std::string whyNotObeyable(const PathEnd& place, std::string_view name, JudgedFile& judged) {
    std::string path = pathInFolder(place.realPath, name);
    UniqueFd fd;
    struct stat status {};
    StickyParent parent = stickyParentOf(place.status);
    if (!lookAt(place, name, fd, status)) {
        return {};
    }
    if (S_ISLNK(status.st_mode)) {
        PathWalk walk = walkPrivatePath(path, FolderRole::InsideDataFolder, MissingFolders::Leave);
        if (walk.verdict != PathWalk::Verdict::Private) {
            return std::move(walk.reason);
        }
        if (walk.end.kind == PathEnd::Kind::Missing || walk.end.blocking) {
            return {};
        }
        fd = std::move(walk.end.fd);
        status = walk.end.status;
        path = std::move(walk.end.realPath);
        parent = walk.end.parent;
    }
    if (!S_ISREG(status.st_mode)) {
        judged.kind = JudgedFile::Kind::NotAFile;
        return {};
    }
    if (std::string reason = whyOpenNotPrivate(fd.get(), path, status, parent, FolderRole::ObeyedFile, "it");
        !reason.empty()) {
        return reason;
    }
    judged.fd.reset(::open(nameOfOpenFile(fd.get(), path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    judged.kind = judged.fd ? JudgedFile::Kind::Open : JudgedFile::Kind::Unopenable;
    judged.error = judged.fd ? 0 : errno;
    judged.realPath = std::move(path);
    return {};
}

}  // namespace

FolderLock::~FolderLock() {
    if (guarding_) {
        guardedCount.store(0, std::memory_order_release);
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
    std::vector<WrittenFolder> written;
    if (!reachFolder(folder, place, error) || !subfoldersKeptPrivate(place, contents.subfolders, written, error)) {
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
    if (!makeLinkedFolders(written, error)) {
        return Outcome::Unusable;
    }
    folder_ = place.realPath;
    device_ = place.status.st_dev;
    inode_ = place.status.st_ino;
    written_.clear();
    linkedOutside_.clear();
    for (WrittenFolder& one : written) {
        written_.emplace_back(one.path);
        if (one.linked && !isOrLiesIn(written_.back().native(), folder_.native())) {
            linkedOutside_.push_back({written_.back(), one.status.st_dev, one.status.st_ino});
        }
    }
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

JudgedFile FolderLock::takeObeyedFile(std::size_t index) {
    return index < obeyed_.size() ? std::move(obeyed_[index]) : JudgedFile();
}

void FolderLock::guardWrites() {
    if (!held()) {
        return;
    }
    guardedCount.store(0, std::memory_order_release);
    std::size_t count = 0;
    addGuard(count, folder_, device_, inode_);
    if (count == 0) {
        return;  // no path under it can be opened either
    }
    for (const LinkedFolder& linked : linkedOutside_) {
        addGuard(count, linked.path, linked.device, linked.inode);
    }
    guardedCount.store(count, std::memory_order_release);
    guarding_ = true;
}

bool mayWriteUnderHeldFolder(const fs::path& path, std::string* error) {
    const WriteGuard* replaced = replacedUnder(path.c_str(), path.native().size());
    if (replaced == nullptr) {
        return true;
    }
    const std::string folder(replaced->folder, replaced->length);
    if (replaced == &writeGuards[0]) {
        return fail(error, "the data folder " + folder +
                               " is no longer the one this copy of Ostrel locked (it was moved or replaced while "
                               "Ostrel ran), so nothing more is written into it");
    }
    return fail(error, "the folder " + folder +
                           ", where a folder in the data folder led when Ostrel started, is no longer the one it "
                           "found there (it was moved or replaced while Ostrel ran), so nothing more is written into it");
}

bool heldFolderReplacedUnder(const char* path) noexcept { return replacedUnder(path, std::strlen(path)) != nullptr; }

bool createFoldersToWrite(const fs::path& folder, std::string* error) {
    if (!mayWriteUnderHeldFolder(folder, error)) {
        return false;
    }
    const int code = makeFolders(folder);
    return code == 0 || fail(error, "cannot create folder " + folder.string() + ": " + systemMessage(code));
}

}  // namespace ostrel::core
