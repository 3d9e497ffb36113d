// scripts/run.sh as a newcomer meets it without a display: a copy of it at the top of a tree
// of the test's own, so its build/run-data is the test's too, running the program built here.

#include "ProgramTestSupport.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

#include <filesystem>

using namespace ostrel::test;

namespace {

struct ScriptRun {
    int exitCode = -1;
    QString output;  // stdout
    QString errors;  // stderr
};

ScriptRun runScript(const std::filesystem::path& tree, const QStringList& arguments) {
    std::filesystem::create_directories(tree / "scripts");
    std::filesystem::copy_file(OSTREL_RUN_SCRIPT, tree / "scripts" / "run.sh");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("OSTREL_RUN_PROGRAM", QStringLiteral(OSTREL_PROGRAM));
    QProcess script;
    script.setProcessEnvironment(environment);
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
