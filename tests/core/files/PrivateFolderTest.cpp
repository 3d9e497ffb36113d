#include "core/files/PrivateFolder.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

using namespace ostrel::core;
using namespace ostrel::test;

// A group may write in a private folder only when its owner is the group's one member (the
// user's own group, which a umask of 002 lets write); the program's tests try the rest of
// the rule. Only root can give a folder to another group; the root group holds root alone
// on the systems the program runs on.
TEST(PrivateFolderTest, AGroupMayWriteOnlyWhenTheOwnerIsItsOneMember) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root may give a folder to another group";
    }
    TempDir dir;
    const std::filesystem::path folder = dir / "data";
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0770), 0);
    struct stat status {};
    for (const gid_t group : {gid_t{0}, gid_t{65534}}) {
        ASSERT_EQ(::chown(folder.c_str(), 0, group), 0);
        ASSERT_EQ(::stat(folder.c_str(), &status), 0);
        EXPECT_EQ(whyNotPrivate(status, "it", FolderRole::DataFolder),
                  group == 0 ? ""
                             : "the group nogroup may write in it and has other members than its owner (owner root, "
                               "mode 0770); run chmod go-w on it, or use another folder");
    }
}
