// The built program's failures to write and to listen, each with the system's reason in the
// log, as the person reading it needs it to act.

#include "ProgramTestSupport.h"
#include "support/AnotherUser.h"
#include "support/HeldPort.h"
#include "support/TempDir.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

using namespace ostrel::test;

namespace {

// Regression: the export's ERROR said "cannot create …/Night drive.wav.tmp" and no more.
// The user may not write the exports folder: nobody's of mode 0500, run as nobody, since root
// writes whatever the mode; the user's own of that mode when the tests run as another.
TEST(ProgramFailureReasonsTest, AnExportIntoAFolderTheUserMayNotWriteSaysTheSystemsReason) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));  // nobody may look in
    const std::filesystem::path data = dir / "data";
    writeOnly(data, 0700);
    writeOnly(data / "exports", 0500);
    std::unique_ptr<CopiesForAnotherUser> nobody;
    if (mayActAsAnotherUser()) {
        giveToNobody(data);
        giveToNobody(data / "exports");
        nobody = programForAnotherUser();
        ASSERT_EQ(nobody->problem(), "");
    }
    const ProgramRun run = runProgram({"--data-dir", qPath(data), "--demo-project", "--quit-after-ms", "8000"},
                                      QProcessEnvironment::systemEnvironment(), nobody.get());
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QString song = qPath(data / "exports" / "Night drive.wav");
    const QStringList messages = logMessages(qPath(data));
    EXPECT_TRUE(messages.contains("ERROR [project] the song was not exported to " + song + ": cannot create " + song +
                                  ".tmp: Permission denied"))
        << messages.join('\n').toStdString();
    EXPECT_TRUE(QDir(qPath(data / "exports")).isEmpty());
}

// Regression: a taken port logged "could not listen on 127.0.0.1:P" and no more, though a
// client written to that port reaches whoever holds it. Both doors' ports are held by
// nobody, when the tests may act as another user, else by the test itself.
TEST(ProgramFailureReasonsTest, APortAnotherProgramHoldsIsLoggedWithTheReasonAndItsUser) {
    const HeldPort::By by = mayActAsAnotherUser() ? HeldPort::By::AnotherUser : HeldPort::By::TheUser;
    const std::string user = by == HeldPort::By::AnotherUser ? "nobody" : myName();
    const HeldPort api(SOCK_STREAM, by);
    const HeldPort osc(SOCK_DGRAM, by);
    ASSERT_NE(api.port(), 0) << api.problem();
    ASSERT_NE(osc.port(), 0) << osc.problem();
    TempDir dir;
    const QString data = qPath(dir / "data");
    writeDoorSettings(data, api.port(), osc.port());
    const ProgramRun run = runProgram({"--data-dir", data, "--quit-after-ms", "0"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QString why = QString::fromStdString("Address already in use; a program of the user " + user + " holds it");
    const QStringList messages = logMessages(data);
    for (const QString& line : {QStringLiteral("ERROR [api_server] could not listen on 127.0.0.1:%1: %2").arg(api.port()),
                                QStringLiteral("ERROR [api_server] could not bind 127.0.0.1:%1 (UDP): %2")
                                    .arg(osc.port())}) {
        EXPECT_TRUE(messages.contains(line.arg(why))) << messages.join('\n').toStdString();
    }
}

}  // namespace
