#pragma once

#include "support/TempDir.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace ostrel::test {

// The tests run as root, whom no file mode keeps out, so what must be refused is tried as
// another user, nobody. Nobody may not enter a checkout that lies in a folder of its
// owner's alone (root's home, a folder made by mktemp -d), so whatever that user must read
// or run is copied for it to a folder it may enter; no mode of the user's own is changed.

inline constexpr int kNobody = 65534;
// The exit code of a child that could not become nobody.
inline constexpr int kCouldNotBecomeAnotherUser = 97;

// A user the system has no name for, who runs in a user namespace of its own.
inline constexpr int kNamespaceUser = 54321;
// The exit code of a child the system allowed no user namespace.
inline constexpr int kCouldNotMakeNamespace = 96;

// Whether this process may act as another user (it runs as root).
bool mayActAsAnotherUser();

// In a child process before it runs anything else: becomes nobody, with no supplementary
// groups, or ends the child with kCouldNotBecomeAnotherUser. Only system calls, so it is
// safe between fork and exec.
void becomeAnotherUser();

// In a child process before it runs anything else: becomes kNamespaceUser in a user
// namespace of its own that maps that user alone, as sandboxed desktop packages and rootless
// containers start programs, so that root's files show as the overflow user's there. Ends
// the child with kCouldNotBecomeAnotherUser, or kCouldNotMakeNamespace where the system
// allows no such namespace. Only system calls, as becomeAnotherUser.
void becomeUserInOwnNamespace();

// Why another user cannot read path (and enter it, for a folder; run it, for a program):
// a folder on the way it may not enter, or the mode of path itself. Empty when it can.
std::string whyAnotherUserCannotReach(const std::filesystem::path& path);

// Gives path to nobody (a link itself, not what it leads to); only root may.
void giveToNobody(const std::filesystem::path& path);
// The same for any user.
void giveTo(const std::filesystem::path& path, int user);

// Sets the access list of path, given whole in setfacl's text form
// ("u::rwx,u:nobody:rwx,g::r-x,m::rwx,o::---"); throws when it cannot.
void setAccessList(const std::filesystem::path& path, const std::string& text);

// Copies of files in a fresh temporary folder that another user may enter, each readable
// by it, and runnable when the original was. When they cannot be arranged (the temporary
// folder itself lies where nobody may go), problem() says why.
class CopiesForAnotherUser {
public:
    explicit CopiesForAnotherUser(const std::vector<std::filesystem::path>& files);

    const std::string& problem() const { return problem_; }
    // The copy of original, which must be one of the files given.
    std::filesystem::path of(const std::filesystem::path& original) const;

private:
    TempDir dir_;
    std::map<std::filesystem::path, std::filesystem::path> copies_;
    std::string problem_;
};

}  // namespace ostrel::test
