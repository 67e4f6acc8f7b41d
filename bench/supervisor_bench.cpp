// One supervisor tick over 1000 running servers with fake consoles on the manual clock (the tick's
// pauses cost nothing), and the per-entry figure it works out to.
#include <benchmark/benchmark.h>

#include <memory>

#include "eventlog/event_log.h"
#include "supervision/supervisor.h"

namespace {

class QuietConsole : public hm::RemoteConsole {
public:
    hm::ConsoleFigures figures;
    bool IsConnected() const override { return true; }
    bool HasPlayers() const override { return figures.hasPlayers; }
    void SendLogout() override {}
    void SendQuit() override {}
    hm::ConsoleFigures Figures() const override { return figures; }
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

void SupervisorTick1000(benchmark::State& state) {
    const size_t count = static_cast<size_t>(state.range(0));
    hm::ManualClock clock(100000000);
    hm::EventLogList events(clock, nullptr, nullptr);
    hm::CServerConfigArray configs;
    configs.globalOptions.limitPlayersAll = 1;  // the longest path through a tick
    configs.globalOptions.maxPlayersAll = 999999;
    hm::CServerInfoArray servers;
    for (size_t i = 0; i < count; ++i) {
        auto entry = std::make_unique<hm::CServerInfo>();
        entry->config.launch.serverPort = static_cast<uint16_t>(2000 + i);
        entry->config.game.selective = i % 10 == 0;
        auto console = std::make_unique<QuietConsole>();
        console->figures.listedPlayers = i % 3;
        console->figures.lastReportedCount = static_cast<int32_t>(i % 3);
        console->figures.consoleTimeout = 120000;
        entry->console = std::move(console);
        servers.entries.push_back(std::move(entry));
    }
    hm::SupervisorActions actions;
    actions.startServerAt = [](size_t&) { return 1; };
    actions.removeServer = [](size_t&) {};
    actions.haltServer = [](size_t) {};
    actions.enableStopAllButtons = [](bool) {};
    actions.storeAll = [] {};
    actions.processState = [](hm::CServerInfo&) { return hm::ProcessState{true, true}; };
    actions.gamePortTaken = [](const hm::CServerInfo&) { return false; };
    hm::Supervisor supervisor(clock, events, configs, servers, actions);
    for (auto _ : state) {
        for (auto& entry : servers.entries)
            static_cast<QuietConsole*>(entry->console.get())->figures.lastReceiveTick = clock.TickCount();
        supervisor.Tick();
        clock.Advance(15000);
    }
    // Seconds per entry (rate inverted), printed with its unit, e.g. "350ns".
    state.counters["per_entry"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * static_cast<double>(count),
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(SupervisorTick1000)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
