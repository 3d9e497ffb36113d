#include "core/files/PrivateFolder.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace ostrel::core;
using namespace ostrel::test;

namespace {

constexpr gid_t kNoGroup = 65534;  // the group of the user nobody

std::string myName() {
    const passwd* me = ::getpwuid(::geteuid());
    return me != nullptr ? me->pw_name : std::to_string(::geteuid());
}

constexpr gid_t kMine = static_cast<gid_t>(-1);  // the group a folder this user makes has

struct FolderCase {
    const char* name;
    mode_t mode;
    gid_t group;
    std::string why;  // "{me}" for this user's name; empty: private
};

}  // namespace

// Others may enter a private folder; only writing is kept to its owner and, when the owner
// is its only member, the owner's group. Only root can give a folder to another group.
TEST(PrivateFolderTest, OnlyTheUsersOwnFolderThatNobodyElseMayWriteInIsPrivate) {
    const std::string advice = "); run chmod go-w on it, or use another folder";
    // The program's own tests try the rest: everyone's, sticky, another user's.
    const std::vector<FolderCase> cases = {
        {"others may only enter", 0711, kMine, ""},
        {"others may write but not read", 0703, kMine, "other users may write in it (owner {me}, mode 0703" + advice},
        // The root group holds root alone on the systems the program runs on.
        {"the owner's own group may write", 0770, 0, ""},
        {"a group of another user's may write", 0770, kNoGroup,
         "the group nogroup may write in it and has other members than its owner (owner {me}, mode 0770" + advice},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.group != kMine && ::geteuid() != 0) {
            continue;
        }
        TempDir dir;
        const std::filesystem::path folder = dir / "data";
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), static_cast<uid_t>(-1), c.group), 0);
        ASSERT_EQ(::chmod(folder.c_str(), c.mode), 0);
        struct stat status {};
        ASSERT_EQ(::stat(folder.c_str(), &status), 0);
        std::string why = c.why;
        if (const auto at = why.find("{me}"); at != std::string::npos) {
            why.replace(at, 4, myName());
        }
        EXPECT_EQ(whyNotPrivate(status, "it", FolderRole::DataFolder), why);
    }
}
