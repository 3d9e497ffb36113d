#pragma once

#include "core/files/UniqueFd.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace ostrel::core {

// Why a file could not be read. Each loader words its own message from it.
enum class FileReadProblem { None, CannotOpen, NotRegularFile, TooLarge, OutOfMemory, ReadFailed };

// A regular file open for reading. Anything else at the path (a FIFO, a device, a folder,
// a socket, or a link to one) is refused without blocking and without reading from it:
// the path is checked before it is opened, opened without waiting for a writer, and the
// open file checked again. Any thread; one object per thread.
class RegularFile {
public:
    RegularFile() = default;
    ~RegularFile();
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    RegularFile(RegularFile&& other) noexcept;
    RegularFile& operator=(RegularFile&& other) noexcept;

    // A file larger than maxBytes is refused from its size (TooLarge) before a byte is read.
    [[nodiscard]] FileReadProblem open(const std::filesystem::path& path, std::uint64_t maxBytes);
    // The same for a file already open for reading, which it takes, whatever the outcome.
    [[nodiscard]] FileReadProblem adopt(UniqueFd opened, std::uint64_t maxBytes);

    // The size when opened.
    std::uint64_t size() const { return size_; }

    // Up to count bytes from offset into the buffer; got is fewer at the end of the file.
    // False on a read error, or when the file is not open.
    [[nodiscard]] bool readAt(std::uint64_t offset, void* into, std::size_t count, std::size_t& got);

    // The errno value of the last open or read that failed in a call to the system
    // (CannotOpen, ReadFailed); 0 when none has.
    int systemError() const { return systemError_; }

    // The open file's owner and mode as they are now, asked of the file itself, whatever
    // its path names since it was opened. False when not open.
    [[nodiscard]] bool status(struct stat& out) const;
    // Sets the open file's permission bits, on the file itself; the reason goes to error.
    [[nodiscard]] bool setPermissions(unsigned mode, std::string* error);

    void close();

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
    int systemError_ = 0;
};

// Replaces bytes with the whole of the open file, at most maxBytes of it (a file that grows
// past that while being read is TooLarge). Never throws: a failed allocation gives
// OutOfMemory. On any problem bytes is left empty.
[[nodiscard]] FileReadProblem readWhole(RegularFile& file, std::uint64_t maxBytes, std::string& bytes);

// readWhole of the regular file at path, opened for the read alone. systemError (may be null)
// receives the file's systemError().
[[nodiscard]] FileReadProblem readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes,
                                              std::string& bytes, int* systemError = nullptr);

// Why a file could not be opened or read, for the end of a reason: the system's words
// (CannotOpen, ReadFailed) or that it is no regular file. Empty for the problems each loader
// words itself (TooLarge, OutOfMemory) and for None.
std::string whyNotRead(FileReadProblem problem, int systemError);

// What a document loader says when its file cannot be read whole.
struct DocumentReadTexts {
    const char* tooLarge;     // the file is over the loader's limit
    const char* outOfMemory;  // its bytes would not fit in memory
};

// readRegularFile for a loader that reports failure through its result: anything that cannot
// be read as a regular file gives "cannot open " + path + ": " and why, "cannot read" for a
// read that failed.
[[nodiscard]] bool readDocumentFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& text,
                                    const DocumentReadTexts& texts, std::string* error);

}  // namespace ostrel::core
