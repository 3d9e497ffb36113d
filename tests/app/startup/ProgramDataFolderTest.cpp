// Starts that the data folder's rule must let through: set-ups ordinary users have, and a
// log the program cannot use, which it must say it cannot.

#include "ProgramTestSupport.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

using namespace ostrel::test;
using std::filesystem::path;

namespace {

// Who starts the program, and how.
enum class Starter {
    Me,
    Nobody,
    NamespaceUser,    // kNamespaceUser, in a user namespace of its own
    WithoutUserList,  // me, where the user database cannot be listed
};

struct OrdinaryStart {
    const char* name;
    Starter starter;
    std::function<void(const path& dir)> arrange;
    QStringList arguments;  // "{dir}" for the test's folder
    std::function<void(const path& dir, const ProgramRun& run)> check;
    bool arrangedByRoot = false;  // gives a file to another user
    int exitCode = 0;
};

QStringList withDir(QStringList arguments, const path& dir) {
    for (QString& argument : arguments) {
        argument.replace("{dir}", qPath(dir));
    }
    return arguments;
}

// Why the start cannot be tried here; empty when it can.
std::string whyNotHere(const OrdinaryStart& start) {
    const Starter starter = start.starter;
    if ((start.arrangedByRoot || starter == Starter::Nobody || starter == Starter::NamespaceUser) &&
        !mayActAsAnotherUser()) {
        return "only root may act as another user";
    }
    if (starter == Starter::WithoutUserList) {
        const passwd* me = ::getpwuid(::geteuid());
        const group* mine = ::getgrgid(::getegid());
        if (me == nullptr || mine == nullptr || std::string(me->pw_name) != mine->gr_name) {
            return "the user's first group is not a group of its own";
        }
    }
    return {};
}

QProcessEnvironment environmentFor(Starter starter, const path& dir) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (starter == Starter::NamespaceUser) {
        environment.remove("APPDATA");
        environment.insert("XDG_DATA_HOME", qPath(dir / "home"));
        environment.insert("HOME", qPath(dir / "home"));
        environment.insert("XDG_RUNTIME_DIR", qPath(dir / "home"));
    }
    if (starter == Starter::WithoutUserList) {
        environment.insert("LD_PRELOAD", OSTREL_HIDDEN_USER_LIST);
        // The sanitizer's library comes after the preloaded one, which it takes for a fault.
        const QString asan = environment.value("ASAN_OPTIONS");
        environment.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "verify_asan_link_order=0");
    }
    return environment;
}

ProgramRun start(Starter starter, const QStringList& arguments, const path& dir, const CopiesForAnotherUser* copies) {
    const QProcessEnvironment environment = environmentFor(starter, dir);
    switch (starter) {
    case Starter::Nobody:
        return runProgram(arguments, environment, copies);
    case Starter::NamespaceUser:
        return runProgram(arguments, environment, copies, becomeUserInOwnNamespace);
    case Starter::Me:
    case Starter::WithoutUserList:
        break;
    }
    return runProgram(arguments, environment);
}

void startedIn(const path& data, const ProgramRun& run) {
    EXPECT_GE(logMessages(qPath(data)).indexOf(startingLine()), 0) << run.output.toStdString();
}

// The program's last line, "{dir}" for the test's folder.
void said(const path& dir, const ProgramRun& run, const QString& sentence) {
    EXPECT_EQ(run.output.trimmed().split(u'\n').last().toStdString(),
              QString(sentence).replace("{dir}", qPath(dir)).toStdString());
}

void tryStarts(const std::vector<OrdinaryStart>& cases) {
    const std::unique_ptr<CopiesForAnotherUser> copies = mayActAsAnotherUser() ? programForAnotherUser() : nullptr;
    ASSERT_TRUE(copies == nullptr || copies->problem().empty()) << copies->problem();
    for (const OrdinaryStart& c : cases) {
        SCOPED_TRACE(c.name);
        if (const std::string why = whyNotHere(c); !why.empty()) {
            std::printf("[  SKIPPED ] %s: %s\n", c.name, why.c_str());
            continue;
        }
        TempDir dir;
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));  // others may look in
        const path real = std::filesystem::canonical(dir.path());
        c.arrange(real);
        const ProgramRun run = start(c.starter, withDir(c.arguments, real), real, copies.get());
        if (c.starter == Starter::NamespaceUser && run.exitCode == kCouldNotMakeNamespace) {
            std::printf("[  SKIPPED ] %s: the system allows no user namespace here\n", c.name);
            continue;
        }
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output.toStdString();
        c.check(real, run);
    }
}

// The test's folder, a home and a folder like /tmp in it, as a user in a namespace of their
// own has them: the test's folder lies in the system's temporary folder, where root's own
// would show as anyone's.
void namespaceUsersFolders(const path& dir) {
    giveTo(dir, kNamespaceUser);
    writeOnly(dir / "home", 0700);
    giveTo(dir / "home", kNamespaceUser);
    writeOnly(dir / "sticky", 01777);
}

}  // namespace

// Regression: legitimate users were refused with exit code 5 where no other user could change
// anything: in a user namespace, where root's folders show as the overflow user's; with a
// folder of their own private group where the user database cannot be listed; with a settings
// file root left in their folder; through another user's link in a folder that user may not
// write. And a log the program could not use lost the whole run's records without a word.
TEST(ProgramDataFolderTest, OrdinarySetUpsStartAndAnUnusableLogIsSaid) {
    const std::vector<OrdinaryStart> cases = {
        {"another user's link in a folder they may not write", Starter::Me,
         [](const path& dir) {
             writeOnly(dir / "mine", 0700);
             std::filesystem::create_symlink(dir / "mine", dir / "data");
             giveToNobody(dir / "data");
         },
         {"--data-dir", "{dir}/data", "--quit-after-ms", "0"},
         [](const path& dir, const ProgramRun& run) { startedIn(dir / "mine", run); }, true},
        {"a settings file of root's, the user's at the next save", Starter::Nobody,
         [](const path& dir) {
             writeOnly(dir / "data", 0700);
             giveToNobody(dir / "data");
             writeDoorSettings(qPath(dir / "data"), freePort(SOCK_STREAM), freePort(SOCK_DGRAM));
             std::filesystem::permissions(dir / "data" / "settings.json", std::filesystem::perms(0644));
         },
         {"--data-dir", "{dir}/data", "--quit-after-ms", "0"},
         [](const path& dir, const ProgramRun& run) {
             // The door's token made it save, which wrote a file of the user's own.
             struct stat saved {};
             ASSERT_EQ(::stat((dir / "data" / "settings.json").c_str(), &saved), 0) << run.output.toStdString();
             EXPECT_EQ(saved.st_uid, static_cast<uid_t>(kNobody));
             EXPECT_EQ(saved.st_mode & 07777, 0600u);
             EXPECT_NE(readFile(dir / "data" / "settings.json").find("\"api.token\""), std::string::npos);
         }},
        {"the default folder in a user namespace", Starter::NamespaceUser, namespaceUsersFolders,
         {"--quit-after-ms", "0"},
         [](const path& dir, const ProgramRun& run) { startedIn(dir / "home" / "Ostrel" / "Ostrel", run); }},
        {"a folder of the user's own group where users cannot be listed", Starter::WithoutUserList,
         [](const path& dir) {
             writeOnly(dir / "data", 0770);
             ASSERT_EQ(::chown((dir / "data").c_str(), ::geteuid(), ::getegid()), 0);
         },
         {"--data-dir", "{dir}/data", "--quit-after-ms", "0"},
         [](const path& dir, const ProgramRun& run) { startedIn(dir / "data", run); }},
        {"a log with a second name", Starter::Me,
         [](const path& dir) {
             writeOnly(dir / "data" / "logs", 0700);
             writeFile(dir / "data" / "other", "");
             std::filesystem::create_hard_link(dir / "data" / "other", dir / "data" / "logs" / "ostrel.log");
         },
         {"--data-dir", "{dir}/data", "--quit-after-ms", "0"},
         [](const path& dir, const ProgramRun& run) {
             const QString said = run.output;
             const qsizetype notice = said.indexOf(
                 " ERROR [app] the log cannot be written to " + qPath(dir / "data" / "logs" / "ostrel.log") +
                 " (it has more than one name, a hard link); the log goes to the standard error from now on");
             EXPECT_GE(notice, 0) << said.toStdString();
             EXPECT_GT(said.indexOf(" INFO [app] Ostrel closed", notice), notice);
             EXPECT_EQ(said.count(" the log goes to the standard error from now on"), 1);
             EXPECT_EQ(readFile(dir / "data" / "other"), "");
         }},
    };
    tryStarts(cases);
}

// Regression: in a user namespace, where every owner outside it shows as the overflow user,
// that user counted as root everywhere: another user's link in a folder with the sticky bit was
// followed into another private folder of the user's, which the program then filled, and a
// settings link of the user's to another user's file there was obeyed. Root's counts as root's
// only outside such folders now, and what the user makes there still starts.
TEST(ProgramDataFolderTest, InAUserNamespaceWhatLiesInAFolderWithTheStickyBitMayBeAnyonesAndIsJudgedSo) {
    const QString namespaceNote = "belongs to the user nobody (as this user namespace shows every user outside it), "
                                  "not to you or root";
    const std::vector<OrdinaryStart> cases = {
        {"a new data folder of the user's own there", Starter::NamespaceUser,
         [](const path& dir) {
             namespaceUsersFolders(dir);
             writeOnly(dir / "sticky" / "mine", 0700);
             giveTo(dir / "sticky" / "mine", kNamespaceUser);
         },
         {"--data-dir", "{dir}/sticky/mine/data", "--quit-after-ms", "0"},
         [](const path& dir, const ProgramRun& run) { startedIn(dir / "sticky" / "mine" / "data", run); }},
        {"another user's link there, to a folder of the user's", Starter::NamespaceUser,
         [](const path& dir) {
             namespaceUsersFolders(dir);
             std::filesystem::create_symlink(dir / "home", dir / "sticky" / "link");
             giveToNobody(dir / "sticky" / "link");
         },
         {"--data-dir", "{dir}/sticky/link", "--quit-after-ms", "0"},
         [&](const path& dir, const ProgramRun& run) {
             said(dir, run,
                  "Ostrel cannot use {dir}/sticky/link as its data folder: the link {dir}/sticky/link on the way to it " +
                      namespaceNote +
                      ", who may replace it since {dir}/sticky has the sticky bit (mode 1777); use a data folder "
                      "elsewhere.");
             EXPECT_TRUE(std::filesystem::is_empty(dir / "home")) << "the program wrote where the link led";
         },
         false, 5},
        {"a settings link of the user's to another user's file there", Starter::NamespaceUser,
         [](const path& dir) {
             namespaceUsersFolders(dir);
             writeDoorSettings(qPath(dir / "sticky"), freePort(SOCK_STREAM), freePort(SOCK_DGRAM));
             std::filesystem::permissions(dir / "sticky" / "settings.json", std::filesystem::perms(0644));
             giveToNobody(dir / "sticky" / "settings.json");
             std::filesystem::create_symlink(dir / "sticky" / "settings.json", dir / "home" / "settings.json");
             giveTo(dir / "home" / "settings.json", kNamespaceUser);
         },
         {"--data-dir", "{dir}/home", "--quit-after-ms", "0"},
         [&](const path& dir, const ProgramRun& run) {
             said(dir, run,
                  "Ostrel cannot use {dir}/home/settings.json as its settings file: it " + namespaceNote +
                      " (mode 0644), and Ostrel takes no orders from another user's file; remove it, or use another "
                      "data folder.");
         },
         false, 5},
    };
    tryStarts(cases);
}
