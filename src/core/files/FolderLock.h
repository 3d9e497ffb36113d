#pragma once

#include <filesystem>
#include <string>

namespace ostrel::core {

// One running copy per data folder: an advisory write lock (fcntl) on a file in the
// folder, held for the life of the object. The kernel releases it when the holder ends in
// any way, a crash or kill -9 included, so it is never left stuck. The file itself stays
// and holds the holder's process id as text, for people; the lock is what counts.
// The file is opened close-on-exec, so a program started from here never keeps it locked.
// One object per process and folder (a POSIX record lock ends when its process closes
// any descriptor of the file, so nothing else in the process may open it).
class FolderLock {
public:
    enum class Outcome {
        Held,         // this process holds the folder now
        HeldByOther,  // another process holds it; holderPid() says which
        Failed,       // the lock file could not be made or locked; reason in error
    };

    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Creates the folder and its lock file when missing, and tries the lock once, without
    // waiting. Only a Held outcome writes anything into the lock file.
    [[nodiscard]] Outcome acquire(const std::filesystem::path& folder, std::string* error);

    // The other holder's process id after HeldByOther (0 when the system did not say).
    long holderPid() const { return holderPid_; }
    bool held() const { return fd_ >= 0; }

    // The name of the lock file in the folder.
    static constexpr const char* kFileName = "ostrel.lock";

private:
    int fd_ = -1;
    long holderPid_ = 0;
};

}  // namespace ostrel::core
