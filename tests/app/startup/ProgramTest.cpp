// The built program, started as a user would start it, without a display.

#include "AppTestSupport.h"
#include "ProgramTestSupport.h"
#include "api_server/ApiTestSupport.h"
#include "api_server/OscTestSupport.h"
#include "api_server/jsonrpc/ApiError.h"
#include "app/startup/Application.h"
#include "app/startup/CommandLineOptions.h"
#include "core/BuildInfo.h"
#include "support/AnotherUser.h"
#include "support/TempDir.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QString>

#include "support/AnotherUser.h"
#include "support/HostileFiles.h"

#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace ostrel;
using namespace ostrel::test;

namespace {

QString simplified(const QString& text) { return QString(text).replace(QRegularExpression("\\s+"), " "); }

}  // namespace

TEST(ProgramRunTest, QuitAfterMsStartsLogsAndEndsWithZero) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const ProgramRun run = runProgram({"--data-dir", data, "--quit-after-ms", "1500"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QStringList messages = logMessages(data);
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.first(), startingLine());
    EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
    EXPECT_TRUE(messages.contains("INFO [ui] loaded 5 theme(s)"));
    EXPECT_GT(indexMatching(messages, "^INFO \\[app\\] first frame after \\d+ ms$"), 0);
    EXPECT_EQ(indexMatching(messages, "crash report"), -1);
    EXPECT_FALSE(QFile::exists(data + "/settings.json"));
    EXPECT_TRUE(QDir(data + "/crashes").exists());
}

// Regression: a negative time never quit; then it quit at once, before a picture asked for.
TEST(ProgramRunTest, ANegativeQuitTimeIsAWrongCommandLineInTheEqualsForm) {
    TempDir dir;
    const QString data = qPath(dir / "joined");
    const ProgramRun run = runProgram({"--data-dir=" + data, "--quit-after-ms=-5"});
    EXPECT_EQ(run.exitCode, 1) << run.output.toStdString();
    EXPECT_TRUE(run.output.contains("Ostrel: Invalid value '-5' for '--quit-after-ms'")) << run.output.toStdString();
    EXPECT_FALSE(QFileInfo::exists(data));
}

TEST(ProgramRunTest, WithoutDataDirTheXdgDataFolderIsUsed) {
    TempDir dir;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove("APPDATA");
    environment.insert("XDG_DATA_HOME", qPath(dir / "xdg"));
    const QString picture = qPath(dir / "window.png");
    const ProgramRun run = runProgram({"--demo-error", "--screenshot", picture}, environment);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QStringList messages = logMessages(qPath(dir / "xdg" / "Ostrel" / "Ostrel"));
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.first(), startingLine());
    EXPECT_TRUE(
        messages.contains("ERROR [test] This is a test error, created on purpose to show the flight recorder."));
}

TEST(ProgramRunTest, HelpListsEveryOptionWithItsText) {
    const ProgramRun run = runProgram({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    const QString help = simplified(run.output);
    for (const app::CommandLineOptionSpec& option : app::commandLineOptions()) {
        EXPECT_TRUE(help.contains(QStringLiteral("--%1").arg(QLatin1String(option.name)))) << option.name;
        EXPECT_TRUE(help.contains(simplified(QString::fromUtf8(option.description)))) << option.description;
    }
}

TEST(ProgramScreenshotTest, APictureOfTheWindowIsSavedAfterTheFirstFrame) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const QString picture = qPath(dir / "window.png");
    const ProgramRun run = runProgram({"--data-dir", data, "--theme", "light", "--screenshot", picture});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();

    EXPECT_TRUE(readBytes(picture).startsWith("\x89PNG\r\n\x1a\n"));
    const QImage image(picture);
    EXPECT_EQ(image.size(), QSize(1320, 860));
    // The light theme's background, left of the logo under the menu bar.
    EXPECT_EQ(image.pixelColor(5, 40).name(), "#f4f5fa");

    const QStringList messages = logMessages(data);
    const qsizetype firstFrame = indexMatching(messages, "^INFO \\[app\\] first frame after \\d+ ms$");
    const qsizetype saved = messages.indexOf("INFO [app] screenshot saved to " + picture);
    EXPECT_EQ(messages.first(), startingLine());
    EXPECT_GT(firstFrame, 0);
    EXPECT_GT(saved, firstFrame);
    EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
    // The theme option is for this run only.
    EXPECT_FALSE(QFile::exists(data + "/settings.json"));
}

// At the interface size 75 % the picture is the whole window, three quarters as large: the
// picture at 100 % made smaller, not the top left of the window drawn unscaled.
TEST(ProgramScreenshotTest, AtThreeQuartersSizeThePictureIsTheWholeWindow) {
    TempDir dir;
    const auto pictureAt = [&dir](int uiScale) {
        const QString data = qPath(dir / ("data" + std::to_string(uiScale)));
        const QString picture = qPath(dir / ("window" + std::to_string(uiScale) + ".png"));
        QDir().mkpath(data);
        writeBytes(data + "/settings.json",
                   QStringLiteral(R"({"format_version": 1, "values": {"appearance.ui_scale": %1}})").arg(uiScale).toUtf8());
        // One window size at both, which the screen holds at both.
        const ProgramRun run = runProgram({"--data-dir", data, "--screenshot", picture, "-qwindowgeometry", "1060x760"});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        return QImage(picture).convertToFormat(QImage::Format_RGB32);
    };
    const QImage full = pictureAt(100);
    const QImage small = pictureAt(75);
    ASSERT_EQ(full.size(), QSize(1060, 760));
    ASSERT_EQ(small.size(), QSize(795, 570));

    const QImage expected = full.scaled(small.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    double difference = 0.0;
    for (int y = 0; y < small.height(); ++y) {
        for (int x = 0; x < small.width(); ++x) {
            const QRgb a = small.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
        }
    }
    // Text drawn at another size differs by a little; a cut window by a lot (about 20).
    EXPECT_LT(difference / (3.0 * small.width() * small.height()), 6.0);
}

// Regression: the run ended with 2 and an INFO line, and nothing said why.
TEST(ProgramScreenshotTest, APictureThatCannotBeSavedEndsWithTwoAndSaysWhyOnStderrAndInTheLog) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const struct {
        QString picture;
        QString why;
    } cases[] = {{qPath(dir / "missing" / "window.png"), "cannot open device for writing: No such file or directory"},
                 {qPath(dir / "window.nosuchformat"), "unsupported image format"}};
    for (const auto& [picture, why] : cases) {
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        useOffscreenEnvironment(environment);
        program.setProcessEnvironment(environment);
        program.start(QStringLiteral(OSTREL_PROGRAM), {"--data-dir", data, "--screenshot", picture});
        ASSERT_TRUE(program.waitForFinished(120000)) << "a bound for a hung program";
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        EXPECT_EQ(program.exitCode(), 2) << picture.toStdString() << errors.toStdString();
        EXPECT_TRUE(errors.contains("Ostrel could not save the picture of its window to " + picture + ": " + why + ".\n"))
            << errors.toStdString();
        EXPECT_FALSE(QFile::exists(picture));
        const QStringList messages = logMessages(data);
        EXPECT_EQ(messages.at(messages.size() - 2), "ERROR [app] screenshot FAILED for " + picture + ": " + why);
        EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
    }
}

// Regression: a quit asked for before the picture was due ended the run with 0 and no picture,
// nothing said. The picture is taken before the quit, or the run ends with 2 saying why.
TEST(ProgramScreenshotTest, WithAQuitTimeThePictureIsTakenFirstOrTheRunEndsWithTwoSayingItWasNot) {
    const struct {
        QString quitAfterMs;
        int exitCode;
    } cases[] = {{"50", 2}, {"120000", 0}};
    for (const auto& [quitAfterMs, exitCode] : cases) {
        SCOPED_TRACE(quitAfterMs.toStdString());
        TempDir dir;
        const QString data = qPath(dir / "data");
        const QString picture = qPath(dir / "window.png");
        const ProgramRun run =
            runProgram({"--data-dir", data, "--quit-after-ms", quitAfterMs, "--screenshot", picture});
        EXPECT_EQ(run.exitCode, exitCode) << run.output.toStdString();
        const QStringList messages = logMessages(data);
        ASSERT_GE(messages.size(), 2);
        EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
        if (exitCode == 0) {
            EXPECT_TRUE(readBytes(picture).startsWith("\x89PNG\r\n\x1a\n"));
            EXPECT_TRUE(messages.contains("INFO [app] screenshot saved to " + picture));
            continue;
        }
        const QString why = "the run was told to quit after 50 ms (--quit-after-ms), before the picture was taken";
        EXPECT_FALSE(QFileInfo::exists(picture));
        EXPECT_TRUE(run.output.contains("Ostrel could not save the picture of its window to " + picture + ": " + why +
                                        ".\n"))
            << run.output.toStdString();
        EXPECT_TRUE(messages.contains("ERROR [app] screenshot FAILED for " + picture + ": " + why))
            << messages.join('\n').toStdString();
    }
}

// A user's own theme may be chosen by its id, which is known only once the data folder is
// read: an id that names no theme is warned of, naming those there are, and the theme of the
// settings is shown instead.
TEST(ProgramSettingsTest, AThemeOptionNamingNoThemeIsWarnedOfAndTheSettingsThemeShown) {
    const struct {
        QString theme;
        QString background;  // left of the logo under the menu bar
        bool warned;
    } cases[] = {{"bogus", "#f4f5fa", true}, {"mine", "#000000", false}};
    for (const auto& [theme, background, warned] : cases) {
        SCOPED_TRACE(theme.toStdString());
        TempDir dir;
        const QString data = qPath(dir / "data");
        QDir().mkpath(data + "/themes");
        writeBytes(data + "/settings.json", R"({"format_version": 1, "values": {"appearance.theme": "light"}})");
        writeBytes(data + "/themes/mine.json",
                   R"({"id": "mine", "name": "Mine", "colors": {"background": "#000000", "surface": "#000000", )"
                   R"("surfaceRaised": "#1A1A1A", "text": "#FFFFFF", "textMuted": "#E0E0E0", "accent": "#FFD400", )"
                   R"("onAccent": "#000000", "accent2": "#00E5FF", "border": "#FFFFFF", "error": "#FF8080", )"
                   R"("warning": "#FFD400", "success": "#66FF99"}})");
        const QString picture = qPath(dir / "window.png");
        const ProgramRun run = runProgram({"--data-dir", data, "--theme", theme, "--screenshot", picture});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        EXPECT_EQ(QImage(picture).pixelColor(5, 40).name(), background);

        const QStringList messages = logMessages(data);
        EXPECT_EQ(run.output.contains("no theme"), warned) << run.output.toStdString();
        EXPECT_EQ(indexMatching(messages, ".*no theme.*") >= 0, warned);
        if (warned) {
            const QString known = "graphite, dark, steel, light, high-contrast, mine";
            EXPECT_TRUE(run.output.contains("Ostrel has no theme 'bogus' (--theme), so it starts with the theme of its "
                                            "settings, 'light'; the themes it knows are " + known + ".\n"))
                << run.output.toStdString();
            EXPECT_TRUE(messages.contains("WARN [ui] there is no theme 'bogus' (--theme), so the settings' theme 'light' "
                                          "is shown; the themes are " + known))
                << messages.join('\n').toStdString();
        }
    }
}

TEST(ProgramSettingsTest, TheApiTokenIsMadeAndTheThemeOptionIsNotSaved) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    QDir().mkpath(data);
    writeBytes(data + "/settings.json",
               R"({"format_version": 1, "values": {"api.enabled": true, "appearance.custom_theme": "gone"}})");
    const ProgramRun run = runProgram({"--data-dir", data, "--theme", "light", "--quit-after-ms", "0"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();

    const QJsonObject values = readJsonObject(data + "/settings.json").value("values").toObject();
    const QString token = values.value("api.token").toString();
    EXPECT_TRUE(QRegularExpression("^[0-9a-f]{32}$").match(token).hasMatch()) << token.toStdString();
    EXPECT_EQ(values.value("appearance.custom_theme").toString(), "gone");
    EXPECT_FALSE(values.contains("appearance.theme"));

    // A second start keeps the token.
    EXPECT_EQ(runProgram({"--data-dir", data, "--quit-after-ms", "0"}).exitCode, 0);
    EXPECT_EQ(readJsonObject(data + "/settings.json").value("values").toObject().value("api.token").toString(), token);
}

TEST(ProgramSettingsTest, BothDoorsOpenOnTheirPortsOnlyWhenTheApiIsOn) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const int apiPort = freePort(SOCK_STREAM);
    const int oscPort = freePort(SOCK_DGRAM);
    writeDoorSettings(data, apiPort, oscPort);
    EXPECT_EQ(runProgram({"--data-dir", data, "--quit-after-ms", "0"}).exitCode, 0);
    const QStringList messages = logMessages(data);
    const qsizetype api =
        messages.indexOf(QStringLiteral("INFO [api_server] the Control API is listening on 127.0.0.1:%1").arg(apiPort));
    const qsizetype osc = messages.indexOf(
        QStringLiteral("INFO [api_server] the OSC door is listening on 127.0.0.1:%1 (UDP)").arg(oscPort));
    EXPECT_GT(api, 0) << messages.join('\n').toStdString();
    EXPECT_GT(osc, api);
    // Closed at shut-down, the OSC door first.
    const qsizetype oscClosed = messages.indexOf("INFO [api_server] the OSC door is closed");
    const qsizetype apiClosed = messages.indexOf("INFO [api_server] the Control API is closed");
    EXPECT_GT(oscClosed, osc);
    EXPECT_GT(apiClosed, oscClosed);

    TempDir off;
    const QString quiet = qPath(off / "data");
    EXPECT_EQ(runProgram({"--data-dir", quiet, "--quit-after-ms", "0"}).exitCode, 0);
    EXPECT_EQ(indexMatching(logMessages(quiet), "api_server"), -1);
}

// The running program with both doors open: what an OSC controller changes, and a render it
// finished, reach a connected JSON-RPC client as notifications.
TEST(ProgramDoorsTest, OscEditsAndFinishedRendersReachTheJsonRpcClient) {
    using nlohmann::json;
    TempDir dir;
    const QString data = qPath(dir / "data");
    const int apiPort = freePort(SOCK_STREAM);
    const auto oscPort = static_cast<std::uint16_t>(freePort(SOCK_DGRAM));
    const std::string token = "0123456789abcdef0123456789abcdef";
    writeDoorSettings(data, apiPort, oscPort, token);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    // The program is ended by the test; the quit time only bounds a test that hangs.
    program.start(QStringLiteral(OSTREL_PROGRAM), {"--data-dir", data, "--quit-after-ms", "300000"});
    ASSERT_TRUE(program.waitForStarted());

    // Connects once the program listens; the limit only guards against a program that never does.
    std::unique_ptr<TestClient> client;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (client == nullptr || !client->connected()) {
        ASSERT_LT(std::chrono::steady_clock::now(), guard) << "the Control API never opened";
        ASSERT_NE(program.state(), QProcess::NotRunning) << program.readAll().toStdString();
        client = std::make_unique<TestClient>(static_cast<std::uint16_t>(apiPort));
        if (!client->connected()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    int id = 0;
    const auto request = [&](const std::string& method, const json& params = json::object()) {
        const json line = {{"id", ++id}, {"method", method}, {"params", params}, {"token", token}};
        EXPECT_TRUE(client->sendLine(line.dump()));
        const std::optional<std::string> reply = client->readReply();
        EXPECT_TRUE(reply.has_value()) << method;
        json parsed = json::parse(reply.value_or("{}"));
        EXPECT_TRUE(parsed.contains("result")) << reply.value_or("no reply");
        return parsed.value("result", json::object());
    };
    const auto nextNotification = [&] {
        const std::optional<std::string> line = client->readLine();
        EXPECT_TRUE(line.has_value());
        json parsed = json::parse(line.value_or("{}"));
        EXPECT_FALSE(parsed.contains("id")) << line.value_or("no line");
        return parsed;
    };
    // The door listens before the window has loaded, and requests wait for the main loop: the
    // first reply may take as long as the loading does on a busy machine.
    ASSERT_TRUE(client->sendLine(json({{"id", ++id}, {"method", "app.ping"}, {"token", token}}).dump()));
    std::optional<std::string> ready;
    while (!(ready = client->readReply())) {
        ASSERT_LT(std::chrono::steady_clock::now(), guard) << "the Control API never answered";
        ASSERT_NE(program.state(), QProcess::NotRunning) << program.readAll().toStdString();
    }
    ASSERT_TRUE(json::parse(*ready).contains("result")) << *ready;
    for (int i = 0; i < 10; ++i) {
        request("tracks.add");
    }

    // Tracks by number, the tenth among them; one beyond the song changes nothing; the door
    // handles its datagrams in order, so two notifications mean all three were handled.
    UdpSender udp;
    ASSERT_TRUE(udp.send(oscPort, oscMessage("/ostrel/tracks/setMuted", ",sT").string("10")));
    ASSERT_TRUE(udp.send(oscPort, oscMessage("/ostrel/tracks/setMuted", ",sT").string("11")));
    ASSERT_TRUE(udp.send(oscPort, oscMessage("/ostrel/tracks/setSolo", ",sT").string("1")));
    for (int i = 0; i < 2; ++i) {
        json notification = nextNotification();
        EXPECT_EQ(notification["method"], "ostrel/project.changed");
        EXPECT_EQ(notification["params"]["trackCount"], 10);
    }
    json tracks = request("tracks.list")["tracks"];
    ASSERT_EQ(tracks.size(), 10u);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(tracks[i]["muted"], i == 9);
        EXPECT_EQ(tracks[i]["solo"], i == 0);
    }
    EXPECT_EQ(request("history.info")["undoText"], "Solo track");

    // Something to hear: a note on the first track's instrument.
    const std::string first = tracks[0]["id"];
    request("tracks.setInstrument", {{"id", first}, {"patch", "FM E-Piano"}});
    const std::string clip = request("clips.add", {{"trackId", first}, {"lengthBeats", 4}, {"startBeats", 0}})["clipId"];
    request("clips.addNote",
            {{"trackId", first}, {"clipId", clip}, {"pitch", 60}, {"startBeats", 0}, {"lengthBeats", 2}});
    json render = request("project.renderToWav");
    EXPECT_EQ(render["started"], true);
    // The render runs beside the main loop; a busy machine may take longer than one read's guard.
    json finished;
    for (std::optional<std::string> line; !(line = client->readLine()) ||
                                          (finished = json::parse(*line))["method"] != "ostrel/render.finished";) {
        ASSERT_LT(std::chrono::steady_clock::now(), guard + std::chrono::minutes(2)) << "no render.finished";
    }
    EXPECT_EQ(finished["params"]["path"], render["path"]) << finished.dump();
    EXPECT_TRUE(finished["params"]["seconds"].is_number()) << finished.dump();
    EXPECT_TRUE(QFile::exists(QString::fromStdString(render.value("path", std::string()))));

    client.reset();
    program.kill();
    program.waitForFinished();
}

TEST(ProgramSettingsTest, ProblemsOfEarlierRunsAreLoggedRightAfterStarting) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    QDir().mkpath(data + "/crashes");
    QDir().mkpath(data + "/themes");
    writeBytes(data + "/settings.json", "{ not json");
    writeBytes(data + "/crashes/crash-20260101-000000.txt", "report");
    writeBytes(data + "/themes/broken.json", "[]");
    const ProgramRun run = runProgram({"--data-dir", data, "--quit-after-ms", "0"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();

    const QStringList messages = logMessages(data);
    ASSERT_GE(messages.size(), 5);
    EXPECT_EQ(messages[0], startingLine());
    EXPECT_TRUE(messages[1].startsWith("WARN [settings] ")) << messages[1].toStdString();
    EXPECT_EQ(messages[2], "WARN [app] 1 crash report(s) from earlier runs are in " + data + "/crashes");
    EXPECT_TRUE(messages.contains("WARN [ui] broken.json: not a JSON object (a theme file holds one object in { })"));
    EXPECT_TRUE(QFile::exists(data + "/settings.json.bad"));
}

TEST(ProgramWindowDeathTest, AWindowThatCannotLoadEndsWithThree) {
    TempDir dir;
    const std::string data = (dir / "data").string();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The child builds everything as the program does, with a main window that fails.
    const auto runWithBrokenWindow = [&] {
        std::vector<std::string> arguments{"ostrel", "--data-dir", data, "--quit-after-ms", "60000"};
        std::vector<char*> argv;
        for (std::string& argument : arguments) argv.push_back(argument.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(arguments.size());
        app::ApplicationSetup setup;
        setup.mainWindow = QUrl::fromLocalFile(QStringLiteral(OSTREL_TEST_DATA_DIR "/BrokenMain.qml"));
        std::exit(app::runApplication(argc, argv.data(), setup));
    };
    EXPECT_EXIT(runWithBrokenWindow(), ::testing::ExitedWithCode(3), "");
    const QStringList messages = logMessages(QString::fromStdString(data));
    EXPECT_TRUE(messages.contains("ERROR [ui] the main window failed to load"));
    EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
    EXPECT_EQ(indexMatching(messages, "first frame"), -1);
}

namespace {

std::uint16_t headerWord(const QByteArray& bytes, int at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
}

}  // namespace

TEST(ProgramDemoTest, TheDemoProjectIsExportedAsASixteenBitStereoWav) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const ProgramRun run = runProgram({"--data-dir", data, "--demo-project", "--quit-after-ms", "8000"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QByteArray wav = readBytes(data + "/exports/Night drive.wav");
    ASSERT_GT(wav.size(), 44) << logMessages(data).join('\n').toStdString();
    EXPECT_TRUE(wav.startsWith("RIFF"));
    EXPECT_EQ(headerWord(wav, 20), 1);   // PCM
    EXPECT_EQ(headerWord(wav, 22), 2);   // stereo
    EXPECT_EQ(headerWord(wav, 34), 16);  // bits
    const QStringList messages = logMessages(data);
    EXPECT_GT(indexMatching(messages, "^INFO \\[app\\] first frame after \\d+ ms$"), 0);
    // The export says where it went, how long the song is and what it took.
    EXPECT_GT(indexMatching(messages, "^INFO \\[project\\] exported the song to " +
                                          QRegularExpression::escape(data + "/exports/Night drive.wav") +
                                          " \\(13\\.5 s of song in \\d+\\.\\d\\d s\\)$"),
              0)
        << messages.join('\n').toStdString();
    EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
}

TEST(ProgramDemoTest, TheSamplerDrumsAreTheSameBytesOnEveryRun) {
    TempDir dir;
    std::vector<QString> folders;
    for (const char* name : {"first", "second"}) {
        const QString data = qPath(dir / name);
        const ProgramRun run =
            runProgram({"--data-dir", data, "--demo-project", "--demo-sampler", "--quit-after-ms", "4000"});
        EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
        folders.push_back(data + "/samples/");
    }
    for (const char* file : {"Kick.wav", "Snare.wav", "Hat.wav"}) {
        const QByteArray first = readBytes(folders[0] + file);
        EXPECT_EQ(first.size(), 44 + 22050 * 2) << file;
        EXPECT_EQ(first, readBytes(folders[1] + file)) << file;
    }
}

TEST(ProgramDemoTest, TheViewSwitchesDoNothingWithoutTheDemoProject) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    // The picture is taken after the first frame's switches have run, and ends the run.
    const ProgramRun run = runProgram({"--data-dir", data, "--demo-sampler", "--demo-audio", "--demo-devices",
                                       "--screenshot", qPath(dir / "window.png")});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_GT(indexMatching(logMessages(data), "^INFO \\[app\\] first frame after \\d+ ms$"), 0);
    EXPECT_FALSE(QDir(data + "/samples").exists());
    EXPECT_FALSE(QDir(data + "/exports").exists());
}

TEST(ProgramDemoTest, EveryDemoSwitchGivesAPictureAndTheMenuAndSheetShowInIt) {
    TempDir dir;
    const QList<QStringList> switches = {{},
                                         {"--demo-menu", "2"},
                                         {"--settings-page", "about"},
                                         {"--demo-project", "--demo-devices"},
                                         {"--demo-project", "--demo-fm", "--demo-loop"}};
    QList<QImage> pictures;
    for (const QStringList& extra : switches) {
        const QString data = qPath(dir / ("data" + std::to_string(pictures.size())));
        const QString picture = qPath(dir / ("shot" + std::to_string(pictures.size()) + ".png"));
        const ProgramRun run = runProgram(QStringList{"--data-dir", data, "--screenshot", picture} + extra);
        EXPECT_EQ(run.exitCode, 0) << extra.join(' ').toStdString() << run.output.toStdString();
        const QImage image(picture);
        EXPECT_EQ(image.size(), QSize(1320, 860)) << extra.join(' ').toStdString();
        pictures.append(image);
    }
    // The open menu and the open sheet are in the picture.
    EXPECT_NE(pictures[1], pictures[0]);
    EXPECT_NE(pictures[2], pictures[0]);
    EXPECT_NE(pictures[2], pictures[1]);
}

TEST(ProgramDemoTest, TheDemoCrashLeavesAReportWithTheOpenActionAndTheStep) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const ProgramRun run = runProgram({"--data-dir", data, "--demo-crash", "--quit-after-ms", "30000"});
    EXPECT_NE(run.exitCode, 0);
    const QStringList reports = QDir(data + "/crashes").entryList({"crash-*.txt"}, QDir::Files);
    ASSERT_EQ(reports.size(), 1) << run.output.toStdString();
    const QString report = QString::fromUtf8(readBytes(data + "/crashes/" + reports.first()));
    EXPECT_TRUE(report.contains("Demo crash requested with --demo-crash")) << report.toStdString();
    EXPECT_TRUE(report.contains("about to crash on purpose (--demo-crash)")) << report.toStdString();
    EXPECT_EQ(QDir(data + "/crashes").entryList({"crash-*.dmp"}, QDir::Files).size(), 1);
}

// Regression: crash and log folders linked through a name missing at start and ".." were made
// where the path leads read as text, then written by the path, which the kernel resolves
// through the missing name: the log went to the standard error and the crash report was lost
// (or went into a folder another user made at that name meanwhile). They are written where
// the start judged them to be.
TEST(ProgramDemoTest, ACrashReportAndTheLogGoWhereTheStartJudgedTheirLinkedFoldersToBe) {
    namespace fs = std::filesystem;
    TempDir dir;
    const fs::path real = fs::canonical(dir.path());
    writeOnly(real / "shared", 01777);
    writeOnly(real / "data", 0700);
    fs::create_symlink(real / "shared" / "miss" / ".." / "vcr", real / "data" / "crashes");
    fs::create_symlink(real / "shared" / "miss" / ".." / "vlogs", real / "data" / "logs");
    const ProgramRun run = runProgram({"--data-dir", qPath(real / "data"), "--demo-crash", "--quit-after-ms", "30000"});
    EXPECT_NE(run.exitCode, 0);
    const QDir crashes(qPath(real / "shared" / "vcr"));
    EXPECT_EQ(crashes.entryList({"crash-*.txt"}, QDir::Files).size(), 1) << run.output.toStdString();
    EXPECT_EQ(crashes.entryList({"crash-*.dmp"}, QDir::Files).size(), 1);
    EXPECT_TRUE(readFile(real / "shared" / "vlogs" / "ostrel.log").find(" starting") != std::string::npos)
        << run.output.toStdString();
}

// ---- Hostile files, two copies and signals.

// Regression: a theme that was a link to /dev/zero read until memory ran out, one that was
// a FIFO hung the start before the window (--quit-after-ms never fired), and a sparse
// file of gigabytes was read whole.
TEST(ProgramHostileFilesTest, ThemesThatAreDevicesPipesOrHugeAreSkippedAndTheProgramQuitsOnTime) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    const std::filesystem::path themes = dir / "data" / "themes";
    std::filesystem::create_directories(themes);
    std::filesystem::create_symlink("/dev/zero", themes / "zero.json");
    makeFifo(themes / "pipe.json");
    makeSparseFile(themes / "sparse.json", 3ull << 30);
    const ProgramRun run = runProgramWithin({"--data-dir", data, "--quit-after-ms", "3000"}, 2048);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    const QStringList messages = logMessages(data);
    EXPECT_GT(indexMatching(messages, "^INFO \\[app\\] first frame after \\d+ ms$"), 0);
    const QString notRegular = ": not a regular file (a device, a pipe, a folder or a link to one); skipped";
    EXPECT_TRUE(messages.contains("WARN [ui] zero.json" + notRegular)) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages.contains("WARN [ui] pipe.json" + notRegular));
    EXPECT_TRUE(messages.contains("WARN [ui] sparse.json: larger than 256 KiB, too large to be a theme file; skipped"));
    EXPECT_EQ(messages.last(), "INFO [app] Ostrel closed");
}

// Regression: with the log a link to /dev/full the log view read it for ever, growing
// at 1.4 GB/s while the window loaded.
TEST(ProgramHostileFilesTest, ALogThatIsALinkToADeviceLetsTheWindowShowAndTheProgramQuit) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    std::filesystem::create_directories(dir / "data" / "logs");
    std::filesystem::create_symlink("/dev/full", dir / "data" / "logs" / "ostrel.log");
    const QString picture = qPath(dir / "window.png");
    const ProgramRun run = runProgramWithin({"--data-dir", data, "--screenshot", picture, "--quit-after-ms", "60000"}, 2048);
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(QImage(picture).size(), QSize(1320, 860));  // the window was drawn
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "data" / "logs" / "ostrel.log"));
}

// Regression: nothing stopped a second copy on the same data folder, and the two then
// broke each other's saves.
TEST(ProgramTwoCopiesTest, ASecondCopyOnTheSameDataFolderIsRefusedAndTheFirstKeepsItsFiles) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    QDir().mkpath(data);
    writeBytes(data + "/settings.json", R"({"format_version": 1, "values": {"transport.metronome": true}})");
    QProcess first;
    startProgram(first, {"--data-dir", data, "--quit-after-ms", "300000"});
    ASSERT_TRUE(first.waitForStarted());
    ASSERT_TRUE(waitForLogLine(first, data, "^INFO \\[app\\] first frame after \\d+ ms$")) << first.readAll().toStdString();
    const QByteArray settings = readBytes(data + "/settings.json");
    const QStringList logBefore = logMessages(data);

    // The same folder named another way.
    const ProgramRun second = runProgram({"--data-dir", data + "/./", "--quit-after-ms", "0"});
    EXPECT_EQ(second.exitCode, 4);
    // Qt may say something of its own first; the program's word is the last line.
    EXPECT_EQ(second.output.trimmed().split(u'\n').last(),
              QStringLiteral("Ostrel is already running with this data folder (process %1).").arg(first.processId()));
    EXPECT_EQ(readBytes(data + "/settings.json"), settings);
    EXPECT_FALSE(QFile::exists(data + "/settings.json.bad"));
    EXPECT_EQ(logMessages(data).count(startingLine()), 1);
    EXPECT_EQ(logMessages(data).mid(0, logBefore.size()), logBefore);

    // --help still answers beside a running copy.
    EXPECT_EQ(runProgram({"--data-dir", data, "--help"}).exitCode, 0);

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(120000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(first.exitCode(), 0);

    // Once the first has gone, the folder is free again, also after a kill -9.
    QProcess killed;
    startProgram(killed, {"--data-dir", data, "--quit-after-ms", "300000"});
    ASSERT_TRUE(waitForLogLine(killed, data, "^INFO \\[app\\] first frame after \\d+ ms$"));
    killed.kill();
    killed.waitForFinished();
    EXPECT_EQ(runProgram({"--data-dir", data, "--quit-after-ms", "0"}).exitCode, 0);
}

// Regression: SIGTERM and SIGINT ended the program at once, with nothing closed in order;
// then SIGHUP (the terminal closing) did, and the doors said they had closed only after
// "Ostrel closed".
TEST(ProgramSignalsTest, TermIntAndHangUpCloseTheProgramAsQuitDoesDoorsFirst) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        TempDir dir;
        const QString data = qPath(dir / "data");
        writeDoorSettings(data, freePort(SOCK_STREAM), freePort(SOCK_DGRAM));
        QProcess program;
        startProgram(program, {"--data-dir", data, "--quit-after-ms", "300000"});
        ASSERT_TRUE(waitForLogLine(program, data, "^INFO \\[app\\] first frame after \\d+ ms$"))
            << logMessages(data).join('\n').toStdString() << program.readAll().toStdString();
        ::kill(static_cast<pid_t>(program.processId()), signal);
        ASSERT_TRUE(program.waitForFinished(120000));
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
        const QStringList messages = logMessages(data);
        const QString name = signal == SIGTERM ? "SIGTERM" : signal == SIGINT ? "SIGINT" : "SIGHUP";
        const qsizetype closing = messages.indexOf("INFO [app] closing on " + name);
        const qsizetype oscClosed = messages.indexOf("INFO [api_server] the OSC door is closed");
        const qsizetype apiClosed = messages.indexOf("INFO [api_server] the Control API is closed");
        EXPECT_GT(closing, 0) << messages.join('\n').toStdString();
        EXPECT_GT(oscClosed, closing);
        EXPECT_GT(apiClosed, oscClosed);
        EXPECT_EQ(messages.indexOf("INFO [app] Ostrel closed"), messages.size() - 1);
    }
}

namespace {

struct RefusedStart {
    const char* name;
    const char* data;  // under the test's folder
    std::function<void(const std::filesystem::path& dir)> arrange;
    int exitCode;
    std::string said;  // the program's last line, "{dir}" for the test's folder
    bool asSomeoneElse = false;  // no file mode keeps root out: the start is nobody's
    // The command line, "{dir}" for the test's folder; empty: the data folder and a quit.
    QStringList arguments = {};
    bool arrangedByRoot = false;  // gives files to another user, or means to be refused as one
};

}  // namespace

// Regression: a data folder that was a file, or that nobody could write, gave exit code 0
// and not a word anywhere; with its lock file a link, a folder or one that could not be
// opened for writing, a copy ran unlocked beside the first, only a WARN in the log saying so.
// Then a lock file with a second name had that file overwritten with the process number;
// an empty --data-dir meant the default folder, and one without a value made the default
// folder and its lock before the usage error. Then a data folder of another user's, or one
// others may write in (the default one too), was taken as it was: that user could plant a
// settings file with a token of theirs, and links for the program to write the user's files
// through; a shared folder inside it let them do the same. Then only the data folder itself
// was judged: another user who could write in a folder above it, or whom an access list let
// write in it, could put their own folder or settings in its place; a link of theirs at its
// name was followed into a folder of the user's, whose settings file was moved aside; a
// settings file of theirs was obeyed; a folder of theirs that the user could not write was
// refused without its owner, and missing folders were made under a folder then refused.
// Then a missing name followed by ".." had folders made in a folder then refused, and a
// settings file of the user's that others could change was obeyed.
TEST(ProgramDataFolderTest, AStartThatCannotHoldItsDataFolderSaysWhyEndsWithItsCodeAndWritesNothing) {
    using std::filesystem::path;
    const auto cannotUse = [](const std::string& why) { return "Ostrel cannot use " + why; };
    const auto cannotLock = [](const std::string& why) {
        return "Ostrel cannot lock its data folder {dir}/data against a second copy, so it does not start: "
               "{dir}/data/ostrel.lock" + why;
    };
    const std::string emptyName =
        "Ostrel cannot use an empty --data-dir as its data folder: name a folder, or leave the option out for the "
        "usual one.";
    const auto lockFile = [](const std::function<void(const path&)>& make) {
        return [make](const path& dir) {
            writeOnly(dir / "data", 0755);
            make(dir / "data" / "ostrel.lock");
        };
    };
    const auto shared = [](const std::string& folder, const std::string& mode) {
        return "Ostrel cannot use {dir}/data as its data folder: other users may write in " + folder + " (owner " +
               myName() + ", mode " + mode + "); run chmod go-w on it, or use another " +
               (folder == "it" ? "folder." : "data folder.");
    };
    const auto sharedAbove = [](const std::string& data, const std::string& folder) {
        return "Ostrel cannot use " + data + " as its data folder: other users may write in " + folder +
               ", a folder on the way to it (owner " + myName() +
               ", mode 0777); run chmod go-w on that folder, or use a data folder elsewhere.";
    };
    const auto nothing = [](const path&) {};
    const std::vector<RefusedStart> cases = {
        {"a file", "data", [](const path& dir) { writeFile(dir / "data", "x"); }, 5,
         cannotUse("{dir}/data as its data folder: it is not a folder.")},
        {"a folder of the user's that the user may not write", "data",
         [](const path& dir) {
             writeOnly(dir / "data", 0555);
             giveToNobody(dir / "data");
         },
         5, cannotUse("{dir}/data as its data folder: it cannot be written (Permission denied; owner nobody, mode 0555)."),
         true, {}, true},
        {"a folder of another user's that the user may not write", "data",
         [](const path& dir) { writeOnly(dir / "data", 0555); }, 5,
         cannotUse("{dir}/data as its data folder: it belongs to the user " + myName() +
                   ", not to you (mode 0555); use a folder of your own."),
         true, {}, true},
        {"inside a file", "file/more/data", [](const path& dir) { writeFile(dir / "file", "x"); }, 5,
         cannotUse("{dir}/file/more/data as its data folder: it cannot be made: {dir}/file is not a folder.")},
        {"in a folder nobody may write", "shut/more/data", [](const path& dir) { writeOnly(dir / "shut", 0555); }, 5,
         cannotUse("{dir}/shut/more/data as its data folder: it cannot be made: {dir}/shut cannot be written "
                   "(Permission denied; owner " + myName() + ", mode 0555)."),
         true},
        {"a lock that is a link", "data",
         lockFile([](const path& lock) { std::filesystem::create_symlink(lock.parent_path() / "elsewhere", lock); }), 6,
         cannotLock(" is a symbolic link.")},
        {"a lock that is a folder", "data", lockFile([](const path& lock) { std::filesystem::create_directory(lock); }),
         6, cannotLock(" is a folder.")},
        {"a lock that is a pipe", "data", lockFile([](const path& lock) { makeFifo(lock); }), 6,
         cannotLock(" is not a regular file.")},
        {"a lock nobody may write", "data", lockFile([](const path& lock) {
             writeFile(lock, "1\n");
             std::filesystem::permissions(lock, std::filesystem::perms(0444));
             giveToNobody(lock.parent_path());  // the folder is the one who starts it
         }),
         6, cannotLock(" cannot be opened for writing (Permission denied)."), true, {}, true},
        {"a lock that is a hard link", "data", lockFile([](const path& lock) {
             writeFile(lock.parent_path().parent_path() / "precious", "the user's own words\n");
             std::filesystem::create_hard_link(lock.parent_path().parent_path() / "precious", lock);
         }),
         6, cannotLock(" has more than one name (a hard link).")},
        {"an empty data-dir", "data", nothing, 5, emptyName, false, {"--data-dir", "", "--quit-after-ms", "0"}},
        {"an empty data-dir joined", "data", nothing, 5, emptyName, false, {"--data-dir=", "--quit-after-ms", "0"}},
        {"a data-dir without its value", "data", nothing, 1, "Ostrel: Missing value after '--data-dir'.", false,
         {"--quit-after-ms", "0", "--data-dir"}},
        {"another user's, with a settings file planted", "data",
         [](const path& dir) {
             writeOnly(dir / "data", 0777);
             writeFile(dir / "data" / "settings.json", R"({"format_version": 1, "values": {"api.enabled": true, )"
                                                       R"("api.token": "0123456789abcdef0123456789abcdef"}})");
             giveToNobody(dir / "data" / "settings.json");
             giveToNobody(dir / "data");
         },
         5,
         "Ostrel cannot use {dir}/data as its data folder: it belongs to the user nobody, not to you (mode 0777); "
         "use a folder of your own.",
         false, {}, true},
        {"the user's own, for everyone", "data", [](const path& dir) { writeOnly(dir / "data", 0777); }, 5,
         shared("it", "0777")},
        {"the user's own, for everyone with the sticky bit", "data", [](const path& dir) { writeOnly(dir / "data", 01777); },
         5, shared("it", "1777")},
        {"the default folder, for everyone", "xdg/Ostrel/Ostrel",
         [](const path& dir) { writeOnly(dir / "xdg" / "Ostrel" / "Ostrel", 0777); }, 5,
         "Ostrel cannot use {dir}/xdg/Ostrel/Ostrel as its data folder: other users may write in it (owner " + myName() +
             ", mode 0777); run chmod go-w on it, or use another folder.",
         false, {"--quit-after-ms", "0"}},
        {"its logs, for everyone", "data", [](const path& dir) { writeOnly(dir / "data" / "logs", 0777); }, 5,
         shared("{dir}/data/logs", "0777")},
        {"in a folder for everyone", "open/data",
         [](const path& dir) {
             writeOnly(dir / "open" / "data", 0700);
             writeOnly(dir / "open", 0777);
         },
         5, sharedAbove("{dir}/open/data", "{dir}/open")},
        {"to be made in a folder for everyone", "open/more/data", [](const path& dir) { writeOnly(dir / "open", 0777); },
         5, sharedAbove("{dir}/open/more/data", "{dir}/open")},
        {"the default folder, in a folder for everyone", "xdg/Ostrel/Ostrel",
         [](const path& dir) { writeOnly(dir / "xdg", 0777); }, 5, sharedAbove("{dir}/xdg/Ostrel/Ostrel", "{dir}/xdg"),
         false, {"--quit-after-ms", "0"}},
        {"another user's link in its place, in a folder with the sticky bit, to a folder of the user's", "data",
         [](const path& dir) {
             writeOnly(dir / "config", 0700);
             writeFile(dir / "config" / "settings.json", "not JSON");
             writeFile(dir / "config" / "settings.json.bad", "kept");
             std::filesystem::create_symlink(dir / "config", dir / "data");
             giveToNobody(dir / "data");
             std::filesystem::permissions(dir, std::filesystem::perms(01777));
         },
         5,
         "Ostrel cannot use {dir}/data as its data folder: the link {dir}/data on the way to it belongs to the user "
         "nobody, not to you or root, who may replace it since {dir} has the sticky bit (mode 1777); use a data folder "
         "elsewhere, or remove that link.",
         false, {}, true},
        // The kernel would not get past the missing name; nothing may be made on the way.
        {"'..' after a missing name, into another user's folder", "mine/missing/../../theirs/data",
         [](const path& dir) {
             writeOnly(dir / "mine", 0700);
             writeOnly(dir / "theirs", 0777);
             giveToNobody(dir / "theirs");
         },
         5,
         "Ostrel cannot use {dir}/mine/missing/../../theirs/data as its data folder: {dir}/theirs, a folder on the way "
         "to it, belongs to the user nobody, not to you or root (mode 0777); use a data folder elsewhere.",
         false, {}, true},
        {"a settings file others may change, in a folder they may enter", "data",
         [](const path& dir) {
             writeOnly(dir / "data", 0755);
             writeFile(dir / "data" / "settings.json", R"({"format_version": 1, "values": {"api.enabled": true}})");
             std::filesystem::permissions(dir / "data" / "settings.json", std::filesystem::perms(0666));
         },
         5,
         "Ostrel cannot use {dir}/data/settings.json as its settings file: other users may change it (owner " +
             myName() + ", mode 0666); run chmod go-w on it, or use another data folder."},
        {"a settings file an access list lets another user change", "data",
         [](const path& dir) {
             writeOnly(dir / "data", 0700);
             writeFile(dir / "data" / "settings.json", R"({"format_version": 1, "values": {"api.enabled": true}})");
             setAccessList(dir / "data" / "settings.json", "u::rw-,u:nobody:rw-,g::---,m::rw-,o::---");
         },
         5,
         "Ostrel cannot use {dir}/data/settings.json as its settings file: the user nobody may change it through its "
         "access list (owner " + myName() + ", mode 0660, with an access list); run chmod go-w on it, or use another "
         "data folder.",
         false, {}, true},
        {"an access list that lets another user write", "data",
         [](const path& dir) {
             writeOnly(dir / "data", 0700);
             setAccessList(dir / "data", "u::rwx,u:nobody:rwx,g::---,m::rwx,o::---");
         },
         5,
         "Ostrel cannot use {dir}/data as its data folder: the user nobody may write in it through its access list "
         "(owner " + myName() + ", mode 0770, with an access list); run chmod go-w on it, or use another folder.",
         false, {}, true},
        {"a settings file of another user's that would open the doors", "data",
         [](const path& dir) {
             writeOnly(dir / "data", 0700);
             writeFile(dir / "data" / "settings.json",
                       R"({"format_version": 1, "values": {"api.enabled": true, )"
                       R"("api.token": "0123456789abcdef0123456789abcdef"}})");
             std::filesystem::permissions(dir / "data" / "settings.json", std::filesystem::perms(0644));
             giveToNobody(dir / "data" / "settings.json");
         },
         5,
         "Ostrel cannot use {dir}/data/settings.json as its settings file: it belongs to the user nobody, not to you "
         "or root (mode 0644), and Ostrel takes no orders from another user's file; remove it, or use another data "
         "folder.",
         false, {}, true},
        {"its crash reports, another user's", "data",
         [](const path& dir) {
             writeOnly(dir / "data" / "crashes", 0755);
             giveToNobody(dir / "data" / "crashes");
         },
         5,
         "Ostrel cannot use {dir}/data as its data folder: {dir}/data/crashes belongs to the user nobody, not to you "
         "(mode 0755); move it out of the data folder, or use another data folder.",
         false, {}, true},
    };
    const std::unique_ptr<CopiesForAnotherUser> nobody = mayActAsAnotherUser() ? programForAnotherUser() : nullptr;
    ASSERT_TRUE(nobody == nullptr || nobody->problem().empty()) << nobody->problem();
    for (const RefusedStart& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.arrangedByRoot && !mayActAsAnotherUser()) {
            continue;  // only root may give a file to another user
        }
        TempDir dir;
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));  // nobody may look in
        ASSERT_EQ(whyAnotherUserCannotReach(dir.path()), "");
        c.arrange(dir.path());
        const QStringList before = contentsOf(qPath(dir.path()));
        // The usual folder lies in the test's folder too, so nothing may be made there either.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("APPDATA");
        environment.insert("XDG_DATA_HOME", qPath(dir / "xdg"));
        QStringList arguments = c.arguments;
        if (arguments.isEmpty()) {
            arguments = {"--data-dir", qPath(dir / c.data), "--quit-after-ms", "0"};
        }
        const ProgramRun run = runProgram(arguments, environment, c.asSomeoneElse ? nobody.get() : nullptr);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.output.toStdString();
        // Qt may say something of its own first; the program's word is the last line.
        EXPECT_EQ(run.output.trimmed().split(u'\n').last().toStdString(),
                  QString::fromStdString(c.said).replace("{dir}", qPath(dir.path())).toStdString());
        EXPECT_EQ(contentsOf(qPath(dir.path())), before) << "something was written";
    }
}

// Regression: once the first copy's lock file was deleted, a second copy started beside it.
TEST(ProgramTwoCopiesTest, ALockFileDeletedWhileTheFirstCopyRunsStillKeepsASecondOut) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    QProcess first;
    startProgram(first, {"--data-dir", data, "--quit-after-ms", "300000"});
    ASSERT_TRUE(waitForLogLine(first, data, "^INFO \\[app\\] first frame after \\d+ ms$"))
        << first.readAll().toStdString();
    ASSERT_TRUE(QFile::remove(data + "/ostrel.lock"));

    const ProgramRun second = runProgram({"--data-dir", data, "--quit-after-ms", "0"});
    EXPECT_EQ(second.exitCode, 4);
    EXPECT_EQ(second.output.trimmed().split(u'\n').last(), "Ostrel is already running with this data folder.");
    EXPECT_FALSE(QFile::exists(data + "/ostrel.lock"));  // the second wrote nothing
    EXPECT_EQ(logMessages(data).count(startingLine()), 1);

    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(120000));
    EXPECT_EQ(first.exitCode(), 0);
}

// Regression: a settings file of mode 0644 that held the token stayed so until the next save.
// (One that others may change is refused outright.)
TEST(ProgramSettingsTest, ASettingsFileHoldingTheTokenIsMadeTheOwnersAloneAtStart) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    QDir().mkpath(data);
    const QByteArray settings = R"({"format_version": 1, "values": {"api.token": "0123456789abcdef"}})";
    writeBytes(data + "/settings.json", settings);
    std::filesystem::permissions(dir / "data" / "settings.json", std::filesystem::perms(0644));
    EXPECT_EQ(runProgram({"--data-dir", data, "--quit-after-ms", "0"}).exitCode, 0);
    EXPECT_EQ(std::filesystem::status(dir / "data" / "settings.json").permissions(), std::filesystem::perms(0600));
    EXPECT_EQ(readBytes(data + "/settings.json"), settings);  // made private, not rewritten
    EXPECT_TRUE(logMessages(data).contains("INFO [settings] " + data +
                                           "/settings.json holds the API token and other users could read it; it is "
                                           "now yours alone (mode 0600)"));
}

// Regression: a demonstration switched the metronome on in the user's settings file.
TEST(ProgramDemoTest, ADemonstrationLeavesTheSettingsFileAsItFoundIt) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    QDir().mkpath(data);
    const QByteArray settings = R"({"format_version": 1, "values": {"instrument.patch": "FM E-Piano"}})";
    writeBytes(data + "/settings.json", settings);
    const ProgramRun run =
        runProgram({"--data-dir", data, "--demo-transport", "--demo-drums", "--demo-instrument-silent",
                    "--quit-after-ms", "4000"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(readBytes(data + "/settings.json"), settings);
}

// Play after an edit no longer renders the whole song first: with a song that takes seconds
// to render, play and a ping sent right behind it are both answered, and the song plays
// (the position moves), while the render is still running.
TEST(ProgramDoorsTest, PlayAfterAnEditAnswersAtOnceAndPlaysWhileTheSongStillRenders) {
    using nlohmann::json;
    TempDir dir;
    const QString data = qPath(dir / "data");
    ProgramWithDoor program(data);
    ASSERT_TRUE(program.ready()) << "the Control API never answered";

    // Four tracks of built-in instruments, an echo on every second one, 160 s of patterns:
    // seconds to render before it could play, and not many edits to make it.
    const json instruments = program.call("instruments.list")["instruments"];
    std::string first;
    for (int t = 0; t < 4; ++t) {
        const std::string id = program.call("tracks.add")["id"];
        first = first.empty() ? id : first;
        program.call("tracks.setInstrument", {{"id", id}, {"patch", instruments[t]["name"]}});
        if (t % 2 == 1) {
            program.call("devices.add", {{"trackId", id}, {"deviceId", "ostrel.delay"}});
        }
        std::vector<std::pair<std::string, json>> patterns(20, {"tracks.addPattern", {{"id", id}}});
        program.send(patterns);
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            program.result();
        }
    }
    ASSERT_GE(program.call("project.get")["lengthBeats"].get<double>(), 320.0);

    program.call("tracks.setVolume", {{"id", first}, {"volume", 0.8}});
    program.send({{"transport.play", json::object()}, {"app.ping", json::object()}});
    EXPECT_EQ(program.result()["playing"], true);
    EXPECT_EQ(program.result()["api"], 1) << "the ping behind play";
    // A guard for a program that never plays, not a measure of speed.
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (program.call("transport.position")["positionBeats"].get<double>() <= 0.0) {
        ASSERT_LT(std::chrono::steady_clock::now(), guard) << "the position never moved";
    }
    const QString rendered = QStringLiteral("^INFO \\[project\\] rendered the song for playback \\(.*\\)$");
    const QStringList messages = logMessages(data);
    EXPECT_EQ(indexMatching(messages, rendered), -1)
        << "the render ended before the song played: " << messages.join('\n').toStdString();
    EXPECT_EQ(indexMatching(messages, "^(WARN|ERROR) .*$"), -1) << messages.join('\n').toStdString();
    // It was running: it ends later, while the song plays.
    while (indexMatching(logMessages(data), rendered) < 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), guard + std::chrono::minutes(3)) << "the render never ended";
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// Regression: a data folder made with the usual umask was 0755, so another user could
// enter it and open the settings' temporary file, token and all.
TEST(ProgramDataFolderTest, TheFoldersTheProgramMakesAreTheUsersAloneAndOnesThatExistKeepTheirModes) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const ProgramRun run = runProgram({"--data-dir", qPath(dir / "made" / "data"), "--quit-after-ms", "0"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    EXPECT_EQ(std::filesystem::status(dir.path()).permissions(), std::filesystem::perms(0755));
    EXPECT_EQ(std::filesystem::status(dir / "made").permissions(), std::filesystem::perms(0700));
    EXPECT_EQ(std::filesystem::status(dir / "made" / "data").permissions(), std::filesystem::perms(0700));
}

// Regression: the name's byte that is not UTF-8 became U+FFFD, so the program kept its files
// in another folder than the one named.
TEST(ProgramDataFolderTest, ADataFolderNamedWithAByteThatIsNotUtf8IsThatFolder) {
    TempDir dir;
    const std::filesystem::path named = dir.path() / "caf\xe9";
    // A shell passes the byte as it is; QProcess would pass the text's UTF-8.
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start("/bin/sh", {"-c", R"sh(exec "$0" --data-dir "$1/$(printf 'caf\351')" --quit-after-ms 0)sh",
                              QStringLiteral(OSTREL_PROGRAM), qPath(dir.path())});
    ASSERT_TRUE(program.waitForFinished(120000));
    EXPECT_EQ(program.exitCode(), 0) << program.readAll().toStdString();
    EXPECT_TRUE(std::filesystem::is_regular_file(named / "ostrel.lock"));
    EXPECT_TRUE(std::filesystem::is_regular_file(named / "logs" / "ostrel.log"));
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        entries.push_back(entry.path().filename().native());
    }
    EXPECT_EQ(entries, std::vector<std::string>{"caf\xe9"});
    const std::string log = readFile(named / "logs" / "ostrel.log");
    EXPECT_NE(log.find("WARN [app] the data folder's name is not valid UTF-8, so it keeps no themes or patches "
                       "this run, and projects, exports and samples go to "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("INFO [app] Ostrel closed"), std::string::npos) << log;
}

// Regression: with the data folder renamed away and a new one made at its path, the next
// export made exports/, logs/ and crashes/ in the new folder, which no lock held.
TEST(ProgramDataFolderTest, AFolderReplacedWhileTheProgramRunsIsNotWrittenAndTheLogSaysWhy) {
    TempDir dir;
    const QString data = qPath(dir / "data");
    ProgramWithDoor program(data);
    ASSERT_TRUE(program.ready()) << "the Control API never answered";
    std::filesystem::rename(dir / "data", dir / "moved");
    std::filesystem::create_directory(dir / "data");

    program.send("project.renderToWav");
    EXPECT_TRUE(program.reply().contains("error"));
    const QRegularExpression refused("ERROR \\[project\\] the export was not written: the data folder .* is no "
                                     "longer the one this copy of Ostrel locked");
    QString output;
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (!output.contains(refused) && std::chrono::steady_clock::now() < guard) {
        program.process().waitForReadyRead(100);
        output += QString::fromUtf8(program.process().readAll());
    }
    EXPECT_TRUE(output.contains(refused)) << output.toStdString();
    const QString notice = "ERROR [app] the data folder " + data +
                           " is no longer the one this copy of Ostrel locked (it was moved or replaced while Ostrel "
                           "ran), so nothing more is written into it; the log goes to the standard error from now on";
    EXPECT_TRUE(output.contains(notice)) << output.toStdString();
    EXPECT_EQ(contentsOf(data), QStringList()) << "something was written into the new folder";
}


// Regression: in a data folder of the usual mode (0755), logs/ and crashes/ were made 0755
// and the log and crash files 0644, so any user could read the log, and the raw memory and
// the environment that a crash dump holds.
TEST(ProgramDataFolderTest, WhatTheProgramMakesInADataFolderOthersMayEnterIsTheUsersAlone) {
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    writeOnly(dir / "data", 0755);
    const QString data = qPath(dir / "data");
    EXPECT_EQ(runProgram({"--data-dir", data, "--quit-after-ms", "0"}).exitCode, 0);
    EXPECT_NE(runProgram({"--data-dir", data, "--demo-crash", "--quit-after-ms", "30000"}).exitCode, 0);
    QStringList made;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "data")) {
        const auto mode = static_cast<unsigned>(entry.symlink_status().permissions());
        made.append(QString::fromStdString(entry.path().lexically_relative(dir / "data").string()));
        EXPECT_EQ(mode, entry.is_directory() ? 0700u : 0600u) << entry.path() << " is " << std::oct << mode;
    }
    made.sort();
    EXPECT_EQ(made.filter(QRegularExpression("^(crashes|logs|ostrel\\.lock)$")),
              QStringList({"crashes", "logs", "ostrel.lock"}));
    EXPECT_EQ(made.filter(QRegularExpression("^crashes/crash-.*\\.(txt|dmp)$")).size(), 2) << made.join(' ').toStdString();
    EXPECT_TRUE(made.contains("logs/ostrel.log"));
    EXPECT_EQ(std::filesystem::status(dir / "data").permissions(), std::filesystem::perms(0755));
}

// Regression: crash reports and dumps an earlier version left 0644 in a 0755 crashes/ stayed
// readable by every user (a dump holds the environment), and the start that made old logs
// private made a file of the user's elsewhere private too when an old log was another name
// of it.
TEST(ProgramDataFolderTest, OldCrashFilesBecomeTheUsersAloneAndOldFilesThatNameAnotherAreLeftAlone) {
    namespace fs = std::filesystem;
    TempDir dir;
    fs::permissions(dir.path(), fs::perms(0755));
    writeOnly(dir / "data", 0755);
    writeOnly(dir / "data" / "crashes", 0755);
    writeOnly(dir / "data" / "logs", 0755);
    const fs::path crashes = dir / "data" / "crashes";
    for (const char* old : {"crash-20250101-000000.txt", "crash-20250101-000000.dmp"}) {
        writeFile(crashes / old, old);
        fs::permissions(crashes / old, fs::perms(0644));
    }
    // Old files that are other names of files of the user's outside the data folder.
    struct Named {
        fs::path at;
        fs::path usersFile;
        bool hard;  // a hard link, else a link
        QString why;
    };
    const Named named[] = {
        {dir / "data" / "logs" / "ostrel.log.1", dir / "notes.txt", true,
         "it has another name (a hard link), and the mode of the file it names would change too"},
        {crashes / "crash-20250101-000000-2.dmp", dir / "letter.txt", false, "it is a link"},
    };
    for (const Named& name : named) {
        writeFile(name.usersFile, "the user's own\n");
        fs::permissions(name.usersFile, fs::perms(0644));
        name.hard ? fs::create_hard_link(name.usersFile, name.at) : fs::create_symlink(name.usersFile, name.at);
    }

    const ProgramRun run = runProgram({"--data-dir", qPath(dir / "data"), "--quit-after-ms", "0"});
    EXPECT_EQ(run.exitCode, 0) << run.output.toStdString();
    for (const char* old : {"crash-20250101-000000.txt", "crash-20250101-000000.dmp"}) {
        EXPECT_EQ(fs::status(crashes / old).permissions(), fs::perms(0600)) << old;
        EXPECT_EQ(readFile(crashes / old), old);
    }
    const QStringList messages = logMessages(qPath(dir / "data"));
    for (const Named& name : named) {
        EXPECT_EQ(fs::status(name.usersFile).permissions(), fs::perms(0644)) << name.at;
        EXPECT_EQ(readFile(name.usersFile), "the user's own\n");
        const QString warning =
            "WARN [app] " + qPath(name.at) + " is not made its user's alone: " + name.why + "; skipped";
        EXPECT_TRUE(messages.contains(warning)) << warning.toStdString() << "\n" << messages.join('\n').toStdString();
    }
}

// Regression: with the door held, another user's program connecting over and over wrote a
// line for each client turned away: megabytes in 20 s, and in a minute the start-up lines
// were rotated out of the log. With the door free, its 8 x 20 silent connections kept a
// client with the token out on 4 of 50 tries (16 waited, and each newcomer turned away the
// one that had waited longest), and once had it told that another client held the door
// while nobody did.
TEST(ProgramDoorsTest, AnotherUsersCrowdNeitherFillsTheLogNorKeepsTheTokenOut) {
    constexpr int kTries = 40;
    TempDir dir;
    const QString data = qPath(dir / "data");
    ProgramWithDoor program(data);
    ASSERT_TRUE(program.ready()) << "the Control API never answered";
    const QString log = data + "/logs/ostrel.log";
    const auto before = QFileInfo(log).size();
    EXPECT_GT(DoorCrowd(program.port(), 20).end(DoorCrowd::End::InTime), 1000) << "no flood";
    const auto grown = QFileInfo(log).size() - before;
    RecordProperty("logGrowthBytes", static_cast<int>(grown));
    EXPECT_LT(grown, 256 * 1024);
    const QStringList messages = logMessages(data);
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.first(), startingLine());
    // Another user's crowd is closed unread, as another user's; one of the user's own waits
    // for the door. Either way, a connection that closed before it was asked about is one
    // whose owner could not be told: how many of each depends on how busy the machine is.
    const QString unknown = "INFO \\[api_server\\] a Control-API connection was closed unread: whose process it "
                            "came from could not be told \\(it may have closed already\\)";
    const QString summed =
        "^(" + unknown + "|" +
        (mayActAsAnotherUser()
             ? "(WARN|INFO) \\[api_server\\] a Control-API connection from another user's process was closed "
               "unread: the door serves only this user's processes"
             : "INFO \\[api_server\\] a second client was turned away: one client at a time") +
        ")";
    EXPECT_GT(indexMatching(messages, summed + " \\(\\d+ more in the last 10 s\\)$"), 0)
        << messages.join('\n').toStdString();

    program.leave();
    DoorCrowd crowd(program.port(), 600);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // it gathers: no try is timed by this
    const std::string busy = R"({"error":{"code":-32004,"message":")" + std::string(api_server::kBusyMessage) + "\"}";
    int served = 0;
    int toldBusy = 0;
    for (int i = 1; i <= kTries; ++i) {
        TestClient client(program.port());
        (void)client.sendLine(TestClient::request(i, "app.ping", R"("token":")" + program.token() + "\""));
        const std::optional<std::string> line = client.readLine(std::chrono::seconds(10));
        served += line && line->starts_with("{\"id\":" + std::to_string(i) + ",\"jsonrpc\":\"2.0\",\"result\"") ? 1 : 0;
        toldBusy += line && line->starts_with(busy) ? 1 : 0;
    }
    EXPECT_TRUE(crowd.running()) << "the crowd ended before the tries did";
    EXPECT_GT(crowd.end(), 160) << "no crowd";
    EXPECT_GE(served, kTries * 95 / 100);
    EXPECT_EQ(toldBusy, 0);
}

// Regression: another user's process that held the token (leaked once) was served like the
// user's own: the door judged what a request carried, never whose process sent it.
TEST(ProgramDoorsTest, AnotherUsersClientWithTheTokenIsNotServedAndTheUsersIsServedNext) {
    if (!mayActAsAnotherUser()) {
        GTEST_SKIP() << "only root may run a client as another user";
    }
    TempDir dir;
    const QString data = qPath(dir / "data");
    ProgramWithDoor program(data);
    ASSERT_TRUE(program.ready()) << "the Control API never answered";
    program.leave();
    const std::string token = R"("token":")" + program.token() + "\"";
    const AnotherUsersClient::Visit visit =
        AnotherUsersClient(program.port(),
                           TestClient::request(1, "project.setName", token + R"(,"params":{"name":"Theirs"})") + "\n")
            .finish();
    EXPECT_EQ(visit.problem, "");
    EXPECT_TRUE(visit.closedByServer);
    EXPECT_EQ(visit.received, R"({"error":{"code":-32006,"message":")" + std::string(api_server::kAnotherUserMessage) +
                                  R"("},"id":null,"jsonrpc":"2.0"})" + "\n");

    TestClient own(program.port());
    ASSERT_TRUE(own.sendLine(TestClient::request(2, "project.get", token)));
    const nlohmann::json reply = nlohmann::json::parse(own.readReply().value_or("{}"));
    EXPECT_EQ(reply.value("id", 0), 2) << reply.dump();
    EXPECT_NE(reply.value("result", nlohmann::json::object()).value("name", "Theirs"), "Theirs") << reply.dump();
}

// Regression: a close cut short during an export left the export's temporary file, hundreds
// of megabytes, and the log ended "Ostrel closed" as after a close. Then, while the export
// still rendered in memory, its file not begun, the log said nothing was being written,
// though the export was lost. The program is stopped while it renders or writes the export,
// and two signals to close wait for it: the second cuts the close short as the time limit
// does.
TEST(ProgramSignalsTest, ACloseCutShortDuringAnExportRemovesItsUnfinishedFileAndNamesItLost) {
    struct Stage {
        const char* name;
        bool writing;  // stopped once its file is being written, else at once
        QString lost;  // after "lost"; "{path}" for the export's file
    };
    const Stage stages[] = {
        {"rendering", false, ": the export to {path}, still rendering"},
        {"writing", true, ", its unfinished file removed: writing {path}"},
    };
    for (const Stage& stage : stages) {
        SCOPED_TRACE(stage.name);
        TempDir dir;
        const QString data = qPath(dir / "data");
        ProgramWithDoor program(data);
        ASSERT_TRUE(program.ready()) << "the Control API never answered";
        // Four minutes of song at the slowest tempo: a long render and a long write.
        const std::string track = program.call("tracks.add")["id"];
        program.call("project.setTempo", {{"bpm", 20.0}});
        for (int pattern = 0; pattern < 5; ++pattern) {
            program.call("tracks.addPattern", {{"id", track}});
        }
        const QString path = QString::fromStdString(program.call("project.renderToWav").value("path", ""));

        const std::filesystem::path exports = dir / "data" / "exports";
        const auto writing = [&] {
            std::error_code missing;
            for (const auto& entry : std::filesystem::directory_iterator(exports, missing)) {
                if (entry.path().extension() == ".tmp") {
                    return true;
                }
            }
            return false;
        };
        const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(3);
        while (stage.writing && !writing()) {
            ASSERT_LT(std::chrono::steady_clock::now(), guard) << "the export never started writing";
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        const auto pid = static_cast<pid_t>(program.process().processId());
        ::kill(pid, SIGSTOP);
        ASSERT_EQ(writing(), stage.writing) << "the export was not where it was to be stopped";
        ::kill(pid, SIGINT);
        ::kill(pid, SIGTERM);
        ::kill(pid, SIGCONT);
        ASSERT_TRUE(program.process().waitForFinished(120000));
        EXPECT_EQ(program.process().exitStatus(), QProcess::CrashExit);

        EXPECT_EQ(contentsOf(qPath(exports)), QStringList());
        const QStringList messages = logMessages(data);
        // The main thread may still log its "closing on" line as the second signal arrives.
        EXPECT_TRUE(messages.contains("ERROR [app] the close was cut short by a second signal to close; lost" +
                                      QString(stage.lost).replace("{path}", path)))
            << messages.join('\n').toStdString();
        EXPECT_FALSE(messages.contains("INFO [app] Ostrel closed"));
    }
}
