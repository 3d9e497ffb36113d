// scripts/run.sh as a newcomer meets it without a display: a copy of it at the top of a tree
// of the test's own, so its build/run-data is the test's too, running the program built here.

#include "ProgramTestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <pwd.h>
#include <sys/stat.h>

using namespace ostrel::test;

namespace {

struct ScriptRun {
    int exitCode = -1;
    QString output;  // stdout
    QString errors;  // stderr
};

enum class Build {
    Skipped,    // the tests' hook names the program built here
    StandIn,    // the script builds, with the tree's stand-in for CMake (below)
};
enum class RunAs { Me, AnotherUser };

// What the script runs as CMake when it builds: it says what a build says, on stdout, notes
// who ran it, and "builds" the program as a link to the one built here.
constexpr char kStandInCmake[] = R"(#!/bin/sh
mkdir -p build/release/src/ostrel
id -un >> build/ran-as
echo "-- Configuring done"
if [ "$1" = --build ]; then
  ln -sf "$OSTREL_TEST_PROGRAM" build/release/src/ostrel/ostrel
  echo "[1/1] Linking CXX executable src/ostrel/ostrel"
fi
)";

// A copy of the script at the top of tree, as a checkout holds it, with the stand-in beside.
void layTree(const std::filesystem::path& tree) {
    std::filesystem::create_directories(tree / "scripts");
    std::filesystem::create_directories(tree / "stand-in");
    std::filesystem::copy_file(OSTREL_RUN_SCRIPT, tree / "scripts" / "run.sh");
    writeBytes(qPath(tree / "stand-in" / "cmake"), kStandInCmake);
    std::filesystem::permissions(tree / "stand-in" / "cmake", std::filesystem::perms(0755));
}

ScriptRun runScript(const std::filesystem::path& tree, const QStringList& arguments, Build build = Build::Skipped,
                    RunAs runAs = RunAs::Me) {
    if (!std::filesystem::exists(tree / "scripts" / "run.sh")) {
        layTree(tree);
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    if (build == Build::Skipped) {
        environment.insert("OSTREL_RUN_PROGRAM", QStringLiteral(OSTREL_PROGRAM));
    } else {
        environment.remove("OSTREL_RUN_PROGRAM");
        environment.insert("OSTREL_TEST_PROGRAM", QStringLiteral(OSTREL_PROGRAM));
        environment.insert("PATH", qPath(tree / "stand-in") + ":" + environment.value("PATH"));
    }
    QProcess script;
    script.setProcessEnvironment(environment);
    // A folder every user may be in; the test's own may be closed to another user.
    script.setWorkingDirectory(qPath(tree));
    if (runAs == RunAs::AnotherUser) {
        script.setChildProcessModifier(becomeAnotherUser);
    }
    script.start("bash", QStringList{qPath(tree / "scripts" / "run.sh")} + arguments);
    ScriptRun run;
    // A bound for a hung script, not a measure of speed.
    if (!script.waitForFinished(120000)) {
        ADD_FAILURE() << "the script did not end";
        script.kill();
        script.waitForFinished();
    }
    run.exitCode = script.exitStatus() == QProcess::NormalExit ? script.exitCode() : -1;
    run.output = QString::fromUtf8(script.readAllStandardOutput());
    run.errors = QString::fromUtf8(script.readAllStandardError());
    return run;
}

std::string ownerOf(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        return "(none)";
    }
    const passwd* owner = ::getpwuid(status.st_uid);
    return owner != nullptr ? owner->pw_name : std::to_string(status.st_uid);
}

// The log's ERROR records, each by its first line.
QStringList errorLines(const std::filesystem::path& log) {
    QStringList errors;
    for (const QString& line : QString::fromUtf8(readBytes(qPath(log))).split('\n')) {
        if (line.contains(QStringLiteral(" ERROR ["))) {
            errors << line;
        }
    }
    return errors;
}

}  // namespace

// Regression: `run.sh --help` deleted the last song and picture before the program ran, then
// said no song was exported and ended with 1; after a refused start it showed the tail of an
// old log, which said nothing of the refusal.
TEST(ProgramRunScriptTest, ARunWithoutTheDemonstrationKeepsTheLastSongAndPictureAndSaysWhatTheProgramSaid) {
    const struct {
        const char* name;
        QStringList arguments;
        int dataMode;  // of build/run-data
        int exitCode;
        bool refused;  // the program's sentence about its data folder is shown as it comes and at the end
        QString said;  // on stdout
        QStringList notSaid;  // on either
    } cases[] = {
        {"help", {"--help"}, 0700, 0, false, "--demo-project", {"No display here", "No song", "The song"}},
        {"a data folder others may write in", {}, 0777, 5, true, "No song was exported.\nOstrel said:\n",
         {"an old run's last line"}},
    };
    for (const auto& c : cases) {
        TempDir tree;
        const std::filesystem::path data = tree / "build" / "run-data";
        writeOnly(data / "exports", 0700);
        writeOnly(data / "logs", 0700);
        writeBytes(qPath(data / "exports" / "Night drive.wav"), "an earlier song");
        writeBytes(qPath(data / "window.png"), "an earlier picture");
        writeBytes(qPath(data / "logs" / "ostrel.log"), "an old run's last line\n");
        writeOnly(data, c.dataMode);

        const ScriptRun run = runScript(tree.path(), c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.name << run.output.toStdString() << run.errors.toStdString();
        EXPECT_TRUE(run.output.contains(c.said)) << c.name << run.output.toStdString();
        for (const QString& text : c.notSaid) {
            EXPECT_FALSE((run.output + run.errors).contains(text))
                << c.name << ": " << text.toStdString() << "\n" << run.output.toStdString() << run.errors.toStdString();
        }
        if (c.refused) {
            const QString sentence =
                "Ostrel cannot use " + qPath(data) + " as its data folder: other users may write in it (owner ";
            EXPECT_TRUE(run.errors.contains(sentence)) << c.name << run.errors.toStdString();
            EXPECT_TRUE(run.output.mid(run.output.indexOf(c.said)).contains(sentence)) << c.name << run.output.toStdString();
        }
        EXPECT_EQ(readBytes(qPath(data / "exports" / "Night drive.wav")), "an earlier song") << c.name;
        EXPECT_EQ(readBytes(qPath(data / "window.png")), "an earlier picture") << c.name;
    }
}

// Regression: run.sh put its own --data-dir first, where the program takes it, so one given to
// it was ignored; in a checkout of another user's it left the program's refusal without a way
// past it; and its log tail showed an ERROR's recent steps without the record's first line.
TEST(ProgramRunScriptTest, TheDataFolderGivenHoldsTheSongPictureAndLogAndNothingIsMadeInTheCheckout) {
    enum class Given { None, Apart, Joined };
    const QString anotherUsersTree = "This checkout belongs to the user nobody, so Ostrel run as " +
                                     QString::fromStdString(myName()) +
                                     " may not keep its data in it: run scripts/run.sh as nobody, or give it "
                                     "--data-dir with a folder of your own.\n";
    const struct {
        const char* name;
        bool nobodysTree;
        Given given;
        bool screenshotFails;
        int exitCode;
        bool song;
        QString said;  // on stdout
    } cases[] = {
        {"a tree of another user's, with --data-dir", true, Given::Apart, false, 0, true, "The window: "},
        {"a tree of another user's, without", true, Given::None, false, 5, false, anotherUsersTree},
        {"--data-dir=, and a screenshot that cannot be saved", false, Given::Joined, true, 2, true,
         "ends with these records"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.nobodysTree && !mayActAsAnotherUser()) {
            continue;  // only root may give a tree to another user
        }
        TempDir tree;
        TempDir dataParent;
        const std::filesystem::path data = dataParent / "data";
        layTree(tree.path());
        if (c.nobodysTree) {
            giveToNobody(tree.path());
        }
        QStringList arguments;
        if (c.given == Given::Apart) {
            arguments << "--data-dir" << qPath(data);
        } else if (c.given == Given::Joined) {
            arguments << "--data-dir=" + qPath(data);
        }
        if (c.screenshotFails) {
            arguments << "--screenshot" << qPath(data / "no such folder" / "window.png");
        }

        const ScriptRun run = runScript(tree.path(), arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output.toStdString() << run.errors.toStdString();
        EXPECT_TRUE(run.output.contains(c.said)) << run.output.toStdString();
        EXPECT_FALSE(std::filesystem::exists(tree / "build")) << "the run made a folder in the checkout";
        const std::filesystem::path song = data / "exports" / "Night drive.wav";
        EXPECT_EQ(std::filesystem::exists(song), c.song);
        EXPECT_EQ(run.output.contains("The song:   " + qPath(song) + "\n"), c.song) << run.output.toStdString();
        EXPECT_EQ(std::filesystem::exists(data / "window.png"), c.exitCode == 0);
        const QStringList errors = errorLines(data / "logs" / "ostrel.log");
        EXPECT_EQ(errors.isEmpty(), !c.screenshotFails) << errors.join('\n').toStdString();
        for (const QString& error : errors) {
            EXPECT_TRUE(run.output.contains(error + "\n")) << error.toStdString() << "\n" << run.output.toStdString();
        }
    }
}

// Regression: `run.sh --version` printed the build tool's lines before the version, and run
// by root in another user's checkout the build left build/ root's, so that the owner's own
// run failed in CMake.
TEST(ProgramRunScriptTest, TheBuildIsTheCheckoutOwnersAndSaysNothingOnStdout) {
    QProcess program;  // what the program itself prints on stdout
    program.start(QStringLiteral(OSTREL_PROGRAM), {"--version"});
    ASSERT_TRUE(program.waitForFinished(120000));
    const std::string version = program.readAllStandardOutput().toStdString();
    ASSERT_EQ(version.rfind("Ostrel ", 0), 0u) << version;
    const struct {
        const char* name;
        bool nobodysTree;
        RunAs runAs;
        int exitCode;
        std::string builtBy;  // who ran CMake, and owns build/; "(none)" when nobody did
        QString errors;       // on stderr
    } cases[] = {
        {"one's own tree", false, RunAs::Me, 0, myName(), "Linking CXX executable"},
        {"a tree of another user's, run by root", true, RunAs::Me, 0, "nobody",
         "This checkout belongs to the user nobody, so it is built as nobody: its build folder stays theirs.\n"},
        {"a tree of root's, run by another user", false, RunAs::AnotherUser, 1, "(none)",
         "This checkout belongs to the user " + QString::fromStdString(myName()) +
             ", and a build as nobody would leave its build folder nobody's: run scripts/run.sh as " +
             QString::fromStdString(myName()) + ".\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if ((c.nobodysTree || c.runAs == RunAs::AnotherUser) && !mayActAsAnotherUser()) {
            continue;  // only root may give a tree to another user or act as one
        }
        TempDir tree;
        layTree(tree.path());
        if (c.nobodysTree) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(tree.path())) {
                giveToNobody(entry.path());
            }
            giveToNobody(tree.path());
        }
        if (c.nobodysTree || c.runAs == RunAs::AnotherUser) {
            std::filesystem::permissions(tree.path(), std::filesystem::perms(0755));
            const std::string why = whyAnotherUserCannotReach(tree / "scripts" / "run.sh");
            ASSERT_EQ(why, "") << "set TMPDIR to a folder other users may enter";
        }

        const ScriptRun run = runScript(tree.path(), {"--version"}, Build::StandIn, c.runAs);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errors.toStdString();
        EXPECT_EQ(run.output.toStdString(), c.exitCode == 0 ? version : "")
            << run.errors.toStdString();
        EXPECT_TRUE(run.errors.contains(c.errors)) << run.errors.toStdString();
        EXPECT_EQ(readBytes(qPath(tree / "build" / "ran-as")).trimmed().toStdString(),
                  c.builtBy == "(none)" ? "" : c.builtBy + "\n" + c.builtBy);
        EXPECT_EQ(ownerOf(tree / "build"), c.builtBy);
    }
}
