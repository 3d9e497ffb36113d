#pragma once

// The built program, started as a user would start it, without a display: what the
// program-level tests share.

#include "AppTestSupport.h"
#include "api_server/ApiTestSupport.h"
#include "support/AnotherUser.h"
#include "support/TempDir.h"

#include <QProcess>
#include <QDir>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ostrel::test {

// A 1920 x 1080 screen, which holds the window at its first size (the offscreen platform's
// own is 800 x 600, too small even for the smallest). Qt's software scene graph keeps a few
// textures to the end, which LeakSanitizer would count against the program; the full unwind
// lets the suppressions see Qt's frames. Both files are read from dataFolder; the quotes keep
// a path with a space in it one value.
void useOffscreenEnvironment(QProcessEnvironment& environment,
                             const QString& dataFolder = QStringLiteral(OSTREL_TEST_DATA_DIR));

struct ProgramRun {
    int exitCode = -1;
    QString output;
};

// The copies of the program and of its screen and suppressions that another user may read,
// side by side in one folder.
std::unique_ptr<CopiesForAnotherUser> programForAnotherUser();

// With anotherUser, the run is that user's, from its copies, the child becoming them as
// becomeThem says (nobody, unless told otherwise); else this user's.
ProgramRun runProgram(const QStringList& arguments,
                      const QProcessEnvironment& environmentOfRun = QProcessEnvironment::systemEnvironment(),
                      const CopiesForAnotherUser* anotherUser = nullptr, void (*becomeThem)() = becomeAnotherUser);

// Like runProgram, but the program is killed, and the run fails, as soon as it holds more
// than limitMiB: a program that reads a device for ever would otherwise take the machine's
// memory before the guard ends it.
ProgramRun runProgramWithin(const QStringList& arguments, long limitMiB);

// Waits for the running program's log to hold a line matching pattern; false when the
// program ended first or the guard ran out.
bool waitForLogLine(QProcess& program, const QString& data, const QString& pattern);

void startProgram(QProcess& program, const QStringList& arguments);

// The log's records as "LEVEL [category] message", in order.
QStringList logMessages(const QString& dataFolder);

// "INFO [app] Ostrel <version> starting".
QString startingLine();

qsizetype indexMatching(const QStringList& messages, const QString& pattern);

// A loopback port free a moment ago, of the socket type given.
int freePort(int type);

// Every name under a folder with its kind, its mode and, for a file, its bytes.
QStringList contentsOf(const QString& folder);

// Makes the folder (and its parents) and gives it mode.
void writeOnly(const std::filesystem::path& path, int mode);

// Makes the data folder when missing, with a settings file that opens both doors on the
// ports given, and holds the token when one is given.
void writeDoorSettings(const QString& dataFolder, int apiPort, int oscPort, const std::string& token = {});

// The name of the user the tests run as.
std::string myName();

// The program with both doors open on free ports, and a connected JSON-RPC client that
// waits as long as the program needs to load; killed at the end.
class ProgramWithDoor {
public:
    explicit ProgramWithDoor(const QString& data) : token_("0123456789abcdef0123456789abcdef") {
        const int port = freePort(SOCK_STREAM);
        port_ = static_cast<std::uint16_t>(port);
        writeDoorSettings(data, port, freePort(SOCK_DGRAM), token_);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        useOffscreenEnvironment(environment);
        program_.setProcessEnvironment(environment);
        program_.setProcessChannelMode(QProcess::MergedChannels);
        // Ended by the test; the quit time only bounds a test that hangs.
        program_.start(QStringLiteral(OSTREL_PROGRAM), {"--data-dir", data, "--quit-after-ms", "600000"});
        const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (program_.waitForStarted() && (client_ == nullptr || !client_->connected()) &&
               std::chrono::steady_clock::now() < guard) {
            client_ = std::make_unique<TestClient>(static_cast<std::uint16_t>(port));
            if (!client_->connected()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        send("app.ping");
        std::optional<std::string> ready;
        while (connected() && !(ready = client_->readReply()) && std::chrono::steady_clock::now() < guard) {
        }
        ready_ = ready.has_value();
    }
    ~ProgramWithDoor() {
        client_.reset();
        program_.kill();
        program_.waitForFinished();
    }

    bool ready() const { return ready_; }
    bool connected() const { return client_ != nullptr && client_->connected(); }
    std::uint16_t port() const { return port_; }
    const std::string& token() const { return token_; }
    // The client leaves: the door is free.
    void leave() { client_.reset(); }

    // Several requests in one write, as a script that does not wait would send them.
    void send(const std::vector<std::pair<std::string, nlohmann::json>>& requests) {
        std::string lines;
        for (const auto& [method, params] : requests) {
            lines += nlohmann::json{{"id", ++id_}, {"method", method}, {"params", params}, {"token", token_}}.dump() + "\n";
        }
        EXPECT_TRUE(client_->send(lines));
    }
    void send(const std::string& method, const nlohmann::json& params = nlohmann::json::object()) {
        send({{method, params}});
    }
    // The next reply, whatever it says; a busy machine may take longer than one read's guard.
    nlohmann::json reply() {
        const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        std::optional<std::string> reply;
        while (!(reply = client_->readReply()) && std::chrono::steady_clock::now() < guard) {
        }
        return nlohmann::json::parse(reply.value_or("{}"));
    }
    // The next reply's result.
    nlohmann::json result() {
        const nlohmann::json parsed = reply();
        EXPECT_TRUE(parsed.contains("result")) << parsed.dump();
        return parsed.value("result", nlohmann::json::object());
    }
    nlohmann::json call(const std::string& method, const nlohmann::json& params = nlohmann::json::object()) {
        send(method, params);
        return result();
    }

    QProcess& process() { return program_; }

private:
    std::string token_;
    QProcess program_;
    std::unique_ptr<TestClient> client_;
    std::uint16_t port_ = 0;
    int id_ = 0;
    bool ready_ = false;
};

// Another user's crowd at the door (DoorCrowd.cpp), run as the test's own user when the test
// cannot act as another. Ended, if still running, when destroyed.
class DoorCrowd {
public:
    DoorCrowd(std::uint16_t port, int seconds) {
        QString program = QStringLiteral(OSTREL_DOOR_CROWD);
        if (mayActAsAnotherUser()) {
            copies_ = std::make_unique<CopiesForAnotherUser>(std::vector<std::filesystem::path>{OSTREL_DOOR_CROWD});
            EXPECT_EQ(copies_->problem(), "");
            if (copies_->problem().empty()) {
                program = qPath(copies_->of(OSTREL_DOOR_CROWD));
                process_.setChildProcessModifier(becomeAnotherUser);
            }
        }
        process_.start(program, {QString::number(port), QString::number(seconds)});
        EXPECT_TRUE(process_.waitForStarted());
    }
    ~DoorCrowd() { end(); }

    bool running() const { return process_.state() == QProcess::Running; }
    // Ends the crowd now, or when its time is up; answers the connections it made (0 when
    // it could not say).
    enum class End { Now, InTime };
    long end(End when = End::Now) {
        if (when == End::Now && running()) {
            process_.terminate();
        }
        process_.waitForFinished(-1);
        const QString said = QString::fromUtf8(process_.readAllStandardOutput()).trimmed();
        connections_ = said.startsWith("connections ") ? said.mid(12).toLong() : connections_;
        return connections_;
    }

private:
    std::unique_ptr<CopiesForAnotherUser> copies_;
    QProcess process_;
    long connections_ = 0;
};
}  // namespace ostrel::test
