#pragma once

#include <string>
#include <sys/stat.h>

namespace ostrel::core {

// Whether only this process's user may change what a folder holds, the rule careful
// programs apply to their private folders (a login's key folder, the runtime folder).
// Another user who may write in the data folder could plant a settings file with a token
// of their own, or links that make the program write the user's files.
//
// Private: the folder is this user's, others may not write in it (sticky bit or not), and
// its group may not either, unless the owner is that group's only member (the user's own
// group, which a umask of 002 lets write). Others may read and enter it.

// Which folder the reason speaks of; it words the advice.
enum class FolderRole { DataFolder, InsideDataFolder };

// Why the folder whose status (stat or fstat) is given is not private, as the end of a
// sentence that names it as subject ("it", or its path); empty when it is private.
std::string whyNotPrivate(const struct stat& folder, const std::string& subject, FolderRole role);

}  // namespace ostrel::core
