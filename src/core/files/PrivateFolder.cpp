#include "core/files/PrivateFolder.h"

#include "core/Failure.h"

#include <acl/libacl.h>
#include <cerrno>
#include <cstdio>
#include <grp.h>
#include <pwd.h>
#include <sys/acl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace ostrel::core {
namespace {

// Where Linux keeps a file's access list.
constexpr const char* kAccessListAttribute = "system.posix_acl_access";

// Room for one entry of the user or group database; grown when an entry needs more.
constexpr std::size_t kEntryBytes = 16384;

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

// Those who may write in a folder of owner's without making it any less the user's: its
// owner, this user, and root, whom no mode keeps out anyway. Root needs no entry of its own,
// so a writer shown as a user namespace's overflow user is someone outside it, not root.
bool trusted(uid_t uid, uid_t owner) { return uid == owner || uid == ::geteuid() || uid == 0; }

// The user the kernel shows as the owner of what it cannot map into this user namespace
// (/proc/sys/kernel/overflowuid), when it is sure to be no user in it; false where the
// answer is not known.
bool overflowUserUnmapped(uid_t& overflow) {
    std::FILE* file = std::fopen("/proc/sys/kernel/overflowuid", "re");
    unsigned long value = 0;
    const bool read = file != nullptr && std::fscanf(file, "%lu", &value) == 1;
    if (file != nullptr) {
        std::fclose(file);
    }
    std::FILE* map = read ? std::fopen("/proc/self/uid_map", "re") : nullptr;
    if (map == nullptr) {
        return false;
    }
    overflow = static_cast<uid_t>(value);
    bool lines = false;
    bool mapped = false;
    unsigned long inside = 0;
    unsigned long outside = 0;
    unsigned long count = 0;
    while (std::fscanf(map, "%lu %lu %lu", &inside, &outside, &count) == 3) {
        lines = true;
        mapped = mapped || (value >= inside && value - inside < count);
    }
    std::fclose(map);
    return lines && !mapped;
}

// The user's own private group: the process's first group, named as the user, listing no
// one else. Where the user database cannot be listed, nobody can be found to have it as
// their first group, yet the user does.
bool isOwnPrivateGroup(const group& entry) {
    const std::string me = userName(::geteuid());
    if (entry.gr_gid != ::getegid() || me.empty() || me != entry.gr_name) {
        return false;
    }
    for (char* const* member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) {
        if (me != *member) {
            return false;
        }
    }
    return true;
}

// Who belongs to a group, as far as the folder's rule cares.
enum class Members {
    Trusted,  // only those trusted, and at least one of them
    Others,   // someone else too
    None,     // nobody: only a program set to run with the group has it
    Unknown,  // the group database does not know it
};

struct GroupFacts {
    std::string label;  // its name, or its number
    Members members = Members::Unknown;
};

// Start-up reads this before any other thread could walk the database too.
GroupFacts groupFacts(gid_t gid, uid_t owner) {
    GroupFacts facts{std::to_string(gid), Members::Unknown};
    std::vector<char> buffer(kEntryBytes);
    group entry{};
    group* found = nullptr;
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE) {
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr) {
        return facts;
    }
    facts.label = found->gr_name;
    const std::string names[] = {userName(owner), userName(::geteuid()), userName(0)};
    bool anyone = false;
    bool others = false;
    for (char* const* member = found->gr_mem; member != nullptr && *member != nullptr; ++member) {
        anyone = true;
        bool known = false;
        for (const std::string& name : names) {
            known = known || (!name.empty() && name == *member);
        }
        others = others || !known;
    }
    // Those who have it as their first group belong to it too, listed or not.
    std::vector<char> userBuffer(kEntryBytes);
    passwd user{};
    passwd* next = nullptr;
    ::setpwent();
    while (::getpwent_r(&user, userBuffer.data(), userBuffer.size(), &next) == 0 && next != nullptr) {
        if (next->pw_gid == gid) {
            anyone = true;
            others = others || !trusted(next->pw_uid, owner);
        }
    }
    ::endpwent();
    anyone = anyone || isOwnPrivateGroup(*found);
    facts.members = others ? Members::Others : anyone ? Members::Trusted : Members::None;
    return facts;
}

// Why a group that may write in the folder makes it shared (the clause after "the group G
// may write in X"), or "" when only those trusted belong to it.
std::string sharedThroughGroup(const GroupFacts& facts, uid_t owner) {
    switch (facts.members) {
    case Members::Trusted:
        return {};
    case Members::Others:
        return owner == ::geteuid() ? ", and that group has other members than its owner"
                                    : ", and that group has other members than its owner and you";
    case Members::None:
        return ", and though no user belongs to that group, a program set to run with it could";
    case Members::Unknown:
        break;
    }
    return ", and the system cannot say who belongs to that group";
}

// An access list's entries as writers; entries the mask takes write from do not count. False
// when an entry cannot be read: then who may write is not known.
bool takeAccessList(acl_t list, FolderWriters& writers) {
    bool mask = false;
    bool hasMask = false;
    bool groupObject = false;
    std::vector<uid_t> users;
    std::vector<gid_t> groups;
    acl_entry_t entry = nullptr;
    for (int got = ::acl_get_entry(list, ACL_FIRST_ENTRY, &entry); got == 1;
         got = ::acl_get_entry(list, ACL_NEXT_ENTRY, &entry)) {
        acl_tag_t tag = ACL_UNDEFINED_TAG;
        acl_permset_t permissions = nullptr;
        if (::acl_get_tag_type(entry, &tag) != 0 || ::acl_get_permset(entry, &permissions) != 0) {
            return false;
        }
        const bool writes = ::acl_get_perm(permissions, ACL_WRITE) == 1;
        if (tag == ACL_MASK) {
            hasMask = true;
            mask = writes;
        } else if (tag == ACL_GROUP_OBJ) {
            groupObject = writes;
        } else if ((tag == ACL_USER || tag == ACL_GROUP) && writes) {
            void* qualifier = ::acl_get_qualifier(entry);
            if (qualifier == nullptr) {
                return false;
            }
            if (tag == ACL_USER) {
                users.push_back(*static_cast<uid_t*>(qualifier));
            } else {
                groups.push_back(*static_cast<gid_t*>(qualifier));
            }
            ::acl_free(qualifier);
        }
    }
    // Without a mask the list is the mode bits, which already said it all.
    if (!hasMask) {
        return true;
    }
    writers.accessList = true;
    // The mode's group bits show the mask then, not what the owning group may do.
    writers.owningGroup = groupObject && mask;
    if (mask) {
        writers.users = std::move(users);
        writers.groups = std::move(groups);
    }
    return true;
}

}  // namespace

namespace {

bool isUnmappedOverflowUser(uid_t uid) {
    // Start-up asks first, before any other thread could.
    static uid_t overflow = 0;
    static const bool unmapped = overflowUserUnmapped(overflow);
    return unmapped && uid == overflow;
}

}  // namespace

StickyParent stickyParentOf(const struct stat& folder) {
    return (folder.st_mode & S_ISVTX) != 0 ? StickyParent::yes : StickyParent::no;
}

bool countsAsRoot(uid_t uid, StickyParent parent) {
    return uid == 0 || (parent == StickyParent::no && isUnmappedOverflowUser(uid));
}

std::string unmappedOwnerNote(uid_t uid) {
    return isUnmappedOverflowUser(uid) ? " (as this user namespace shows every user outside it)" : "";
}

std::string userLabel(uid_t uid) {
    const std::string name = userName(uid);
    return name.empty() ? std::to_string(uid) : name;
}

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

bool readFolderWriters(const std::string& path, const struct stat& status, FolderWriters& writers,
                       std::string* error) {
    writers = FolderWriters{};
    writers.others = (status.st_mode & S_IWOTH) != 0;
    writers.owningGroup = (status.st_mode & S_IWGRP) != 0;
    // Most folders have no list; asking for its attribute first spares the library's look at
    // the mode bits, which a walk of every folder on a path would pay for each.
    const ssize_t listBytes = ::getxattr(path.c_str(), kAccessListAttribute, nullptr, 0);
    if (listBytes < 0 && (errno == ENODATA || errno == ENOTSUP)) {
        return true;
    }
    acl_t list = ::acl_get_file(path.c_str(), ACL_TYPE_ACCESS);
    if (list == nullptr) {
        // No access lists on this file system: the mode bits are all there is.
        const int code = errno;
        return code == ENOTSUP || code == ENOSYS ||
               fail(error, "its access list cannot be read (" + systemMessage(code) + ")");
    }
    const bool read = takeAccessList(list, writers);
    const int code = errno;
    ::acl_free(list);
    return read || fail(error, "its access list cannot be read (" + systemMessage(code) + ")");
}

namespace {

// The refusal for an owner who is neither the user nor, where the role allows, root.
std::string ownerRefusal(const struct stat& status, FolderRole role, const std::string& subject,
                         const std::string& mode) {
    const std::string owner = userLabel(status.st_uid) + unmappedOwnerNote(status.st_uid);
    switch (role) {
    case FolderRole::DataFolder:
        return subject + " belongs to the user " + owner + ", not to you (mode " + mode + "); use a folder of your own";
    case FolderRole::InsideDataFolder:
        return subject + " belongs to the user " + owner + ", not to you (mode " + mode +
               "); move it out of the data folder, or use another data folder";
    case FolderRole::OnTheWay:
        return subject + ", belongs to the user " + owner + ", not to you or root (mode " + mode +
               "); use a data folder elsewhere";
    case FolderRole::ObeyedFile:
        break;
    }
    return subject + " belongs to the user " + owner + ", not to you or root (mode " + mode +
           "), and Ostrel takes no orders from another user's file; remove it, or use another data folder";
}

}  // namespace

std::string whyNotPrivate(const struct stat& status, StickyParent parent, const FolderWriters& writers,
                          FolderRole role, const std::string& name, const std::string& target) {
    const bool onTheWay = role == FolderRole::OnTheWay;
    const std::string subject = onTheWay ? name + ", a folder on the way to " + target : name;
    const std::string mode = octalMode(status.st_mode) + (writers.accessList ? ", with an access list" : "");
    const bool rootMayOwn = onTheWay || role == FolderRole::ObeyedFile;
    if (status.st_uid != ::geteuid() && !(rootMayOwn && countsAsRoot(status.st_uid, parent))) {
        return ownerRefusal(status, role, subject, mode);
    }
    // Nobody may move or replace what is not theirs in a folder of root's or the user's with
    // the sticky bit (only the folder's owner and root may besides), and what is on the way
    // in it is judged next.
    if (onTheWay && (status.st_mode & S_ISVTX) != 0) {
        return {};
    }
    const char* verb = role == FolderRole::ObeyedFile ? " may change " : " may write in ";
    // Asked of the user database only for a refusal: a walk judges many folders.
    const auto tail = [&] {
        return " (owner " + userLabel(status.st_uid) + ", mode " + mode + "); run chmod go-w on " +
               (onTheWay                         ? "that folder, or use a data folder elsewhere"
                : role == FolderRole::DataFolder ? "it, or use another folder"
                                                 : "it, or use another data folder");
    };
    if (writers.others) {
        return "other users" + std::string(verb) + subject + tail();
    }
    for (const uid_t user : writers.users) {
        if (!trusted(user, status.st_uid)) {
            return "the user " + userLabel(user) + verb + subject + " through its access list" + tail();
        }
    }
    const auto byGroup = [&](gid_t gid, const char* through) -> std::string {
        const GroupFacts facts = groupFacts(gid, status.st_uid);
        const std::string shared = sharedThroughGroup(facts, status.st_uid);
        return shared.empty() ? shared : "the group " + facts.label + verb + subject + through + shared + tail();
    };
    if (writers.owningGroup) {
        if (std::string reason = byGroup(status.st_gid, ""); !reason.empty()) {
            return reason;
        }
    }
    for (const gid_t gid : writers.groups) {
        if (std::string reason = byGroup(gid, " through its access list"); !reason.empty()) {
            return reason;
        }
    }
    return {};
}

}  // namespace ostrel::core
