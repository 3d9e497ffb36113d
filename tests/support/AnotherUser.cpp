#include "support/AnotherUser.h"

#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

namespace ostrel::test {

bool mayActAsAnotherUser() { return ::geteuid() == 0; }

void becomeAnotherUser() {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
        ::_exit(kCouldNotBecomeAnotherUser);
    }
}

namespace {

// Writes a whole short text into a file of /proc; only system calls.
bool writeProcFile(const char* path, const char* text, std::size_t length) {
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    const bool written = fd >= 0 && ::write(fd, text, length) == static_cast<ssize_t>(length);
    if (fd >= 0) {
        ::close(fd);
    }
    return written;
}

}  // namespace

void becomeUserInOwnNamespace() {
    static_assert(kNamespaceUser == 54321, "the maps below name it");
    static constexpr char kMap[] = "54321 54321 1\n";
    static constexpr char kDeny[] = "deny";
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNamespaceUser) != 0 || ::setuid(kNamespaceUser) != 0) {
        ::_exit(kCouldNotBecomeAnotherUser);
    }
    // Changing users made the process's own /proc files root's, the maps among them.
    (void)::prctl(PR_SET_DUMPABLE, 1);
    if (::unshare(CLONE_NEWUSER) != 0 || !writeProcFile("/proc/self/uid_map", kMap, sizeof kMap - 1) ||
        !writeProcFile("/proc/self/setgroups", kDeny, sizeof kDeny - 1) ||
        !writeProcFile("/proc/self/gid_map", kMap, sizeof kMap - 1)) {
        ::_exit(kCouldNotMakeNamespace);
    }
}

namespace {

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

std::string whyAnotherUserCannotReach(const std::filesystem::path& path) {
    const std::filesystem::path absolute = std::filesystem::absolute(path);
    // Nobody is neither the owner nor in the group here, so the bits for others decide.
    for (std::filesystem::path folder = absolute.parent_path();; folder = folder.parent_path()) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0) {
            return folder.string() + " cannot be looked at";
        }
        if ((info.st_mode & S_IXOTH) == 0) {
            return folder.string() + " is " + octal(info.st_mode) + ": other users may not enter it";
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
    struct stat info {};
    if (::stat(absolute.c_str(), &info) != 0) {
        return absolute.string() + " does not exist";
    }
    const bool folder = S_ISDIR(info.st_mode);
    const bool runnable = !folder && (info.st_mode & S_IXUSR) != 0;
    const mode_t needed = S_IROTH | (folder || runnable ? S_IXOTH : 0);
    if ((info.st_mode & needed) != needed) {
        return absolute.string() + " is " + octal(info.st_mode) + ": other users may not " +
               (folder ? "enter it" : runnable ? "run it" : "read it");
    }
    return {};
}

void giveToNobody(const std::filesystem::path& path) { giveTo(path, kNobody); }

void giveTo(const std::filesystem::path& path, int user) {
    if (::lchown(path.c_str(), static_cast<uid_t>(user), static_cast<gid_t>(user)) != 0) {
        throw std::runtime_error("cannot give " + path.string() + " to the user " + std::to_string(user));
    }
}

void setAccessList(const std::filesystem::path& path, const std::string& text) {
    acl_t list = ::acl_from_text(text.c_str());
    const bool set = list != nullptr && ::acl_set_file(path.c_str(), ACL_TYPE_ACCESS, list) == 0;
    if (list != nullptr) {
        ::acl_free(list);
    }
    if (!set) {
        throw std::runtime_error("cannot give " + path.string() + " the access list " + text);
    }
}

CopiesForAnotherUser::CopiesForAnotherUser(const std::vector<std::filesystem::path>& files) {
    namespace fs = std::filesystem;
    fs::permissions(dir_.path(), fs::perms(0755));
    for (const fs::path& original : files) {
        const fs::path copy = dir_.path() / original.filename();
        std::error_code ec;
        fs::copy_file(original, copy, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            problem_ = "cannot copy " + original.string() + " for another user: " + ec.message();
            return;
        }
        const bool runnable = (fs::status(original).permissions() & fs::perms::owner_exec) != fs::perms::none;
        fs::permissions(copy, fs::perms(runnable ? 0755 : 0644));
        if (std::string why = whyAnotherUserCannotReach(copy); !why.empty()) {
            problem_ = "another user cannot reach the copy of " + original.string() + ": " + why +
                       " (set TMPDIR to a folder other users may enter)";
            return;
        }
        copies_[original] = copy;
    }
}

std::filesystem::path CopiesForAnotherUser::of(const std::filesystem::path& original) const {
    const auto copy = copies_.find(original);
    if (copy == copies_.end()) {
        throw std::logic_error("no copy of " + original.string() + " for another user");
    }
    return copy->second;
}

}  // namespace ostrel::test
