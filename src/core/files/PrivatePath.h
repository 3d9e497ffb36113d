#pragma once

#include "core/files/PrivateFolder.h"
#include "core/files/UniqueFd.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace ostrel::core {

// Whether another user could change what a path leads to, as careful programs judge a
// private file's path (a login's key folder and every folder above it): a folder of the
// user's alone is worth little when someone else may rename it away and put their own, or
// a link, in its place.
//
// The path is resolved one name at a time from "/", as the kernel does (a relative one from
// the current folder's real path): every folder entered, of the path as given and of where
// its links lead, must belong to root or the user, and no other user may write in it (the
// folder rule of PrivateFolder.h, on the way). A link may belong to anyone in a folder its
// owner may not write in, which that folder's judgement already says; in a folder with the
// sticky bit, whose other writers may put and remove their own links, it must be root's or
// the user's. The folder the path names is judged last, by the rule of role.
//
// Each folder is held open while the next name is looked up in it, never through a link by
// name, and judged on what was opened: nobody can swap what was judged for what is used.
// Only "/" and the folder the walk is in are held, so a path of any depth can be walked; a
// ".." opens the folder above again and must find the one judged there. The real path that
// comes out (no link in it, and every name in it one that only the user or root may change)
// is safe to use by name afterwards.
//
// Names that do not exist end the walk: the rest is to be made. A ".." after such a name
// leaves it unmade, so what the path climbs back into is only ever a folder that exists.
// Start-up code: user database look-ups, no lock.

// Whether a walk makes what is missing at the end of the path.
enum class MissingFolders {
    Leave,
    // Each made (0700) in the folder held open above it, then looked up and judged like any
    // name, so one another user put there first is judged, never followed unseen.
    Make,
};

// What the walk came to: the folder or other thing the path names, or the nearest folder
// that exists when the rest is missing.
struct PathEnd {
    enum class Kind {
        Folder,
        Missing,     // the nearest folder that exists: names below it are to be made
        NotAFolder,  // a file, a device, ...: what the path names, or (blocking) one on the way
    };
    Kind kind = Kind::Missing;
    bool blocking = false;  // NotAFolder with names after it in the path
    std::string realPath;
    // Missing: the real path the folder named will have once made, realPath and the names
    // still to be made; else realPath.
    std::string pathToBe;
    UniqueFd fd;  // O_PATH, of realPath
    struct stat status {};
    StickyParent parent = StickyParent::no;  // of what realPath names
};

struct PathWalk {
    enum class Verdict {
        Private,
        NotPrivate,   // someone else may change the way or the folder; reason says who
        Unreachable,  // it cannot be looked at, or what is missing cannot be made
    };
    Verdict verdict = Verdict::Private;
    std::string reason;  // the end of a sentence, for every verdict but Private
    PathEnd end;
};

// Walks path, judging the way and, when it ends at a folder, that folder by role: DataFolder
// ("it") or InsideDataFolder (named by its path).
PathWalk walkPrivatePath(const std::filesystem::path& path, FolderRole role, MissingFolders missing);

// Why the folder at path, or a folder or link on the way to it, is not the user's alone to
// change, as the end of a sentence; empty when nothing is. A walk that makes nothing.
std::string whyPathNotPrivate(const std::filesystem::path& folder, FolderRole role);

// The file or folder open at fd (O_PATH included) by a name path-based calls take: /proc's
// name for the descriptor, else, where /proc is not mounted, realPath.
std::string nameOfOpenFile(int fd, const std::string& realPath);

// whyNotPrivate of what is open at fd (at realPath, with that status, in a folder as parent
// says), its access list read from it too; a list that cannot be read is the reason, after
// name unless that is "it".
std::string whyOpenNotPrivate(int fd, const std::string& realPath, const struct stat& status, StickyParent parent,
                              FolderRole role, const std::string& name, const std::string& target = "it");

// name in folder, a real path ("/" has no name of its own).
std::string pathInFolder(const std::string& folder, std::string_view name);

}  // namespace ostrel::core
