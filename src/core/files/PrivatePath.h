#pragma once

#include "core/files/PrivateFolder.h"

#include <filesystem>
#include <string>

namespace ostrel::core {

// Whether another user could change what a path leads to, as careful programs judge a
// private file's path (a login's key folder and every folder above it): a folder of the
// user's alone is worth little when someone else may rename it away and put their own, or
// a link, in its place.
//
// The path is resolved one name at a time from "/", as the kernel does (a relative one from
// the current folder's real path): every folder entered, of the path as given and of where
// its links lead, must belong to root or the user, and no other user may write in it (the
// folder rule of PrivateFolder.h, on the way); every link followed must be root's or the
// user's. Each name is looked up in a folder already judged, so nobody else can swap what
// was judged. The folder the path names is judged last, by the rule of role.
//
// A name that does not exist ends the walk: the rest is to be made, and judged once made.
// So does something that is not a folder; what is wrong with that is for the caller to say.
// Start-up code: user database look-ups, no lock.

// Why the folder at path, or a folder or link on the way to it, is not the user's alone to
// change, as the end of a sentence; empty when nothing is. role is DataFolder ("it") or
// InsideDataFolder (named by its path).
std::string whyPathNotPrivate(const std::filesystem::path& folder, FolderRole role);

}  // namespace ostrel::core
