#pragma once

#include "core/files/JudgedFile.h"

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace ostrel::core {

// One running copy per data folder, for the life of the object. Two locks hold it:
// - an advisory lock (flock) on the folder itself, which no file can be taken from under:
//   deleting or replacing the lock file while a copy runs lets no second copy in;
// - an advisory write lock (fcntl) on a file in the folder, which holds the holder's
//   process id as text for people, says which process holds the folder, and works where
//   the file system has no folder locks (there it alone guards).
// The kernel releases both when the holder ends in any way, a crash or kill -9 included,
// so the folder is never left stuck. Both are opened close-on-exec, so a program started
// from here never keeps the folder. One object per process and folder (a POSIX record lock
// ends when its process closes any descriptor of the file, so nothing else in the process
// may open the lock file).
class FolderLock {
public:
    enum class Outcome {
        Held,         // this process holds the folder now
        HeldByOther,  // another process holds it; holderPid() says which, when it can
        Unusable,     // no folder to keep files in: not a folder, not writable, cannot be made
        Failed,       // the folder is usable but its lock could not be taken
        FileRefused,  // a file in it that the program would obey another user could have written
    };

    // What in the folder must be the user's alone besides the folder itself, where it exists.
    struct PrivateContents {
        std::span<const std::string_view> subfolders;  // folders the program writes into
        std::span<const std::string_view> files;       // files it takes orders from
    };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Creates the folder when missing (nothing at all when it cannot be made) and its lock
    // file, and tries the locks once, without waiting. Before it makes, locks or writes
    // anything, the way to the folder and what of it exists must be the user's alone to change
    // (walkPrivatePath, which makes what is missing only once what exists passed), and so must
    // the subfolders of contents that exist (whyNotPrivate): else it is Unusable. So is a
    // folder whose path leaves no room for the names of the files kept in it. A subfolder
    // that is a link to a missing folder has that folder made, on the same terms, and is
    // Unusable when it cannot be. The files of contents that exist must be root's or the
    // user's, and nobody else may change them: else FileRefused, and refusedFile() names it.
    // Only a Held outcome writes into the lock file. The reason for every outcome but Held and
    // HeldByOther goes to error: for Unusable and FileRefused what is wrong with the folder or
    // file ("it is not a folder"), for Failed which file could not be locked.
    [[nodiscard]] Outcome acquire(const std::filesystem::path& folder, std::string* error,
                                  const PrivateContents& contents = {});

    // The folder held, by its real path: no link in it, and every name in it one that only
    // the user or root may change, so it is safe to use by name. Held only.
    const std::filesystem::path& folder() const { return folder_; }

    // The file contents.files[index] names, as it was judged. Held only; once.
    JudgedFile takeObeyedFile(std::size_t index);

    // Where the files of contents.subfolders[index] go, by a real path in which only the user
    // or root may change a name: where a link there led at start (made then when missing),
    // else that folder in folder(). Held only.
    const std::filesystem::path& writtenFolder(std::size_t index) const { return written_.at(index); }

    // The file a FileRefused outcome refused.
    const std::filesystem::path& refusedFile() const { return refusedFile_; }

    // The other holder's process id after HeldByOther (0 when the system did not say).
    long holderPid() const { return holderPid_; }
    bool held() const { return fileFd_ >= 0; }

    // From now on, for the life of this object, nothing in the process writes under the
    // folder's path (mayWriteUnderHeldFolder says no) once the folder there is no longer
    // the one locked: it was moved away or replaced, and the lock guards it no more. The
    // same holds for each written folder that lies outside it: once gone from its path,
    // another user may have put their own there. Held only; start-up, before any other
    // thread writes.
    void guardWrites();

    // The name of the lock file in the folder.
    static constexpr const char* kFileName = "ostrel.lock";

private:
    // The folder's own lock; Held also where the file system has none to give.
    Outcome lockFolder(int fd);
    // In the folder open at folder (a place-only descriptor will do).
    Outcome lockFile(int folder, std::string* error);

    int folderFd_ = -1;
    int fileFd_ = -1;
    long holderPid_ = 0;
    std::filesystem::path folder_;
    std::filesystem::path refusedFile_;
    // A written folder a link led to outside the data folder, as it was when judged.
    struct LinkedFolder {
        std::filesystem::path path;
        dev_t device = 0;
        ino_t inode = 0;
    };
    std::vector<JudgedFile> obeyed_;              // in the order of contents.files
    std::vector<std::filesystem::path> written_;  // in the order of contents.subfolders
    std::vector<LinkedFolder> linkedOutside_;
    // The locked folder itself, told from another later put at its path.
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool guarding_ = false;
};

// Whether path may be written: true unless it is or lies under a folder a FolderLock guards
// (by its path as given, textually) and the folder at that path is no longer the one
// judged. The reason names the folder. Any thread; one stat(2) for a path in the folder.
[[nodiscard]] bool mayWriteUnderHeldFolder(const std::filesystem::path& path, std::string* error);

// The same question for a signal handler: no allocation, no lock. path is zero-terminated.
bool heldFolderReplacedUnder(const char* path) noexcept;

// Creates folder and its missing parents, each its user's alone (0700), when
// mayWriteUnderHeldFolder allows it; folders that exist keep their modes.
[[nodiscard]] bool createFoldersToWrite(const std::filesystem::path& folder, std::string* error);

}  // namespace ostrel::core
