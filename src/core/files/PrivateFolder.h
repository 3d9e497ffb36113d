#pragma once

#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace ostrel::core {

// Whether only this process's user may change what a folder holds, the rule careful
// programs apply to their private folders (a login's key folder, the runtime folder).
// Another user who may write in the data folder could plant a settings file with a token
// of their own, or links that make the program write the user's files.
//
// Private: the folder is this user's, others may not write in it (sticky bit or not), and
// its group may not either, unless nobody but its owner, this user and root belongs to that
// group (the user's own group, which a umask of 002 lets write). An access list counts like
// the mode bits: a user or group it names may not write either, on the same terms. Others
// may read and enter it. A file the program takes orders from is judged the same way.

// Who besides its owner may write in a folder (or a file), from its mode bits and, where it
// has one, its access list, each entry after the list's mask.
struct FolderWriters {
    bool others = false;        // every other user
    bool owningGroup = false;   // the folder's group: its entry in the list when there is one
    std::vector<uid_t> users;   // named in the access list
    std::vector<gid_t> groups;  // named in the access list
    bool accessList = false;    // the folder has a list beyond its mode bits
};

// The writers of the folder whose status is given, its access list read from path (for a
// descriptor, nameOfOpenFile of PrivatePath.h). False, with the reason in error, when the
// list is there but cannot be read; a file system without access lists has the mode bits
// alone.
[[nodiscard]] bool readFolderWriters(const std::string& path, const struct stat& status, FolderWriters& writers,
                                     std::string* error);

// Which folder the reason speaks of; it words the subject and the advice.
enum class FolderRole {
    DataFolder,        // the data folder itself, "it"
    InsideDataFolder,  // a folder the program writes into under it, by its path
    // A folder on the way to either, by its path. It may be root's too, and one of root's or
    // the user's with the sticky bit (as /tmp) may let others write: they cannot move or
    // replace what is not theirs in it, and what is on the way is judged on its own.
    OnTheWay,
    // A file the program takes orders from (its settings), "it": root's or the user's, and
    // nobody else may change it.
    ObeyedFile,
};

// Whether what is judged lies in a folder with the sticky bit (as /tmp), where any user may
// have made it.
enum class StickyParent { no, yes };

StickyParent stickyParentOf(const struct stat& folder);

// Why the folder whose status and writers are given is not private, as the end of a
// sentence; empty when it is. name is "it" or the folder's path; for a folder on the way,
// target names what it is on the way to ("it" for the data folder).
std::string whyNotPrivate(const struct stat& folder, StickyParent parent, const FolderWriters& writers,
                          FolderRole role, const std::string& name, const std::string& target = "it");

// Whether the owner of something that lies where parent says counts as root: root itself,
// or, in a user namespace that does not map the overflow user (/proc/sys/kernel/overflowuid),
// that user, as which the kernel shows every owner it cannot map, root among them, but only
// outside a folder with the sticky bit: there, anyone outside the namespace may have made it.
bool countsAsRoot(uid_t uid, StickyParent parent = StickyParent::no);

// Where uid is the overflow user of countsAsRoot, a note that says it stands for every user
// outside the namespace, to follow its name in a sentence; else empty.
std::string unmappedOwnerNote(uid_t uid);

// The user's name, or the number when the system has none.
std::string userLabel(uid_t uid);

// A mode as four octal digits, "0755".
std::string octalMode(mode_t mode);

}  // namespace ostrel::core
