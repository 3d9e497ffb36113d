#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ostrel::core {

// Writes a file piece by piece beside its target, as target + ".tmp", and replaces the
// target with it in one rename on commit, so the target holds either its old content or
// all of the new. The temporary file is always created fresh (whatever sits at its name
// is removed first, and a link planted there in between makes open fail), so the bytes
// never go anywhere but into a new file of our own. Until commit succeeds the target is
// untouched; a writer destroyed or discarded before that removes its temporary file.
// Reasons are one line each (error may be null; untouched on success); never throws for
// file-system failures. One thread at a time; two writers for the same target at once
// would share the temporary file.
class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates the target's missing folders and the temporary file. A writer already open
    // discards what it had first.
    [[nodiscard]] bool open(const std::filesystem::path& path, std::string* error);

    // Appends bytes. After a failure the temporary file is gone and the writer is closed.
    [[nodiscard]] bool write(std::string_view bytes, std::string* error);

    // Forces the temporary file to disk, renames it over the target and makes the rename
    // durable. The writer is closed afterwards, whatever the result.
    [[nodiscard]] bool commit(std::string* error);

    // Closes and removes the temporary file; the target keeps its old content.
    void discard() noexcept;

    bool isOpen() const { return fd_ >= 0; }

private:
    bool failWrite(std::string* error);

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
};

// Replaces the whole file at path with bytes through an AtomicFileWriter: written beside
// it, forced to disk, then renamed over the target. Any thread, for different targets.
[[nodiscard]] bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error);

}  // namespace ostrel::core
