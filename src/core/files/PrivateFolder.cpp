#include "core/files/PrivateFolder.h"

#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace ostrel::core {
namespace {

// Room for one entry of the user or group database; grown when an entry needs more.
constexpr std::size_t kEntryBytes = 16384;

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The user's name, or "" when the database has none.
std::string userName(uid_t uid) {
    std::vector<char> buffer(kEntryBytes);
    passwd entry{};
    passwd* found = nullptr;
    while (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    return found != nullptr ? std::string(found->pw_name) : std::string();
}

// The name, or the number when the user has none.
std::string userLabel(uid_t uid) {
    const std::string name = userName(uid);
    return name.empty() ? std::to_string(uid) : name;
}

std::string groupLabel(gid_t gid, const group* found) {
    return found != nullptr ? std::string(found->gr_name) : std::to_string(gid);
}

// Whether owner is the one member of the group: nobody else has it as their first group
// or is listed in it, and the owner is one way or the other. A group of nobody counts as
// shared: a program running with it could still write.
bool ownerIsOnlyMember(const group& found, uid_t owner) {
    const std::string ownerName = userName(owner);
    bool ownerIn = false;
    for (char* const* member = found.gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (ownerName.empty() || ownerName != *member) {
            return false;
        }
        ownerIn = true;
    }
    // Start-up reads this before any other thread could walk the database too.
    std::vector<char> buffer(kEntryBytes);
    passwd entry{};
    passwd* next = nullptr;
    bool othersIn = false;
    ::setpwent();
    while (::getpwent_r(&entry, buffer.data(), buffer.size(), &next) == 0 && next != nullptr) {
        if (next->pw_gid == found.gr_gid) {
            othersIn = othersIn || next->pw_uid != owner;
            ownerIn = ownerIn || next->pw_uid == owner;
        }
    }
    ::endpwent();
    return ownerIn && !othersIn;
}

}  // namespace

std::string whyNotPrivate(const struct stat& folder, const std::string& subject, FolderRole role) {
    const std::string mode = octal(folder.st_mode);
    const char* otherFolder = role == FolderRole::DataFolder ? "another folder" : "another data folder";
    if (folder.st_uid != ::geteuid()) {
        return subject + " belongs to the user " + userLabel(folder.st_uid) + ", not to you (mode " + mode + "); " +
               (role == FolderRole::DataFolder ? "use a folder of your own"
                                               : "move it out of the data folder, or use another data folder");
    }
    const std::string owner = " (owner " + userLabel(folder.st_uid) + ", mode " + mode + "); run chmod go-w on it, or use " +
                              otherFolder;
    if ((folder.st_mode & S_IWOTH) != 0) {
        return "other users may write in " + subject + owner;
    }
    if ((folder.st_mode & S_IWGRP) != 0) {
        std::vector<char> buffer(kEntryBytes);
        group entry{};
        group* found = nullptr;
        while (::getgrgid_r(folder.st_gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
            buffer.resize(buffer.size() * 2);
        }
        if (found == nullptr || !ownerIsOnlyMember(*found, folder.st_uid)) {
            return "the group " + groupLabel(folder.st_gid, found) + " may write in " + subject +
                   " and has other members than its owner" + owner;
        }
    }
    return {};
}

}  // namespace ostrel::core
