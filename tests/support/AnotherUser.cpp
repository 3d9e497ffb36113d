#include "support/AnotherUser.h"

#include <grp.h>
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

void giveToNobody(const std::filesystem::path& path) {
    if (::lchown(path.c_str(), kNobody, kNobody) != 0) {
        throw std::runtime_error("cannot give " + path.string() + " to nobody");
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
