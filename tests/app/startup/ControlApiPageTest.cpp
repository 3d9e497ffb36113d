// The scripters' page of the JSON-RPC door, tried against the built program: its example
// session runs as a reader would run it, so the page cannot drift from the door.

#include "AppTestSupport.h"
#include "ProgramTestSupport.h"
#include "api_server/ApiTestSupport.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include <sys/socket.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace ostrel::test;

namespace {

const QString kPage = QStringLiteral(OSTREL_DOCS_DIR "/control-api.md");
// The comment on the page that says the test runs the block after it.
const QString kMarker = QStringLiteral("runs the next Python block");

struct FencedBlock {
    QString info;  // what follows the opening fence: the language, or nothing
    QString text;  // the lines between the fences, each with its '\n'
};

// The ``` blocks of a Markdown text, in order.
std::vector<FencedBlock> fencedBlocks(const QString& markdown) {
    static const QRegularExpression block(QStringLiteral("^```([^\\n]*)\\n(.*?)^```$"),
                                          QRegularExpression::MultilineOption |
                                              QRegularExpression::DotMatchesEverythingOption);
    std::vector<FencedBlock> blocks;
    for (auto it = block.globalMatch(markdown); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        blocks.push_back({match.captured(1).trimmed(), match.captured(2)});
    }
    return blocks;
}

// A client that waits its turn at the door, as a script started after another would: the
// door is free a moment after the last client has gone.
nlohmann::json callWhenFree(std::uint16_t port, const std::string& token, const std::string& method) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (std::chrono::steady_clock::now() < guard) {
        TestClient client(port);
        const nlohmann::json request = {{"id", 1}, {"method", method}, {"token", token}};
        if (!client.connected() || !client.sendLine(request.dump())) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const std::optional<std::string> reply = client.readReply();
        const nlohmann::json parsed = nlohmann::json::parse(reply.value_or("{}"), nullptr, false);
        if (parsed.contains("result")) {
            return parsed["result"];
        }
    }
    ADD_FAILURE() << "the door never answered " << method;
    return nlohmann::json::object();
}

}  // namespace

TEST(ProgramControlApiPageTest, TheExampleSessionDrivesTheProgramAndPrintsWhatThePageSays) {
    const QString page = QString::fromUtf8(readBytes(kPage));
    const qsizetype marker = page.indexOf(kMarker);
    ASSERT_GE(marker, 0) << "no example marked on " << kPage.toStdString();
    const std::vector<FencedBlock> blocks = fencedBlocks(page.mid(marker));
    ASSERT_GE(blocks.size(), 2u);
    const FencedBlock& script = blocks[0];
    const FencedBlock& printed = blocks[1];
    ASSERT_EQ(script.info, "python");
    ASSERT_EQ(printed.info, "");

    // A data folder as a reader sets it up: the door switched on in the settings, the token
    // left for the program to make. Only the ports are free ones rather than the defaults.
    TempDir dir;
    const QString data = qPath(dir / "data");
    const int port = freePort(SOCK_STREAM);
    writeDoorSettings(data, port, freePort(SOCK_DGRAM));
    QProcess program;
    // Ended by the test; the quit time only bounds a test that hangs.
    startProgram(program, {"--data-dir", data, "--quit-after-ms", "600000"});
    ASSERT_TRUE(waitForLogLine(program, data,
                               QStringLiteral("^INFO \\[api_server\\] the Control API is listening on "
                                              "127\\.0\\.0\\.1:%1$")
                                   .arg(port)))
        << program.readAll().toStdString();

    const QString session = qPath(dir / "session.py");
    writeBytes(session, script.text.toUtf8());
    QProcess python;
    python.start(QStringLiteral("python3"), {session, data});
    ASSERT_TRUE(python.waitForStarted()) << "python3 is missing (scripts/setup.sh installs it)";
    // A bound for a hung session, not a measure of speed.
    ASSERT_TRUE(python.waitForFinished(120000)) << "the session did not end";
    const QString errors = QString::fromUtf8(python.readAllStandardError());
    EXPECT_EQ(python.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(python.exitCode(), 0) << errors.toStdString();
    EXPECT_EQ(QString::fromUtf8(python.readAllStandardOutput()).toStdString(), printed.text.toStdString())
        << errors.toStdString();

    // What the session leaves in the song: the bass track with its pattern, the added note
    // taken back, at the tempo it set.
    const std::string token =
        readJsonObject(data + "/settings.json").value("values").toObject().value("api.token").toString().toStdString();
    const auto door = static_cast<std::uint16_t>(port);
    const nlohmann::json tracks = callWhenFree(door, token, "tracks.list").value("tracks", nlohmann::json::array());
    ASSERT_EQ(tracks.size(), 1u) << tracks.dump();
    EXPECT_EQ(tracks[0]["name"], "Bass");
    EXPECT_EQ(tracks[0]["instrument"], "FM Bass");
    EXPECT_EQ(tracks[0]["clipCount"], 1);
    EXPECT_EQ(tracks[0]["noteCount"], 32);
    EXPECT_EQ(callWhenFree(door, token, "project.get")["tempo"], 96.0);
    EXPECT_EQ(callWhenFree(door, token, "history.info")["redoText"], "Add note");

    program.kill();
    program.waitForFinished();
}
