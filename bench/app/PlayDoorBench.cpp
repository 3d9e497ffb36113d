// Play after an edit, measured as a script sees it: the real program without a display (on the
// null output, as on this machine), driven through its control door. The reference songs are
// built through the door as a musician would: eight tracks with the first eight built-in
// instruments, an echo on every second track, the default pattern added again and again to
// 1, 3 and 10 minutes (at 120 BPM, the default tempo).
//
//   PlayAfterEdit/M:     tracks.setVolume, then transport.play, then transport.position until
//                        the position has moved; the time from sending play to that reply.
//                        Its granularity is the 30 ms door pump and the 40 ms transport tick.
//   PingWhilePlayStarts/M: tracks.setVolume, then transport.play and app.ping in one write:
//                        the ping's round trip, which waits for whatever play leaves the GUI
//                        thread doing.
//
//   app_play_door_bench [--program=PATH] [benchmark options]
//
// --program runs another build of the program, for the figures before a change; the song
// is built the same way whatever the build.

#include "BenchSupport.h"
#include "DoorClient.h"

#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
namespace bench = ostrel::bench;
using bench::require;

std::string programPath = OSTREL_PROGRAM;
const std::string kToken = "0123456789abcdef0123456789abcdef";

// The program with its door open, and one client on it.
class Program {
public:
    explicit Program(double minutes) {
        require(data_.isValid(), "a temporary data folder");
        const int port = bench::freeLoopbackPort();
        std::ofstream(data_.filePath("settings.json").toStdString())
            << json{{"format_version", 1},
                    {"values",
                     {{"api.enabled", true},
                      {"api.port", port},
                      {"api.osc.port", bench::freeLoopbackPort(SOCK_DGRAM)},
                      {"api.token", kToken}}}}
                   .dump();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.start(QString::fromStdString(programPath),
                       {"--data-dir", data_.path(), "--quit-after-ms", "1800000"});
        require(process_.waitForStarted(), "the program starts");
        const auto limit = Clock::now() + std::chrono::minutes(2);
        while (!(client_ = std::make_unique<bench::DoorClient>(static_cast<std::uint16_t>(port)))->connected()) {
            require(Clock::now() < limit && process_.state() != QProcess::NotRunning, "the door opens");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        call("app.ping");
        buildSong(minutes);
    }
    ~Program() {
        client_.reset();
        process_.kill();
        process_.waitForFinished();
    }

    void send(const std::string& method, const json& params = json::object()) {
        client_->send(
            json{{"id", ++id_}, {"jsonrpc", "2.0"}, {"method", method}, {"params", params}, {"token", kToken}}.dump() +
            "\n");
    }
    // The next reply's result.
    json reply() {
        const json line = json::parse(client_->readReply());
        if (!line.contains("result")) {
            std::fprintf(stderr, "%s\n", line.dump().c_str());
        }
        require(line.contains("result"), "a request succeeds");
        return line["result"];
    }
    json call(const std::string& method, const json& params = json::object()) {
        send(method, params);
        return reply();
    }

    std::string firstTrack() const { return tracks_.front(); }

private:
    void buildSong(double minutes) {
        const json instruments = call("instruments.list")["instruments"];
        // 4-bar patterns of 4 beats a bar at 120 BPM: 7.5 a minute.
        const int patterns = static_cast<int>(std::ceil(minutes * 120.0 / 16.0));
        for (int t = 0; t < 8; ++t) {
            const std::string id = call("tracks.add")["id"];
            tracks_.push_back(id);
            call("tracks.setInstrument", {{"id", id}, {"patch", instruments[t]["name"]}});
            if (t % 2 == 1) {
                call("devices.add", {{"trackId", id}, {"deviceId", "ostrel.delay"}});
            }
            // Pipelined, a burst per pump, within the door's 32 waiting requests.
            for (int sent = 0; sent < patterns; sent += 16) {
                const int burst = std::min(16, patterns - sent);
                for (int p = 0; p < burst; ++p) {
                    send("tracks.addPattern", {{"id", id}});
                }
                for (int p = 0; p < burst; ++p) {
                    reply();
                }
            }
        }
    }

    QTemporaryDir data_;
    QProcess process_;
    std::unique_ptr<bench::DoorClient> client_;
    int id_ = 0;
    std::vector<std::string> tracks_;
};

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void editFirstTrack(Program& program, int i) {
    program.call("tracks.setVolume", {{"id", program.firstTrack()}, {"volume", i % 2 == 0 ? 0.8 : 0.9}});
}

void PlayAfterEdit(benchmark::State& state) {
    Program program(static_cast<double>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        editFirstTrack(program, ++i);
        const auto start = Clock::now();
        program.call("transport.play");
        while (program.call("transport.position")["positionBeats"].get<double>() <= 0.0) {
        }
        state.SetIterationTime(secondsSince(start));
        program.call("transport.stop");
    }
}
BENCHMARK(PlayAfterEdit)->Arg(1)->Arg(3)->Arg(10)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void PingWhilePlayStarts(benchmark::State& state) {
    Program program(static_cast<double>(state.range(0)));
    int i = 0;
    for (auto _ : state) {
        editFirstTrack(program, ++i);
        const auto start = Clock::now();
        program.send("transport.play");
        program.send("app.ping");
        program.reply();
        program.reply();
        state.SetIterationTime(secondsSince(start));
        program.call("transport.stop");
    }
}
BENCHMARK(PingWhilePlayStarts)->Arg(3)->Arg(10)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--program=", 10) == 0) {
            programPath = argv[i] + 10;
        } else {
            rest.push_back(argv[i]);
        }
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
