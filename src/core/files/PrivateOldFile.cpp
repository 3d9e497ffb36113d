#include "core/files/PrivateOldFile.h"

#include "core/Failure.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::core {

namespace {

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    return "something";
}

// Why the file whose status is given must not be changed; empty when it may.
std::string whyLeftAlone(const struct stat& status) {
    if (S_ISLNK(status.st_mode)) {
        return "it is a link";
    }
    if (!S_ISREG(status.st_mode)) {
        return "it is " + kindOf(status.st_mode) + ", not a regular file";
    }
    if (status.st_nlink > 1) {
        return "it has another name (a hard link), and the mode of the file it names would change too";
    }
    return {};
}

void warn(std::vector<std::string>* warnings, const std::filesystem::path& path, const std::string& why) {
    if (warnings != nullptr) {
        warnings->push_back(path.native() + " is not made its user's alone: " + why + "; skipped");
    }
}

}  // namespace

void makeOldFilePrivate(const std::filesystem::path& path, std::vector<std::string>* warnings) {
    // Judged before it is opened too: opening some devices already does something.
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno != ENOENT) {
            warn(warnings, path, "it cannot be looked at (" + systemMessage(errno) + ")");
        }
        return;
    }
    if (const std::string why = whyLeftAlone(status); !why.empty()) {
        warn(warnings, path, why);
        return;
    }
    if ((status.st_mode & 077) == 0) {
        return;
    }
    // What may have been put at the name since is neither followed nor waited on, and is
    // judged again on the open file, which alone is changed.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP) {
            warn(warnings, path, "it is a link");
        } else if (errno != ENOENT) {
            warn(warnings, path, "it cannot be opened (" + systemMessage(errno) + ")");
        }
        return;
    }
    std::string why;
    if (::fstat(fd, &status) != 0) {
        why = "it cannot be looked at (" + systemMessage(errno) + ")";
    } else {
        why = whyLeftAlone(status);
    }
    if (why.empty() && (status.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0) {
        why = "its mode cannot be changed (" + systemMessage(errno) + ")";
    }
    ::close(fd);
    if (!why.empty()) {
        warn(warnings, path, why);
    }
}

}  // namespace ostrel::core
