#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>

namespace ostrel::test {

// Files a user or a script may name by mistake or on purpose: a FIFO nobody writes to,
// and a sparse file that claims gigabytes while taking no space.
void makeFifo(const std::filesystem::path& path);
void makeSparseFile(const std::filesystem::path& path, std::uint64_t size);

// Runs load on another thread and tells whether it returned by itself. Should it block
// on the FIFO (the fault under test), reading or writing, the FIFO's other end is opened
// after a generous wait so that load can return and the test end; the wait is a safety
// net, not a measure.
// Runs work on this thread while a watchdog looks at the process's resident memory: should
// it grow by more than growthMiB (a reader that reads a device for ever, the fault under
// test), the whole process ends at once with a message and exit code 1, instead of taking
// the machine's memory until the kernel kills something.
void runWithinMemory(std::uint64_t growthMiB, const std::function<void()>& work);

bool returnsWithoutAWriter(const std::filesystem::path& fifo, const std::function<void()>& load);

// Another process holding an exclusive flock on a file (made when missing), as a program
// that never finishes writing it would, until this object goes; should the test never let
// go, the process ends by itself after a minute.
class FileHeldElsewhere {
public:
    explicit FileHeldElsewhere(const std::filesystem::path& path);
    ~FileHeldElsewhere();
    FileHeldElsewhere(const FileHeldElsewhere&) = delete;
    FileHeldElsewhere& operator=(const FileHeldElsewhere&) = delete;

    // Whether the other process holds the lock now.
    bool holding() const { return holding_; }

private:
    int child_ = -1;
    int release_ = -1;  // closed to let go
    bool holding_ = false;
};

}  // namespace ostrel::test
