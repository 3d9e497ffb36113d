#include "core/files/PrivateFolder.h"

#include "support/AnotherUser.h"
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

struct FolderCase {
    const char* name;
    mode_t mode;
    uid_t owner;  // kMine: this user
    gid_t group;  // kMine: this user's group
    std::string why;  // "{me}" for this user's name; empty: private
};

constexpr uid_t kMine = static_cast<uid_t>(-1);

}  // namespace

// Others may read and enter a private folder; only writing is kept to its owner. Folders
// of another user's, or with another group, can only be made by root.
TEST(PrivateFolderTest, OnlyTheUsersOwnFolderThatNobodyElseMayWriteInIsPrivate) {
    const std::string advice = "); run chmod go-w on it, or use another folder";
    const std::vector<FolderCase> cases = {
        {"the user's alone", 0700, kMine, kMine, ""},
        {"others may read and enter", 0755, kMine, kMine, ""},
        {"others may only enter", 0711, kMine, kMine, ""},
        {"others may write", 0777, kMine, kMine, "other users may write in it (owner {me}, mode 0777" + advice},
        {"others may write, sticky", 01777, kMine, kMine, "other users may write in it (owner {me}, mode 1777" + advice},
        {"others may write but not read", 0703, kMine, kMine,
         "other users may write in it (owner {me}, mode 0703" + advice},
        {"another user's", 0755, kNobody, kNoGroup, "it belongs to the user nobody, not to you (mode 0755); use a folder "
                                                    "of your own"},
        {"another user's, for everyone", 0777, kNobody, kNoGroup,
         "it belongs to the user nobody, not to you (mode 0777); use a folder of your own"},
        // The root group holds root alone on the systems the program runs on.
        {"the owner's own group may write", 0770, kMine, 0, ""},
        {"a group of another user's may write", 0770, kMine, kNoGroup,
         "the group nogroup may write in it and has other members than its owner (owner {me}, mode 0770" + advice},
    };
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const bool needsRoot = c.owner != kMine || c.group != kMine;
        if (needsRoot && ::geteuid() != 0) {
            continue;  // only root may give a folder to another user or group
        }
        TempDir dir;
        const std::filesystem::path folder = dir / "data";
        std::filesystem::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), c.owner, c.group), 0);
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

// A folder in the data folder is named by its path, and the advice for another user's is
// to move it out rather than to find a folder of one's own.
TEST(PrivateFolderTest, AFolderInsideTheDataFolderIsNamedAndAdvisedAsSuch) {
    TempDir dir;
    const std::filesystem::path logs = dir / "logs";
    std::filesystem::create_directory(logs);
    ASSERT_EQ(::chmod(logs.c_str(), 0777), 0);
    struct stat status {};
    ASSERT_EQ(::stat(logs.c_str(), &status), 0);
    EXPECT_EQ(whyNotPrivate(status, logs.string(), FolderRole::InsideDataFolder),
              "other users may write in " + logs.string() + " (owner " + myName() +
                  ", mode 0777); run chmod go-w on it, or use another data folder");
    if (::geteuid() != 0) {
        return;
    }
    ASSERT_EQ(::chown(logs.c_str(), kNobody, kNoGroup), 0);
    ASSERT_EQ(::stat(logs.c_str(), &status), 0);
    EXPECT_EQ(whyNotPrivate(status, logs.string(), FolderRole::InsideDataFolder),
              logs.string() + " belongs to the user nobody, not to you (mode 0777); move it out of the data folder, "
                              "or use another data folder");
}
