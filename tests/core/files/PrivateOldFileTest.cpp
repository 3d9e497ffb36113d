#include "core/files/PrivateOldFile.h"

#include "support/HostileFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace ostrel::core;
using namespace ostrel::test;

// What is not a regular file at an old file's name is neither changed nor waited on (the
// program's tests try links, hard links and the files made private).
TEST(PrivateOldFileTest, AFifoOrAFolderAtTheNameIsLeftAsItIsWithAWarning) {
    struct Case {
        const char* kind;
        std::function<void(const fs::path&)> make;
    };
    const Case cases[] = {
        {"a FIFO", makeFifo},
        {"a folder", [](const fs::path& path) { fs::create_directory(path); }},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const fs::path old = dir / "crash-20250101-000000.dmp";
        c.make(old);
        fs::permissions(old, fs::perms(0644));
        std::vector<std::string> warnings;
        EXPECT_TRUE(returnsWithoutAWriter(old, [&] { makeOldFilePrivate(old, &warnings); })) << c.kind;
        EXPECT_EQ(fs::symlink_status(old).permissions(), fs::perms(0644)) << c.kind;
        EXPECT_EQ(warnings, std::vector<std::string>{old.native() + " is not made its user's alone: it is " +
                                                     c.kind + ", not a regular file; skipped"});
    }
}
