// The remote info server on 127.0.0.1: list requests answered per second with 50 configured
// servers (the client in the same process waits for each whole answer), and what a flood of such
// requests costs the user-interface thread: one supervisor tick over 1000 fake servers with and
// without the flood, and the wait to take the server list lock (as every start and removal of a
// server does) while the service copies the list for each request.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "eventlog/event_log.h"
#include "infoserver/info_protocol.h"
#include "infoserver/remote_info_server.h"
#include "supervision/supervisor.h"

namespace {

using namespace hm;

class QuietConsole : public RemoteConsole {
public:
    ConsoleFigures figures;
    bool IsConnected() const override { return true; }
    bool HasPlayers() const override { return figures.hasPlayers; }
    void SendLogout() override {}
    void SendQuit() override {}
    ConsoleFigures Figures() const override { return figures; }
    void SetPlayerCount(int32_t n) override {
        figures.playerCount = n;
        figures.hasPlayers = n != 0;
    }
    void SetEmptyListTicks(uint32_t t) override { figures.emptyListTicks = t; }
    void SetLastReportedCount(int32_t c) override { figures.lastReportedCount = c; }
    int RequestPlayers() override { return 1; }
    void SetMaxPlayers(uint32_t) override {}
    void SendAutoCommands() override {}
};

// A program's worth of shared state with the service running on a free port.
struct Service {
    ManualClock clock{100000000};
    EventLogList events{clock, nullptr, nullptr};
    CServerInfoArray servers;
    std::recursive_mutex serverListLock;
    TrackerInfoStore trackerInfo;
    RemoteInfoServer server{servers, serverListLock, trackerInfo, events, clock};
    std::string listRequest = info::EncodeRequest(info::kListServers, info::PasswordCheck("lantern"));

    explicit Service(size_t count) {
        for (size_t i = 0; i < count; ++i) {
            auto entry = std::make_unique<CServerInfo>();
            entry->config.launch.serverPort = static_cast<uint16_t>(2100 + i);
            entry->config.game.gameName = "Ironworks Anarchy #" + std::to_string(i + 1);
            entry->config.game.missionTitle = "Ironworks";
            entry->config.game.scriptName = "Anarchy";
            entry->config.game.maxPlayers = 16;
            entry->config.console.port = static_cast<uint16_t>(3100 + i);
            entry->config.console.password = "brass";
            entry->config.game.selective = i % 10 == 0;
            auto console = std::make_unique<QuietConsole>();
            console->figures.listedPlayers = i % 3;
            console->figures.lastReportedCount = static_cast<int32_t>(i % 3);
            console->figures.consoleTimeout = 120000;
            entry->console = std::move(console);
            servers.entries.push_back(std::move(entry));
        }
        RemoteInfoSettings settings;
        settings.enabled = 1;
        settings.port = 0;
        settings.password = "lantern";
        server.StartInfoServer(settings, events, "127.0.0.1");
    }
};

// Sends list requests without waiting for the answers until stopped; drains what comes back.
class Flood {
public:
    explicit Flood(Service& service) : service_(service) {
        thread_ = std::thread([this] {
            TcpSocket socket;
            socket.Create(SocketType::Datagram);
            socket.Bind(LoopbackAddress(), 0);
            socket.SetReceiveTimeout(1);
            char buffer[2048];
            while (!stop_.load()) {
                socket.SendTo(service_.listRequest.data(), service_.listRequest.size(), LoopbackAddress(),
                              service_.server.LocalPort(), 10);
                uint32_t address = 0;
                uint16_t port = 0;
                while (socket.ReceiveFrom(buffer, sizeof buffer, address, port) > 0) {
                }
                sent_.fetch_add(1);
            }
        });
    }
    ~Flood() {
        stop_ = true;
        thread_.join();
    }
    uint64_t Sent() const { return sent_.load(); }

private:
    Service& service_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> sent_{0};
};

void ListRequestsAnswered(benchmark::State& state) {
    Service service(static_cast<size_t>(state.range(0)));
    TcpSocket client;
    client.Create(SocketType::Datagram);
    client.Bind(LoopbackAddress(), 0);
    client.SetReceiveTimeout(2000);
    char buffer[2048];
    int64_t lost = 0;
    for (auto _ : state) {
        client.SendTo(service.listRequest.data(), service.listRequest.size(), LoopbackAddress(),
                      service.server.LocalPort(), 1000);
        for (;;) {
            uint32_t address = 0;
            uint16_t port = 0;
            const int n = client.ReceiveFrom(buffer, sizeof buffer, address, port);
            if (n <= 0) {
                ++lost;
                break;
            }
            if (n == static_cast<int>(info::kStatusRecordSize) && buffer[1] == info::kStatusRecord) break;
        }
    }
    state.SetItemsProcessed(state.iterations());  // requests
    state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(ListRequestsAnswered)->Arg(50)->Unit(benchmark::kMicrosecond)->UseRealTime();

void SupervisorTickWhileFlooded(benchmark::State& state) {
    Service service(1000);
    SupervisorActions actions;
    actions.startServerAt = [](size_t&) { return 1; };
    actions.removeServer = [](size_t&) {};
    actions.haltServer = [](size_t) {};
    actions.enableStopAllButtons = [](bool) {};
    actions.storeAll = [] {};
    actions.processState = [](CServerInfo&) { return ProcessState{true, true}; };
    actions.gamePortTaken = [](const CServerInfo&) { return false; };
    CServerConfigArray configs;
    Supervisor supervisor(service.clock, service.events, configs, service.servers, actions);
    std::unique_ptr<Flood> flood;
    if (state.range(0)) flood = std::make_unique<Flood>(service);
    for (auto _ : state) {
        for (auto& entry : service.servers.entries) {
            static_cast<QuietConsole*>(entry->console.get())->figures.lastReceiveTick = service.clock.TickCount();
        }
        supervisor.Tick();
        service.clock.Advance(15000);
    }
    if (flood) state.counters["flood_requests"] = static_cast<double>(flood->Sent());
}
BENCHMARK(SupervisorTickWhileFlooded)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

// What the user-interface thread waits for the server list lock while every request copies 50 entries.
void ServerListLockWaitWhileFlooded(benchmark::State& state) {
    Service service(50);
    Flood flood(service);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the flood under way before measuring
    double longest = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        { std::lock_guard<std::recursive_mutex> guard(service.serverListLock); }
        const double waited = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
        longest = std::max(longest, waited);
        state.SetIterationTime(waited / 1e6);  // the reported time is the wait alone
        std::this_thread::sleep_for(std::chrono::microseconds(200));  // the UI thread does other work between
    }
    state.counters["longest_wait_us"] = longest;
    state.counters["flood_requests"] = static_cast<double>(flood.Sent());
}
BENCHMARK(ServerListLockWaitWhileFlooded)->Iterations(5000)->Unit(benchmark::kMicrosecond)->UseManualTime();

}  // namespace

BENCHMARK_MAIN();
