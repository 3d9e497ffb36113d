// The built program, run as the tests run it.

#include "ProgramTestSupport.h"

#include "core/BuildInfo.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>

namespace ostrel::test {
namespace {

// Resident memory of a running process in MiB; 0 when it cannot be read.
long residentMiB(qint64 pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6) / 1024;
        }
    }
    return 0;
}

}  // namespace

void useOffscreenEnvironment(QProcessEnvironment& environment, const QString& dataFolder) {
    environment.insert("QT_QPA_PLATFORM", "offscreen:configfile=" + dataFolder + "/screen.json");
    environment.remove("QT_SCALE_FACTOR");
    environment.insert("LSAN_OPTIONS", "suppressions='" + dataFolder + "/qt-offscreen.supp'");
    const QString asan = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS", (asan.isEmpty() ? QString() : asan + ":") + "fast_unwind_on_malloc=0");
}

std::unique_ptr<CopiesForAnotherUser> programForAnotherUser() {
    const std::filesystem::path data = OSTREL_TEST_DATA_DIR;
    return std::make_unique<CopiesForAnotherUser>(
        std::vector<std::filesystem::path>{OSTREL_PROGRAM, data / "screen.json", data / "qt-offscreen.supp"});
}

ProgramRun runProgram(const QStringList& arguments, const QProcessEnvironment& environmentOfRun,
                      const CopiesForAnotherUser* anotherUser, void (*becomeThem)()) {
    QProcess process;
    QProcessEnvironment environment = environmentOfRun;
    QString program = QStringLiteral(OSTREL_PROGRAM);
    if (anotherUser != nullptr) {
        program = qPath(anotherUser->of(OSTREL_PROGRAM));
        useOffscreenEnvironment(environment, QFileInfo(program).path());
        process.setChildProcessModifier(becomeThem);
    } else {
        useOffscreenEnvironment(environment);
    }
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    // A bound for a hung program, not a measure of speed.
    if (!process.waitForFinished(120000)) {
        ADD_FAILURE() << "the program did not end";
        process.kill();
        process.waitForFinished();
    }
    ProgramRun run;
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

ProgramRun runProgramWithin(const QStringList& arguments, long limitMiB) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral(OSTREL_PROGRAM), arguments);
    long peak = 0;
    // A bound for a hung program, not a measure of speed: 2400 polls of 50 ms.
    for (int poll = 0; poll < 2400 && !process.waitForFinished(50); ++poll) {
        peak = std::max(peak, residentMiB(process.processId()));
        if (peak > limitMiB) {
            break;
        }
    }
    ProgramRun run;
    if (process.state() != QProcess::NotRunning) {
        ADD_FAILURE() << (peak > limitMiB ? "the program grew past " + std::to_string(limitMiB) + " MiB"
                                          : std::string("the program did not end"));
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.output = QString::fromUtf8(process.readAll());
    return run;
}

bool waitForLogLine(QProcess& program, const QString& data, const QString& pattern) {
    const auto guard = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    while (indexMatching(logMessages(data), pattern) < 0) {
        if (program.state() == QProcess::NotRunning || std::chrono::steady_clock::now() > guard) {
            return false;
        }
        program.waitForFinished(50);
    }
    return true;
}

void startProgram(QProcess& program, const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    useOffscreenEnvironment(environment);
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(OSTREL_PROGRAM), arguments);
}

QStringList logMessages(const QString& dataFolder) {
    static const QRegularExpression line(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z (\w+) \[(\w+)\] (.*)  \(thread [0-9a-f]{4}\)$)"));
    QStringList messages;
    const QString text = QString::fromUtf8(readBytes(dataFolder + "/logs/ostrel.log"));
    for (const QString& each : text.split(u'\n', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = line.match(each);
        if (match.hasMatch()) messages.append(match.captured(1) + " [" + match.captured(2) + "] " + match.captured(3));
    }
    return messages;
}

QString startingLine() {
    return QStringLiteral("INFO [app] Ostrel %1 starting").arg(QString::fromStdString(core::appVersion()));
}

qsizetype indexMatching(const QStringList& messages, const QString& pattern) {
    return messages.indexOf(QRegularExpression(pattern));
}

int freePort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

QStringList contentsOf(const QString& folder) {
    QStringList entries;
    for (QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo entry(it.next());
        const auto mode = std::filesystem::symlink_status(entry.filePath().toStdString()).permissions();
        entries.append(entry.filePath() + " " + QString::number(static_cast<unsigned>(mode), 8) +
                       (entry.isSymLink() ? " -> " + entry.symLinkTarget()
                        : entry.isFile()  ? ": " + readBytes(entry.filePath()).toHex()
                                          : QString(entry.isDir() ? "/" : " (other)")));
    }
    entries.sort();
    return entries;
}

void writeOnly(const std::filesystem::path& path, int mode) {
    std::filesystem::create_directories(path);
    std::filesystem::permissions(path, std::filesystem::perms(mode));
}

void writeDoorSettings(const QString& dataFolder, int apiPort, int oscPort, const std::string& token) {
    QDir().mkpath(dataFolder);
    const QString tokenValue =
        token.empty() ? QString() : QStringLiteral(R"(, "api.token": "%1")").arg(QString::fromStdString(token));
    writeBytes(dataFolder + "/settings.json",
               QStringLiteral(R"({"format_version": 1, "values": {"api.enabled": true, "api.port": %1, )"
                              R"("api.osc.port": %2%3}})")
                   .arg(apiPort)
                   .arg(oscPort)
                   .arg(tokenValue)
                   .toUtf8());
}

std::string myName() {
    const passwd* me = ::getpwuid(::geteuid());
    return me != nullptr ? me->pw_name : std::to_string(::geteuid());
}

}  // namespace ostrel::test
