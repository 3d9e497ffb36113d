#include "core/files/PrivatePath.h"

#include "core/Failure.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

// As many links as the kernel follows in one path before it gives up (ELOOP).
constexpr int kMaxLinks = 40;

std::string joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// The folder above a real path ("/" for "/" itself).
std::string parentOf(const std::string& folder) {
    const std::size_t slash = folder.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : folder.substr(0, slash);
}

// The names of path, last first, so the next to look up is at the back; "." and empty
// names (doubled or trailing slashes) go nowhere.
void pushNames(std::vector<std::string>& pending, const std::string& path) {
    std::size_t end = path.size();
    while (end > 0) {
        const std::size_t slash = path.find_last_of('/', end - 1);
        const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
        std::string name = path.substr(begin, end - begin);
        if (!name.empty() && name != ".") {
            pending.push_back(std::move(name));
        }
        if (slash == std::string::npos) {
            break;
        }
        end = slash;
    }
}

// The current folder's real path (the kernel keeps no links in it), or "" with errno set.
std::string currentFolder() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    // A current folder removed since is "(unreachable)...": no path leads there.
    if (buffer[0] != '/') {
        errno = ENOENT;
        return {};
    }
    return buffer.data();
}

// Where a link leads, or false with errno set.
bool linkTarget(const std::string& link, const struct stat& status, std::string& target) {
    // Some file systems give links no size; PATH_MAX holds any target the kernel follows.
    std::vector<char> buffer(status.st_size > 0 ? static_cast<std::size_t>(status.st_size) + 1 : PATH_MAX);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            target.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);  // it grew since it was looked at
    }
}

// One folder entered, judged by role; "" when it may be. The folder at the end is called what
// the caller calls it (target), one on the way by its real path.
std::string judged(const std::string& path, const struct stat& status, FolderRole role, const std::string& target) {
    const std::string& name = role == FolderRole::OnTheWay ? path : target;
    FolderWriters writers;
    std::string error;
    if (!readFolderWriters(-1, path, status, writers, &error)) {
        return (role == FolderRole::DataFolder ? "" : name + ": ") + error;
    }
    return whyNotPrivate(status, writers, role, name, target);
}

}  // namespace

std::string whyPathNotPrivate(const std::filesystem::path& folder, FolderRole role) {
    const std::string target = role == FolderRole::DataFolder ? "it" : folder.string();
    std::string whole = folder.native();
    if (whole.empty() || whole.front() != '/') {
        const std::string here = currentFolder();
        if (here.empty()) {
            const int code = errno;
            return target + " cannot be reached (the current folder: " + systemMessage(code) + ")";
        }
        whole = here + "/" + whole;
    }
    std::vector<std::string> pending;
    pushNames(pending, whole);

    // The folder reached, a real path, and whether it was judged as the one path names.
    std::string at = "/";
    bool judgedAsTarget = false;
    struct stat status {};
    if (::lstat("/", &status) != 0) {
        const int code = errno;
        return target + " cannot be reached (/: " + systemMessage(code) + ")";
    }
    if (!pending.empty()) {
        if (std::string reason = judged(at, status, FolderRole::OnTheWay, target); !reason.empty()) {
            return reason;
        }
    }
    int links = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == "..") {
            at = parentOf(at);  // judged on the way down
            judgedAsTarget = false;
            continue;
        }
        const std::string next = joined(at, name);
        if (::lstat(next.c_str(), &status) != 0) {
            const int code = errno;
            if (code == ENOENT) {
                return {};  // the rest is to be made
            }
            struct stat above {};
            if (code == EACCES && ::stat(at.c_str(), &above) == 0) {
                return target + " cannot be reached: you may not look into " + at + " (owner " +
                       userLabel(above.st_uid) + ", mode " + octalMode(above.st_mode) + ")";
            }
            return target + " cannot be reached (" + next + ": " + systemMessage(code) + ")";
        }
        if (S_ISLNK(status.st_mode)) {
            if (status.st_uid != ::geteuid() && status.st_uid != 0) {
                return "the link " + next + " on the way to " + target + " belongs to the user " +
                       userLabel(status.st_uid) + ", not to you or root (mode " + octalMode(status.st_mode) +
                       "); remove that link, or use a data folder elsewhere";
            }
            std::string leadsTo;
            if (++links > kMaxLinks) {
                return target + " cannot be reached (" + next + ": " + systemMessage(ELOOP) + ")";
            }
            if (!linkTarget(next, status, leadsTo)) {
                const int code = errno;
                return target + " cannot be reached (" + next + ": " + systemMessage(code) + ")";
            }
            if (leadsTo.empty()) {
                return {};  // leads nowhere: nothing there to judge, nothing to make either
            }
            if (leadsTo.front() == '/') {
                at = "/";  // judged first
                judgedAsTarget = false;
            }
            pushNames(pending, leadsTo);
            continue;
        }
        if (!S_ISDIR(status.st_mode)) {
            return {};  // not a folder: the caller says so
        }
        const bool last = pending.empty();
        if (std::string reason = judged(next, status, last ? role : FolderRole::OnTheWay, target); !reason.empty()) {
            return reason;
        }
        at = next;
        judgedAsTarget = last;
    }
    // Ended on "..", on a link to "/", or named "/" itself: the folder reached is the one
    // path names, and was only judged as a folder on the way.
    if (!judgedAsTarget) {
        if (::lstat(at.c_str(), &status) != 0) {
            const int code = errno;
            return target + " cannot be reached (" + at + ": " + systemMessage(code) + ")";
        }
        return judged(at, status, role, target);
    }
    return {};
}

}  // namespace ostrel::core
