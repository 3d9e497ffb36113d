// The control doors as the program runs them: the JSON-RPC server's network thread, the
// 30 ms door pump on the event loop, the method table and the real controllers over the null
// output. Clients run on threads of their own; the event loop runs on the main thread until
// they are done, and each iteration's time is the client's own.
//
//   RoundTrip:          one request and its reply; mostly the wait for the next pump tick.
//   Requests32InFlight: 10,000 requests, at most 32 waiting for replies: the inbound ring
//                       of 32 slots drains once per tick, so the ceiling is 32 per 30 ms.
//   OscDatagrams:       OSC fader moves ("/ostrel/tracks/setVolume" with a track number),
//                       sent 64 at a time (the door's ring) as soon as the last lot was
//                       handled: datagrams per second through the door and the pump.
//   Dispatch:           ApiHandler::handle alone, to tell the pump's wait from the work.
//   LongReplies:        the round trip of the longest lists a large song answers, each far
//                       longer than a ring slot: tracks.list of 500 tracks and clips.notes of
//                       a clip of 10,000 notes.

#include "DoorClient.h"
#include "LargeProject.h"
#include "api_server/jsonrpc/ApiServer.h"
#include "api_server/osc/OscServer.h"
#include "app/api/ApiDoors.h"
#include "app/api/ApiHandler.h"

#include <QTimer>

#include <benchmark/benchmark.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace ostrel;

// The program's controllers over a song and both doors, wired as main wires them.
struct Program : bench::Program {
    explicit Program(model::Project song)
        : bench::Program(std::move(song)),
          handler(&project, &transport),
          server(std::make_unique<api_server::ApiServer>(nullptr)),
          osc(std::make_unique<api_server::OscServer>(nullptr)) {
        server->handler = app::apiRequestHandler(handler);
        const api_server::OscServer::Handler oscHandler = app::oscRequestHandler(handler);
        osc->handler = [this, oscHandler](const std::string& method, const std::string& params) {
            // Counted before the call: a refusal throws, and the door drops it.
            oscHandled.fetch_add(1, std::memory_order_release);
            return oscHandler(method, params);
        };
        bench::require(server->start(0, "token"), "the JSON-RPC door starts");
        bench::require(osc->start(0), "the OSC door starts");
        app::connectDoors(pump, project, *server, *osc);
    }
    ~Program() {
        pump.stop();
        osc->stop();
        server->stop();
    }

    app::ApiHandler handler;
    std::unique_ptr<api_server::ApiServer> server;
    std::unique_ptr<api_server::OscServer> osc;
    std::atomic<std::uint64_t> oscHandled{0};
    QTimer pump;
};

// A song of eight tracks, each with four clips of sixteen notes and two effects.
Program& program() {
    static Program shared(
        bench::largeProject({.tracks = 8, .clipsPerTrack = 4, .notesPerClip = 16, .effectsPerTrack = 2}));
    return shared;
}

// A song of 500 tracks without instruments, the first with one clip of 10,000 notes.
Program& largeSongProgram() {
    static Program shared(bench::largeProject({.tracks = 1, .clipsPerTrack = 1, .notesPerClip = 10000, .effectsPerTrack = 0},
                                              [] {
                                                  std::vector<model::Track> more(499);
                                                  for (std::size_t t = 0; t < more.size(); ++t) {
                                                      more[t].id = model::Uuid::generate();
                                                      more[t].name = "Track " + std::to_string(t + 2);
                                                  }
                                                  return more;
                                              }()));
    return shared;
}


std::string requestLine(const std::string& method, const std::string& params) {
    return R"({"id":1,"jsonrpc":"2.0","method":")" + method + R"(","params":)" + params + R"(,"token":"token"})" "\n";
}

const std::string kPing = requestLine("app.ping", "{}");

// A volume edit of the first track: one undo step and one notification each time, the
// value alternating so that every request changes the song.
std::string volumeLine(const std::string& trackId, int i) {
    return requestLine("tracks.setVolume",
                       R"({"id":")" + trackId + R"(","volume":)" + (i % 2 == 0 ? "0.5" : "0.75") + "}");
}

std::string firstTrackId() { return program().project.document().tracks().front().id.toString(); }

void RoundTrip(benchmark::State& state) {
    Program& p = program();
    bench::DoorClient client(p.server->port());
    bench::require(client.connected(), "the client connects");
    for (auto _ : state) {
        state.SetIterationTime(bench::runClientThread([&] {
            client.send(kPing);
            client.readReply();
        }));
    }
}
BENCHMARK(RoundTrip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(100);

// 10,000 requests of one kind, never more than 32 without their replies.
void Requests32InFlight(benchmark::State& state) {
    constexpr int kRequests = 10000;
    constexpr int kInFlight = 32;
    Program& p = program();
    const bool edits = state.range(0) != 0;
    const std::string trackId = firstTrackId();
    bench::DoorClient client(p.server->port());
    bench::require(client.connected(), "the client connects");
    for (auto _ : state) {
        state.SetIterationTime(bench::runClientThread([&] {
            int sent = 0;
            int answered = 0;
            while (answered < kRequests) {
                std::string burst;
                while (sent < kRequests && sent - answered < kInFlight) {
                    burst += edits ? volumeLine(trackId, sent) : kPing;
                    ++sent;
                }
                if (!burst.empty()) {
                    client.send(burst);
                }
                client.readReply();
                ++answered;
            }
        }));
    }
    state.SetItemsProcessed(state.iterations() * kRequests);
    state.SetLabel(edits ? "tracks.setVolume, a notification each" : "app.ping");
}
BENCHMARK(Requests32InFlight)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void putString(std::string& out, const std::string& text) {
    out += text;
    out += '\0';
    while (out.size() % 4 != 0) {
        out += '\0';
    }
}

std::string volumeDatagram(float volume) {
    std::string out;
    putString(out, "/ostrel/tracks/setVolume");
    putString(out, ",sf");
    putString(out, "1");
    const auto bits = std::bit_cast<std::uint32_t>(volume);
    for (int shift = 24; shift >= 0; shift -= 8) {
        out += static_cast<char>((bits >> shift) & 0xFF);
    }
    return out;
}

void OscDatagrams(benchmark::State& state) {
    constexpr int kDatagrams = 6400;
    constexpr int kRing = 64;
    Program& p = program();
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(p.osc->port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::string datagrams[2] = {volumeDatagram(0.5f), volumeDatagram(0.75f)};
    for (auto _ : state) {
        state.SetIterationTime(bench::runClientThread([&] {
            const std::uint64_t first = p.oscHandled.load(std::memory_order_acquire);
            for (int sent = 0; sent < kDatagrams; sent += kRing) {
                for (int i = 0; i < kRing; ++i) {
                    const std::string& d = datagrams[(sent + i) % 2];
                    ::sendto(udp, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
                }
                // The next lot only once the pump has taken this one.
                const auto target = first + static_cast<std::uint64_t>(sent + kRing);
                while (p.oscHandled.load(std::memory_order_acquire) < target) {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
            }
        }));
    }
    ::close(udp);
    state.SetItemsProcessed(state.iterations() * kDatagrams);
}
BENCHMARK(OscDatagrams)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void Dispatch(benchmark::State& state) {
    Program& p = program();
    const std::string trackId = firstTrackId();
    int i = 0;
    for (auto _ : state) {
        switch (state.range(0)) {
        case 0:
            benchmark::DoNotOptimize(p.handler.handle("app.ping", "{}"));
            break;
        case 1:
            benchmark::DoNotOptimize(p.handler.handle("tracks.list", "{}"));
            break;
        default:
            benchmark::DoNotOptimize(p.handler.handle(
                "tracks.setVolume", R"({"id":")" + trackId + R"(","volume":)" + (++i % 2 == 0 ? "0.5" : "0.75") + "}"));
            break;
        }
    }
    state.SetLabel(state.range(0) == 0 ? "app.ping" : state.range(0) == 1 ? "tracks.list" : "tracks.setVolume");
}
BENCHMARK(Dispatch)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void LongReplies(benchmark::State& state) {
    Program& p = largeSongProgram();
    const model::Track& first = p.project.document().tracks().front();
    const std::string method = state.range(0) == 0 ? "tracks.list" : "clips.notes";
    const std::string params = state.range(0) == 0 ? "{}"
                                                    : R"({"trackId":")" + first.id.toString() + R"(","clipId":")" +
                                                          first.clips.front().id.toString() + "\"}";
    const std::string line = requestLine(method, params);
    bench::DoorClient client(p.server->port());
    bench::require(client.connected(), "the client connects");
    std::string reply;
    for (auto _ : state) {
        state.SetIterationTime(bench::runClientThread([&] {
            client.send(line);
            reply = client.readReply();
        }));
    }
    bench::require(reply.rfind(R"({"id":1,"jsonrpc":"2.0","result":)", 0) == 0, "the whole reply");
    state.counters["replyBytes"] = static_cast<double>(reply.size());
    // The method table's share, on this thread as the pump would run it.
    const auto start = std::chrono::steady_clock::now();
    constexpr int kCalls = 10;
    for (int i = 0; i < kCalls; ++i) {
        benchmark::DoNotOptimize(p.handler.handle(method, params));
    }
    state.counters["methodMs"] =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / kCalls;
    state.SetLabel(state.range(0) == 0 ? "tracks.list, 500 tracks" : "clips.notes, 10,000 notes");
}
BENCHMARK(LongReplies)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace

int main(int argc, char** argv) { return ostrel::bench::runWithEventLoop(argc, argv); }
