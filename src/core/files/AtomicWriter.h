#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::core {

// How the written file's permission bits are chosen, and how long to wait for another
// writer of the same target.
struct AtomicWriteOptions {
    static constexpr int kKeepMode = -1;
    // kKeepMode: those of the file replaced, and 0666 less the umask for a new file.
    // Otherwise exactly these bits (say 0600 for a file that holds a secret), replaced
    // file or not. The temporary file has them from its creation, before its first byte.
    int mode = kKeepMode;
    // Long enough for any save of ours to finish, short enough that a program holding the
    // temporary file for ever costs a save, not the program.
    std::chrono::milliseconds waitForOtherWriter{3000};
    // A link at the target: written through (the file it leads to is replaced), or itself
    // replaced by the file, for a target whose name was judged and must not lead elsewhere.
    enum class LinkAtTarget { WriteThrough, Replace };
    LinkAtTarget linkAtTarget = LinkAtTarget::WriteThrough;
};

// Writes a file piece by piece beside its target, as target + ".tmp", and replaces the
// target with it in one rename on commit, so the target holds either its old content or
// all of the new. A target that is a symbolic link is written through, unless the options
// say otherwise: the link stays and the file it leads to is replaced.
//
// Two writers of one target, in one process or in two, never share a temporary file: each
// holds an advisory lock (flock) on the temporary file it fills from open until its rename
// or discard, and a writer that finds the name taken waits for that lock, for the options'
// waitForOtherWriter at most: then it fails, saying another program is writing the
// temporary file, and the target is left as it was. A temporary file
// whose lock is free (a crash's leftover) or anything else at the name (a link someone
// planted, a pipe) is removed and a fresh file made, so the bytes only ever go into a new
// regular file of the writer's own, and none is removed or truncated while another writer
// fills it. Each save then leaves a whole file; the last rename wins.
//
// A target under the data folder this process locked is not written once that folder has
// been moved or replaced (mayWriteUnderHeldFolder). While open, the temporary file is
// entered in TemporaryFiles, so a close cut short removes it.
//
// Until commit succeeds the target is untouched; a writer destroyed or discarded before
// that removes its temporary file. Reasons are one line each (error may be null; untouched
// on success); never throws for file-system failures. One thread at a time per writer.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the target's missing folders (its user's alone, as createFoldersToWrite
    // makes them) and the temporary file, waiting a while for
    // another writer that fills it. A writer already open discards what it had first.
    [[nodiscard]] bool open(const std::filesystem::path& path, std::string* error,
                            const AtomicWriteOptions& options = {});

    // Appends bytes. After a failure the temporary file is gone and the writer is closed.
    [[nodiscard]] bool write(std::string_view bytes, std::string* error);

    // Forces the temporary file to disk, gives it its mode, renames it over the target and
    // makes the rename durable. The writer is closed afterwards, whatever the result.
    [[nodiscard]] bool commit(std::string* error);

    // Closes and removes the temporary file; the target keeps its old content.
    void discard() noexcept;

    bool isOpen() const { return fd_ >= 0; }

private:
    // code: the errno value of the failed call, 0 when it set none.
    bool failWrite(std::string* error, int code);
    bool failClosed(std::string* error) const;
    void close() noexcept;

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    AtomicWriteOptions options_;
    int fd_ = -1;
    int entered_ = -1;  // the temporary file's slot in TemporaryFiles
};

// Replaces the whole file at path with bytes through an AtomicFileWriter: written beside
// it, forced to disk, then renamed over the target. Any thread; two at once for one target
// are serialised on the temporary file, within the options' wait.
[[nodiscard]] bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error,
                                       const AtomicWriteOptions& options = {});

}  // namespace ostrel::core
