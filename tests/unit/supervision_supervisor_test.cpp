// Supervisor ticks over fake servers: the manual clock, fake consoles and recorded actions.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "eventlog/event_log.h"
#include "platform/socket.h"
#include "supervision/supervisor.h"

namespace hm {
namespace {

class FakeConsole : public RemoteConsole {
public:
    ConsoleFigures figures;
    int requests = 0, autoCommands = 0;
    std::vector<uint32_t> maxPlayers;
    std::vector<uint32_t> holds;   // pauses the console was asked to keep before its next line

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
    int RequestPlayers() override { return ++requests, 1; }
    void SetMaxPlayers(uint32_t n) override { maxPlayers.push_back(n); }
    void SendAutoCommands() override { ++autoCommands; }
    void HoldSends(uint32_t ms) override { holds.push_back(ms); }
};

class SupervisorTest : public ::testing::Test {
protected:
    ManualClock clock{10000000};
    EventLogList events{clock, nullptr, nullptr};
    CServerConfigArray configs;
    CServerInfoArray servers;
    std::map<uint16_t, ProcessState> process;
    std::set<uint16_t> takenPorts;
    std::set<uint16_t> failingStarts;
    std::vector<std::string> done;  // actions carried out, "start 2092", "halt 2092", ...
    int stores = 0;
    std::vector<bool> buttons;

    uint16_t Port(size_t i) const { return servers.entries[i]->config.launch.serverPort; }

    SupervisorActions Actions() {
        SupervisorActions a;
        a.startServerAt = [this](size_t& i) {
            const uint16_t port = Port(i);
            done.push_back("start " + std::to_string(port));
            if (failingStarts.count(port)) {
                servers.entries.erase(servers.entries.begin() + static_cast<long>(i));
                --i;
                return 0;
            }
            process[port] = {true, true};
            servers.entries[i]->stoppedOnPurpose = 0;
            servers.entries[i]->selectiveIdleTicks = 0;
            servers.entries[i]->startTick = clock.TickCount();
            return 1;
        };
        a.haltServer = [this](size_t i) {
            done.push_back("halt " + std::to_string(Port(i)));
            process[Port(i)] = {};
            servers.entries[i]->stoppedOnPurpose = 1;
        };
        a.removeServer = [this](size_t& i) {
            done.push_back("remove " + std::to_string(Port(i)));
            servers.entries.erase(servers.entries.begin() + static_cast<long>(i));
            --i;
        };
        a.enableStopAllButtons = [this](bool on) { buttons.push_back(on); };
        a.storeAll = [this] { ++stores; };
        a.processState = [this](CServerInfo& e) { return process[e.config.launch.serverPort]; };
        a.gamePortTaken = [this](const CServerInfo& e) { return takenPorts.count(e.config.launch.serverPort) != 0; };
        return a;
    }

    // A server entry in the given process state, with a console when asked.
    CServerInfo& Add(uint16_t port, ProcessState state, FakeConsole** console = nullptr) {
        auto entry = std::make_unique<CServerInfo>();
        entry->config.launch.serverPort = port;
        entry->startTick = clock.TickCount();
        if (console) {
            auto fake = std::make_unique<FakeConsole>();
            fake->figures.lastReceiveTick = clock.TickCount();
            fake->figures.lastPlayerRowTick = clock.TickCount();
            fake->figures.consoleTimeout = 120000;
            fake->figures.lastReportedCount = 0;
            fake->figures.emptyListTicks = 4;
            *console = fake.get();
            entry->console = std::move(fake);
        }
        process[port] = state;
        servers.entries.push_back(std::move(entry));
        return *servers.entries.back();
    }

    // One timer period: the consoles stay lively unless a test says otherwise.
    void TickAfterPeriod(Supervisor& s, uint32_t ms = 15000) {
        clock.Advance(ms);
        s.Tick();
    }

    std::vector<std::string> Texts() {
        std::vector<std::string> texts;
        for (const std::string& line : events.Lines()) texts.push_back(line.substr(EventLogList::kStampLength));
        return texts;
    }
    bool Saw(const std::string& text) {
        for (const std::string& t : Texts())
            if (t == text) return true;
        return false;
    }
};

constexpr ProcessState kDead{true, false};
constexpr ProcessState kRunning{true, true};
constexpr ProcessState kNever{false, false};

TEST_F(SupervisorTest, ADeadServerIsRestartedOnTheSixthTickOnly) {
    Add(2092, kDead);
    Supervisor s(clock, events, configs, servers, Actions());
    for (int i = 0; i < 5; ++i) TickAfterPeriod(s);
    EXPECT_TRUE(done.empty());
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Server 2092: Not running anymore -> Restart."}));
    EXPECT_EQ(s.supervisorTicks, 6u);
}

TEST_F(SupervisorTest, TwoDeadServersComeBackOneTickApart) {
    Add(2092, kDead);
    Add(2093, kNever);
    Supervisor s(clock, events, configs, servers, Actions());
    s.supervisorTicks = 5;
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092"}));
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092", "start 2093"}));
    EXPECT_TRUE(Saw("Server 2093: Not running yet-> Starting..."));
}

TEST_F(SupervisorTest, RemovalAndStopsDoNotEndTheLoop) {
    FakeConsole* quit = nullptr;
    FakeConsole* silent = nullptr;
    Add(2092, kRunning, &quit);
    quit->figures.quitByAdmin = true;
    Add(2093, kRunning, &silent);
    Add(2094, kDead);
    Supervisor s(clock, events, configs, servers, Actions());
    s.supervisorTicks = 5;
    clock.Advance(15000);
    silent->figures.lastReceiveTick = clock.TickCount() - 120001;
    s.Tick();
    // 2093 moved into the removed entry's place and is decided in the same tick, then 2094.
    EXPECT_EQ(done, (std::vector<std::string>{"remove 2092", "halt 2093", "start 2093", "halt 2094", "start 2094"}));
    EXPECT_TRUE(Saw("Server 2092 has been quit by admin"));
    EXPECT_TRUE(Saw("Server 2093 remote console timeout (crashed?)"));
}

TEST_F(SupervisorTest, RestartIfEmptyWaitsForListedPlayersWithoutHoldingUpTheOthers) {
    FakeConsole* crashed = nullptr;
    Add(2092, kRunning, &crashed);
    crashed->figures.dataCorruption = true;
    crashed->figures.listedPlayers = 1;
    Add(2093, kNever);
    Supervisor s(clock, events, configs, servers, Actions());
    s.supervisorTicks = 5;
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"start 2093"}));
    EXPECT_TRUE(Saw("Server 2092 crashed"));

    crashed->figures.listedPlayers = 0;
    for (int i = 0; i < 5 && done.size() == 1; ++i) TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"start 2093", "halt 2092", "start 2092"}));
}

TEST_F(SupervisorTest, DeadServersWithListedPlayersAreRestartedOnePerPassAndShownAsSuch) {
    FakeConsole* first = nullptr;
    FakeConsole* second = nullptr;
    Add(2092, kDead, &first);
    Add(2093, kRunning);
    Add(2094, kDead, &second);
    for (FakeConsole* c : {first, second}) c->figures.listedPlayers = c->figures.lastReportedCount = 2;
    std::vector<std::string> statuses;
    SupervisorActions actions = Actions();
    actions.statusObserved = [&](const CServerInfo& e, ObservedStatus st) {
        statuses.push_back(std::to_string(e.config.launch.serverPort) + " " + StatusText(st));
    };
    Supervisor s(clock, events, configs, servers, std::move(actions));
    s.supervisorTicks = 3;
    TickAfterPeriod(s);
    EXPECT_EQ(statuses, (std::vector<std::string>{"2092 Not running", "2094 Not running"}));
    TickAfterPeriod(s);  // the last start-up tick: the restarts are due from the next pass on
    EXPECT_TRUE(done.empty());
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092"}));
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092", "halt 2094", "start 2094"}));
    EXPECT_EQ(statuses, (std::vector<std::string>{"2092 Not running", "2094 Not running", "2092 Restarting",
                                                  "2094 Restarting", "2092 ", "2094 "}));
}

TEST_F(SupervisorTest, AFailedStartEndsTheTick) {
    Add(2092, kNever);
    Add(2093, kNever);
    failingStarts.insert(2092);
    Supervisor s(clock, events, configs, servers, Actions());
    s.supervisorTicks = 5;
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"start 2092"}));
    ASSERT_EQ(servers.entries.size(), 1u);
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"start 2092", "start 2093"}));
}

TEST_F(SupervisorTest, AForeignProgramOnThePortIsReportedOnceAndBlocksNoOtherServer) {
    Add(2092, kDead);
    Add(2093, kDead);
    takenPorts.insert(2092);
    Supervisor s(clock, events, configs, servers, Actions());
    s.supervisorTicks = 5;
    TickAfterPeriod(s);
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2093", "start 2093"}));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Server 2092: Port 2092 is used by another program. Start postponed.",
                                                 "Server 2093: Not running anymore -> Restart."}));
    takenPorts.clear();
    TickAfterPeriod(s);
    EXPECT_EQ(done.back(), "start 2092");
}

TEST_F(SupervisorTest, WithBackoffADyingServerIsRestartedAtOnceThenHeldFor30Seconds) {
    Add(2092, kDead).startTick = clock.TickCount();
    Supervisor s(clock, events, configs, servers, Actions());
    s.backoff.on = true;
    s.supervisorTicks = 5;
    TickAfterPeriod(s);
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092"}));
    process[2092] = kDead;  // dies again at once
    TickAfterPeriod(s);
    TickAfterPeriod(s);
    EXPECT_EQ(done.size(), 2u);
    EXPECT_EQ(Texts(), (std::vector<std::string>{
                           "Server 2092: Not running anymore -> Restart.",
                           "Server 2092: died 2 times within a minute of its start; next try in 30 s."}));
    TickAfterPeriod(s);  // 30 s after the wait was set
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092", "halt 2092", "start 2092"}));
}

TEST_F(SupervisorTest, TheDefaultProbeSeesAPortHeldByAnotherSocket) {
    TcpSocket holder;
    ASSERT_TRUE(holder.Create(SocketType::Datagram));
    ASSERT_TRUE(holder.Bind(LoopbackAddress(), 0));
    CServerInfo entry;
    entry.config.launch.serverPort = holder.LocalPort();
    entry.config.launch.bindAddress = "127.0.0.1";
    EXPECT_TRUE(Supervisor::GamePortInUse(entry));
    entry.config.launch.bindAddress = "";  // every address clashes with the loopback holder too
    EXPECT_TRUE(Supervisor::GamePortInUse(entry));
    holder.Close();
    EXPECT_FALSE(Supervisor::GamePortInUse(entry));
}

TEST_F(SupervisorTest, AnEmptyListIsBelievedOnTheFifthTick) {
    FakeConsole* console = nullptr;
    Add(2092, kRunning, &console);
    console->figures.listedPlayers = 3;
    Supervisor s(clock, events, configs, servers, Actions());
    TickAfterPeriod(s);
    EXPECT_EQ(console->figures.playerCount, 3);
    console->figures.listedPlayers = 0;
    for (int i = 0; i < 4; ++i) {
        console->figures.lastReceiveTick = clock.TickCount();
        TickAfterPeriod(s);
    }
    EXPECT_EQ(console->figures.playerCount, 3);
    TickAfterPeriod(s);
    EXPECT_EQ(console->figures.playerCount, 0);
    EXPECT_FALSE(console->figures.hasPlayers);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Server 2092: 3 player(s) assumed.", "Server 2092: 0 player(s) assumed."}));
}

TEST_F(SupervisorTest, AJoinOnAQuietServerIsNotTakenBackBeforeTheListShowsIt) {
    FakeConsole* console = nullptr;
    Add(2092, kRunning, &console);
    Supervisor s(clock, events, configs, servers, Actions());
    for (int i = 0; i < 7; ++i) {  // long empty, so any count of empty lists would be spent
        console->figures.lastReceiveTick = clock.TickCount();
        TickAfterPeriod(s);
    }
    // The parser saw two joins; their player list has not been read yet.
    console->figures.playerCount = 2;
    console->figures.hasPlayers = true;
    for (int i = 0; i < 4; ++i) {
        console->figures.lastReceiveTick = clock.TickCount();
        TickAfterPeriod(s);
    }
    EXPECT_EQ(console->figures.playerCount, 2);
    console->figures.listedPlayers = 2;
    TickAfterPeriod(s);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Server 2092: 2 player(s) assumed."}));
}

TEST_F(SupervisorTest, UptimeRestartWaitsForPlayersToBeGoneFor130Seconds) {
    configs.globalOptions.autoRestart = 1;
    configs.globalOptions.autoRestartPeriod = 60000;
    FakeConsole* console = nullptr;
    Add(2092, kRunning, &console);
    console->figures.listedPlayers = 1;
    Supervisor s(clock, events, configs, servers, Actions());
    for (int i = 0; i < 8; ++i) {  // two minutes past the period, always with a player listed
        console->figures.lastReceiveTick = console->figures.lastPlayerRowTick = clock.TickCount();
        TickAfterPeriod(s);
    }
    EXPECT_TRUE(done.empty());
    console->figures.listedPlayers = 0;  // the last player row was seen just now
    const Tick lastRow = console->figures.lastPlayerRowTick;
    while (done.empty() && clock.TickCount() - lastRow < 300000) {
        console->figures.lastReceiveTick = clock.TickCount();
        TickAfterPeriod(s);
    }
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2092", "start 2092"}));
    EXPECT_GT(clock.TickCount() - lastRow, 130000u);
    EXPECT_LE(clock.TickCount() - lastRow, 145000u);
    EXPECT_TRUE(Saw("Server 2092: Uptime exceeded. Automatic restart..."));
}

TEST_F(SupervisorTest, ScheduleStartsStopsAndHolds) {
    CServerInfo& entry = Add(2092, kNever);
    entry.config.schedule.enabled = 1;
    entry.config.schedule.entries.push_back({{1, 12, 0}, {1, 13, 0}});  // Monday 12:00 to 13:00
    entry.config.schedule.BuildMinuteTable();
    clock.SetLocalTime({2026, 1, 5, 12, 30, 0, 0, 1});  // a Monday
    Supervisor s(clock, events, configs, servers, Actions());
    s.Tick();  // the schedule does not wait for the start-up ticks
    EXPECT_EQ(done, (std::vector<std::string>{"start 2092"}));
    EXPECT_TRUE(Saw("Server 2092: Scheduled start."));

    clock.SetLocalTime({2026, 1, 5, 13, 0, 0, 0, 1});
    s.Tick();
    EXPECT_EQ(done.back(), "halt 2092");
    EXPECT_TRUE(Saw("Server 2092: Scheduled stop."));
    for (int i = 0; i < 8; ++i) TickAfterPeriod(s);  // held: never started by the not-running rule
    EXPECT_EQ(done.size(), 2u);
}

TEST_F(SupervisorTest, AScheduledStopOfAServerWithPlayersWaitsForItsWarnings) {
    FakeConsole* console = nullptr;
    CServerInfo& entry = Add(2092, kRunning, &console);
    console->SetPlayerCount(3);
    console->figures.listedPlayers = 3;
    console->figures.lastReportedCount = 3;
    console->figures.emptyListTicks = 0;
    entry.config.schedule.enabled = 1;
    entry.config.schedule.entries.push_back({{1, 12, 0}, {1, 13, 0}});
    entry.config.schedule.BuildMinuteTable();
    clock.SetLocalTime({2026, 1, 5, 13, 0, 0, 0, 1});
    StopWarnings warnings(clock, events);
    warnings.Configure(CWarningSettings{});
    std::vector<std::string> said;
    warnings.SetActions([&](unsigned, const std::string& text) { said.push_back(text); },
                        [&](unsigned port, StopWarnings::StopKind kind) {
                            done.push_back(std::string(kind == StopWarnings::StopKind::Halt ? "halt " : "remove ") +
                                           std::to_string(port) + " after warnings");
                        });
    Supervisor s(clock, events, configs, servers, Actions());
    s.stopWarnings = &warnings;
    s.Tick();
    EXPECT_TRUE(Saw("Server 2092: Scheduled stop."));
    EXPECT_TRUE(Saw("Server 2092: players warned; stopping in 5 minutes."));
    for (int i = 0; i < 19; ++i) {  // the passes leave it alone while its warnings run
        TickAfterPeriod(s);
        warnings.Poll();
    }
    EXPECT_TRUE(done.empty());
    TickAfterPeriod(s);
    warnings.Poll();
    EXPECT_EQ(done, std::vector<std::string>{"halt 2092 after warnings"});
    EXPECT_EQ(said, (std::vector<std::string>{"Server stops in 5 minutes.", "Server stops in 1 minute.",
                                               "Server stops in 10 seconds."}));
}

TEST_F(SupervisorTest, AnEmptyScheduleIsWarnedAboutOnce) {
    CServerInfo& entry = Add(2092, kNever);
    entry.config.schedule.enabled = 1;
    entry.config.schedule.BuildMinuteTable();
    Supervisor s(clock, events, configs, servers, Actions());
    for (int i = 0; i < 8; ++i) TickAfterPeriod(s);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"Server 2092: No scheduler entries. Server never starts."}));
    EXPECT_TRUE(done.empty());
}

TEST_F(SupervisorTest, IdleSelectiveServerStopsOnTheThirdTickAndReturnsWhenNobodyPlays) {
    FakeConsole* busy = nullptr;
    FakeConsole* idle = nullptr;
    Add(2092, kRunning, &busy).config.game.selective = 1;
    Add(2093, kRunning, &idle).config.game.selective = 1;
    busy->figures.listedPlayers = 2;
    busy->figures.hasPlayers = true;
    Supervisor s(clock, events, configs, servers, Actions());
    s.supervisorTicks = 5;
    auto tick = [&] {
        busy->figures.lastReceiveTick = idle->figures.lastReceiveTick = clock.TickCount() + 15000;
        TickAfterPeriod(s);
    };
    tick();
    tick();
    EXPECT_TRUE(done.empty());
    tick();
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2093"}));
    EXPECT_TRUE(Saw("Server 2093: No player in selective server. Stopping..."));
    for (int i = 0; i < 3; ++i) tick();
    EXPECT_EQ(done.size(), 1u);  // not started while the other selective server has players

    busy->figures.listedPlayers = 0;  // believed empty on the fifth tick, the start follows
    for (int i = 0; i < 7 && done.size() == 1; ++i) tick();
    EXPECT_EQ(done, (std::vector<std::string>{"halt 2093", "start 2093"}));
    EXPECT_EQ(s.selectiveBusy, 0u);
}

TEST_F(SupervisorTest, ThePlayerLimitOfAllServers) {
    struct Case {
        uint32_t on, limit;
        std::vector<std::string> events;
        uint32_t total;
    } cases[] = {
        {0, 8, {}, 0},
        {1, 10, {}, 8},  // capacity at the limit: nothing happens
        {1, 8, {"Max players of 8 reached.", "Server 2092: Max players changed from 999 to 5.",
                "Server 2093: Cannot change max players from 999 to 5."}, 8},
    };
    for (const Case& c : cases) {
        servers.entries.clear();
        EventLogList list(clock, nullptr, nullptr);
        configs.globalOptions.limitPlayersAll = c.on;
        configs.globalOptions.maxPlayersAll = c.limit;
        FakeConsole* full = nullptr;
        FakeConsole* empty = nullptr;
        Add(2092, kRunning, &full).config.game.maxPlayers = 5;
        Add(2093, kRunning, &empty).config.game.maxPlayers = 5;
        full->figures.listedPlayers = 8;
        full->figures.playerCount = 8;
        full->figures.hasPlayers = true;
        full->figures.lastReportedCount = 8;
        Supervisor s(clock, list, configs, servers, Actions());
        TickAfterPeriod(s);
        std::vector<std::string> texts;
        for (const std::string& line : list.Lines()) texts.push_back(line.substr(EventLogList::kStampLength));
        EXPECT_EQ(texts, c.events) << c.limit;
        EXPECT_EQ(s.totalPlayers.load(), c.total) << c.limit;
        EXPECT_EQ(full->maxPlayers, c.events.empty() ? std::vector<uint32_t>{} : std::vector<uint32_t>{5});
        if (!c.events.empty()) {  // applied once: the next tick only repeats the headline
            TickAfterPeriod(s);
            EXPECT_EQ(list.Lines().size(), 4u);
        }
    }
}

TEST_F(SupervisorTest, SilentConsolesAreAskedForPlayersTwiceWithPauses) {
    FakeConsole* console = nullptr;
    Add(2092, kRunning, &console);
    console->figures.autoRepeat = true;
    console->figures.autoRepeatMinutes = 1;
    Supervisor s(clock, events, configs, servers, Actions());
    clock.Advance(60000);
    const uint64_t slept = clock.SleptMs();
    s.Tick();
    EXPECT_EQ(console->requests, 2);
    // The pauses are the console's to keep; the tick itself never waits for them.
    EXPECT_EQ(console->holds, (std::vector<uint32_t>{250, 250}));
    EXPECT_EQ(clock.SleptMs() - slept, 0u);
    for (int i = 0; i < 3; ++i) {
        console->figures.lastReceiveTick = clock.TickCount();
        TickAfterPeriod(s);
    }
    EXPECT_EQ(console->requests, 2);
    EXPECT_EQ(console->autoCommands, 1);  // four ticks make the minute
}

TEST_F(SupervisorTest, StoresEveryFifteenMinutesAndCountsTicksUpToTheLimit) {
    Supervisor s(clock, events, configs, servers, Actions());
    clock.Advance(900000);
    s.Tick();
    EXPECT_EQ(stores, 0);
    clock.Advance(1);
    s.Tick();
    EXPECT_EQ(stores, 1);
    EXPECT_EQ(s.lastSaveTick, clock.TickCount());
    s.Tick();
    EXPECT_EQ(stores, 1);

    s.supervisorTicks = Supervisor::kMaxTicks - 1;
    s.Tick();
    s.Tick();
    EXPECT_EQ(s.supervisorTicks, Supervisor::kMaxTicks);
    EXPECT_EQ(buttons, (std::vector<bool>(5, false)));
    Add(2092, kRunning);
    s.Tick();
    EXPECT_TRUE(buttons.back());
}

}  // namespace
}  // namespace hm
