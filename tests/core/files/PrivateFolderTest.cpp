#include "core/files/PrivateFolder.h"

#include "support/AnotherUser.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>

using namespace ostrel::core;
using namespace ostrel::test;

namespace {

// A group nobody belongs to, listed or by their first group, if the system has one.
std::optional<std::pair<gid_t, std::string>> groupWithoutMembers() {
    std::set<gid_t> firstGroups;
    ::setpwent();
    while (const passwd* user = ::getpwent()) {
        firstGroups.insert(user->pw_gid);
    }
    ::endpwent();
    std::optional<std::pair<gid_t, std::string>> found;
    ::setgrent();
    while (const group* entry = ::getgrent()) {
        if (!found && entry->gr_gid != 0 && (entry->gr_mem == nullptr || entry->gr_mem[0] == nullptr) &&
            firstGroups.count(entry->gr_gid) == 0) {
            found = std::pair(entry->gr_gid, std::string(entry->gr_name));
        }
    }
    ::endgrent();
    return found;
}

}  // namespace

// A group may write in a private folder only when nobody but its owner (and root) belongs to
// it; a user or group an access list names, on the same terms, after the list's mask; with
// a list, the owning group's own entry counts, not the mode's group bits, which show the
// mask. The program's tests try the rest of the rule. Only root can give a folder to another
// group; the root group holds root alone on the systems the program runs on, nogroup has
// nobody in it.
TEST(PrivateFolderTest, GroupsAndAccessListsMayWriteOnlyWhenNobodyElseBelongs) {
    if (!mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may give a folder to another group";
    }
    const auto memberless = groupWithoutMembers();
    const std::string tail = " (owner root, mode 0770); run chmod go-w on it, or use another folder";
    const std::string listed = " (owner root, mode 0770, with an access list); run chmod go-w on it, or use another folder";
    struct Case {
        const char* name;
        gid_t group;
        const char* accessList;  // empty: the mode bits alone
        std::string said;
    };
    std::vector<Case> cases = {
        {"the root group", 0, "", ""},
        {"nogroup", 65534, "", "the group nogroup may write in it, and that group has other members than its owner" + tail},
        {"a user named", 0, "u::rwx,u:nobody:rwx,g::---,m::rwx,o::---",
         "the user nobody may write in it through its access list" + listed},
        {"a user named, the mask taking write away", 0, "u::rwx,u:nobody:rwx,g::---,m::r-x,o::---", ""},
        {"the owning group reading, the mask showing write", 65534, "u::rwx,u:root:rwx,g::r-x,m::rwx,o::---", ""},
        {"a group named with others in it", 0, "u::rwx,g::---,g:nogroup:rwx,m::rwx,o::---",
         "the group nogroup may write in it through its access list, and that group has other members than its owner" + listed},
        {"a group named with root alone in it", 65534, "u::rwx,g::r-x,g:root:rwx,m::rwx,o::---", ""},
        {"the owning group's entry", 65534, "u::rwx,g::rwx,g:root:r-x,m::rwx,o::---",
         "the group nogroup may write in it, and that group has other members than its owner" + listed},
    };
    if (memberless) {
        cases.push_back({"a group nobody belongs to", memberless->first, "",
                         "the group " + memberless->second +
                             " may write in it, and though no user belongs to that group, a program set to run with "
                             "it could" + tail});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::filesystem::path folder = dir / "data";
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chmod(folder.c_str(), 0770), 0);
        ASSERT_EQ(::chown(folder.c_str(), 0, c.group), 0);
        if (*c.accessList != '\0') {
            setAccessList(folder, c.accessList);
        }
        struct stat status {};
        ASSERT_EQ(::stat(folder.c_str(), &status), 0);
        FolderWriters writers;
        std::string error;
        ASSERT_TRUE(readFolderWriters(folder.string(), status, writers, &error)) << error;
        EXPECT_EQ(whyNotPrivate(status, StickyParent::no, writers, FolderRole::DataFolder, "it"), c.said);
    }
}
