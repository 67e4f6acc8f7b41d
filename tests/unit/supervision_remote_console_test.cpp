// The remote console client against a scripted console on 127.0.0.1: connecting through the address
// list, the login, the framing of output by silence and NUL bytes, the command rules, the kick pause
// and its early end, the automatic commands, the console lines kept for the server window, and
// logout/quit ending the worker.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "anticheat/nickname_rules.h"
#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "players/player_info_store.h"
#include "supervision/remote_console_client.h"

namespace hm {
namespace {

using namespace std::chrono_literals;

// A manual clock that also yields a little real time per sleep, so that the worker's pauses between
// connection attempts do not spin.
class TestClock : public ManualClock {
public:
    void Sleep(uint32_t ms) override {
        ManualClock::Sleep(ms);
        std::this_thread::sleep_for(1ms);
    }
};

uint32_t Address(const char* dotted) {
    uint32_t a = 0;
    ParseAddress(dotted, a);
    return a;
}

// One console end: accepts the client, answers the login and records everything the client sends.
class ScriptedPeer {
public:
    ScriptedPeer(uint32_t address, uint16_t port) {
        listener_.Create(SocketType::Stream);
        bound_ = listener_.Bind(address, port) && listener_.Listen();
    }
    ~ScriptedPeer() {
        client_.Close();
        if (reader_.joinable()) reader_.join();
        listener_.Close();
    }
    bool Bound() const { return bound_; }

    bool Accept(uint32_t timeoutMs) {
        listener_.SetReceiveTimeout(timeoutMs);
        if (!listener_.Accept(client_)) return false;
        reader_ = std::thread([this] {
            char buffer[4096];
            int n;
            while ((n = client_.Receive(buffer, sizeof buffer)) > 0) {
                std::lock_guard<std::mutex> guard(lock_);
                received_.append(buffer, static_cast<size_t>(n));
            }
        });
        return true;
    }

    bool AcceptAndLogin(const std::string& password) {
        if (!Accept(10000)) return false;
        Send(std::string("Kelvane 3 Dedicated Server - remote console\r\nPassword:\r\n") + '\0');
        if (!WaitFor(password + "\r\n")) return false;
        Send(std::string("Password accepted. Remote console ready.\r\n") + '\0');
        return true;
    }

    // One burst of output as the game sends it: every burst after the first carries the colour code
    // that the held-back NUL of the burst before takes away with it.
    void Burst(const std::string& text, bool nulEnded = true) {
        std::string bytes = firstBurst_ ? text : "\x01\x7f\x7f\x7f" + text;
        if (nulEnded) bytes += '\0';
        firstBurst_ = false;
        Send(bytes);
    }
    void Send(const std::string& bytes) { client_.SendBytes(bytes.data(), bytes.size()); }
    // Ends the connection from this side, as a server does that goes away; Accept may follow.
    void Hangup() {
        client_.Close();
        if (reader_.joinable()) reader_.join();
        firstBurst_ = true;
    }

    bool WaitFor(const std::string& text, std::chrono::milliseconds limit = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Received().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
    std::string Received() {
        std::lock_guard<std::mutex> guard(lock_);
        return received_;
    }
    // What arrived after the first occurrence of `marker` (everything when it is absent).
    std::string ReceivedAfter(const std::string& marker) {
        const std::string all = Received();
        const size_t at = all.find(marker);
        return at == std::string::npos ? all : all.substr(at + marker.size());
    }

private:
    TcpSocket listener_;
    TcpSocket client_;
    bool bound_ = false;
    bool firstBurst_ = true;
    std::thread reader_;
    std::mutex lock_;
    std::string received_;
};

template <typename Predicate>
bool WaitUntil(Predicate done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (done()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return done();
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct RemoteConsoleFixture : ::testing::Test {
    TestClock clock;
    EventLogList events{clock, nullptr, nullptr};
    NicknameRules rules;
    PlayerInfoStore players{clock};
    ConsoleSettings settings;
    uint16_t port = 0;
    std::string folder;

    void SetUp() override {
        port = FindFreeTcpPort();
        ASSERT_NE(port, 0);
        settings.password = "secret";
        settings.port = port;
        settings.addresses = {LoopbackAddress()};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder = (std::filesystem::temp_directory_path() / ("hm_remote_console_" + std::string(info->name()))).string();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
    }
    void TearDown() override { std::filesystem::remove_all(folder); }

    std::unique_ptr<RemoteConsoleClient> Make() {
        return std::make_unique<RemoteConsoleClient>(&events, settings, rules, players, nullptr, 4711, 27015,
                                                     clock);
    }
};

TEST_F(RemoteConsoleFixture, ConnectsThroughTheSecondAddressAndSkipsTheRest) {
    // 127.0.0.2 refuses (nobody listens there); 127.0.0.3 listens too but must never be tried.
    settings.addresses = {Address("127.0.0.2"), Address("127.0.0.1"), Address("127.0.0.3")};
    settings.autoCommands = {"first command", "second command"};
    ScriptedPeer second(Address("127.0.0.1"), port);
    ScriptedPeer third(Address("127.0.0.3"), port);
    ASSERT_TRUE(second.Bound());
    ASSERT_TRUE(third.Bound());
    auto console = Make();

    ASSERT_TRUE(second.AcceptAndLogin("secret"));
    // After the login: the player list first, then every automatic command in list order.
    ASSERT_TRUE(second.WaitFor("second command\r\n"));
    EXPECT_EQ(second.Received(), "secret\r\n$players\r\nfirst command\r\nsecond command\r\n");
    EXPECT_TRUE(console->IsConnected());
    EXPECT_EQ(console->Figures().consoleTimeout, 120000u);
    EXPECT_FALSE(third.Accept(300));

    console->Logout();
    EXPECT_TRUE(second.WaitFor("logout\r\n\r\nsay bye\r\n"));
    EXPECT_FALSE(console->IsConnected());
}

// The local time a console log line was stamped with, as a tick of the test clock.
Tick StampedTick(const std::string& log, const std::string& text) {
    const size_t at = log.find(" - " + text);
    if (at == std::string::npos || at < 23) return 0;
    LocalTime t{};
    if (std::sscanf(log.c_str() + at - 23, "%d-%d-%d %d:%d:%d.%d", &t.year, &t.month, &t.day, &t.hour,
                    &t.minute, &t.second, &t.millisecond) != 7)
        return 0;
    const LocalTime start{2026, 1, 5, 12, 0, 0, 0, 1};
    return static_cast<Tick>(1000 + LocalTimeToMs(t) - LocalTimeToMs(start));
}

TEST_F(RemoteConsoleFixture, BurstsAreParsedAfterOneSecondOfSilenceAndOnlyWhenNulEnded) {
    settings.logConsole = 1;
    settings.logTimestamps = 1;
    settings.consoleLogName = folder + "/console.log";
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));

    peer.Burst("First burst\r\n");
    ASSERT_TRUE(WaitUntil([&] { return ReadFile(settings.consoleLogName).find("First burst") != std::string::npos; }));
    const std::string log = ReadFile(settings.consoleLogName);
    EXPECT_EQ(log.find("***** Begin server log *****"), 26u) << log;
    const Tick parsedAt = StampedTick(log, "First burst");
    ASSERT_NE(parsedAt, 0u) << log;
    EXPECT_GE(Elapsed(parsedAt, console->Figures().lastReceiveTick), 1000u);

    // Output whose last byte is not a NUL waits, however long the silence lasts: once its second of
    // silence has been judged the worker has nothing to wait for and sleeps until data comes ...
    peer.Burst("Second line\r\n", false);
    ASSERT_TRUE(WaitUntil([&] { return Elapsed(clock.TickCount(), console->Figures().lastReceiveTick) >= 1000; }));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(ReadFile(settings.consoleLogName).find("Second line"), std::string::npos);
    // ... until the NUL arrives behind it.
    peer.Send(std::string(1, '\0'));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(settings.consoleLogName).find("Second line") != std::string::npos; }));

    console->Logout();
    EXPECT_NE(ReadFile(settings.consoleLogName).find("***** End of server log *****"), std::string::npos);
}

TEST_F(RemoteConsoleFixture, PlayerListReplyFillsTheFiguresAndAShutdownMarksQuitByAdmin) {
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));

    peer.Burst("[Remote] $players\r\nPNum Name\r\n0   Server\r\n1   Alice\r\n2   Bob\r\n");
    ASSERT_TRUE(WaitUntil([&] { return console->Figures().listedPlayers == 2; }));
    peer.Burst("Shutting down server (quit at the server)...\r\n");
    ASSERT_TRUE(WaitUntil([&] { return console->Figures().quitByAdmin; }));
    console->Logout();
}

TEST_F(RemoteConsoleFixture, CommandRulesForRespawnTimeAndPlayerInfo) {
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));

    struct Case {
        const char* what;
        std::function<void()> act;
        const char* sent;   // what reaches the server before the marker command
    };
    int marker = 0;
    const std::vector<Case> cases = {
        {"a new respawn time is sent", [&] { console->SetRespawnTime(20); }, "$SetRespawnTime 20\r\n"},
        {"the same respawn time again is not", [&] { console->SetRespawnTime(20); }, ""},
        {"player info below six players", [&] { console->SetPlayerCount(5); console->RequestPlayerInfo(3); },
         "$playerinfo 3\r\n"},
        {"no player info at six players", [&] { console->SetPlayerCount(6); console->RequestPlayerInfo(3); }, ""},
        {"a kick without a message kicks at once", [&] { console->Kick(4, std::nullopt); }, "$kick 4\r\n"},
        {"a ban with an empty message says nothing", [&] { console->Ban(2, std::string()); }, "$Ban 2\r\n"},
        {"an empty say sends nothing", [&] { console->Say(""); }, ""},
    };
    for (const Case& c : cases) {
        const std::string before = "$setmaxplayers " + std::to_string(100 + marker) + "\r\n";
        const std::string after = "$setmaxplayers " + std::to_string(101 + marker) + "\r\n";
        console->SetMaxPlayers(100 + marker);
        c.act();
        console->SetMaxPlayers(101 + marker);
        marker += 2;
        ASSERT_TRUE(peer.WaitFor(after)) << c.what;
        const std::string between = peer.ReceivedAfter(before);
        EXPECT_EQ(between.substr(0, between.find(after)), c.sent) << c.what;
    }
    EXPECT_EQ(console->CurrentRespawnTime(), 20u);

    console->Logout();
    // Without a worker nothing is sent, but a new respawn time is still remembered.
    const std::string afterLogout = peer.Received();
    console->SetRespawnTime(25);
    EXPECT_EQ(console->CurrentRespawnTime(), 25u);
    EXPECT_EQ(console->RequestPlayers(), 0);
    EXPECT_EQ(peer.Received(), afterLogout);
}

TEST_F(RemoteConsoleFixture, KickWithMessageSaysItWaitsAboutTwoSecondsThenKicks) {
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));

    const Tick before = clock.TickCount();
    console->Kick(7, std::string("Big Joe gets kicked!"));
    ASSERT_TRUE(peer.WaitFor("$kick 7\r\n"));
    EXPECT_NE(peer.Received().find("say Big Joe gets kicked!\r\n$kick 7\r\n"), std::string::npos);
    // At least the say pause and four half seconds passed on the clock before the kick went out.
    EXPECT_GE(Elapsed(clock.TickCount(), before), 100u + 2000u);
    console->Logout();
}

TEST_F(RemoteConsoleFixture, KickPauseEndsEarlyWhenTheConsoleIsStopped) {
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));

    console->Kick(7, std::string("Big Joe gets kicked!"));
    ASSERT_TRUE(peer.WaitFor("say Big Joe gets kicked!\r\n"));
    // The logout cuts the two-second pause short; the kick still goes out, before the farewell.
    const auto before = std::chrono::steady_clock::now();
    console->Logout();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 1500ms);
    EXPECT_TRUE(peer.WaitFor("$kick 7\r\nlogout\r\n\r\nsay bye\r\n")) << peer.Received();
}

TEST_F(RemoteConsoleFixture, AnOperatorCommandIsAnsweredWithWhatTheConsoleReadUntilASecondOfSilence) {
    // Nobody listens yet: the console cannot be connected, so the command is refused.
    auto console = Make();
    EXPECT_FALSE(console->SendConsoleCommand("$rehash", [](const std::string&) {})) << "not connected yet";
    ScriptedPeer peer(LoopbackAddress(), port);
    ASSERT_TRUE(peer.Bound());
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));
    ASSERT_TRUE(WaitUntil([&] { return console->IsConnected(); }));

    struct Reply {
        std::promise<std::string> text;
        Tick at = 0;
    };
    auto send = [&](const std::string& line, Reply& reply) {
        return console->SendConsoleCommand(line, [&](const std::string& text) {
            reply.at = clock.TickCount();
            reply.text.set_value(text);
        });
    };
    // Two bursts, the game's colour code and control bytes in them: the reply is their lines.
    Reply first;
    ASSERT_TRUE(send("$setmaxplayers 5", first));
    Reply busy;
    EXPECT_FALSE(send("$rehash", busy)) << "one command waits for its reply at a time";
    ASSERT_TRUE(peer.WaitFor("$setmaxplayers 5\r\n"));
    peer.Burst("[Remote] $setmaxplayers 5\r\nMaximum players\x02 set to 5.\r\n");
    std::this_thread::sleep_for(300ms);
    const Tick lastData = clock.TickCount();
    peer.Burst("\r\n>Alice has joined the game\r\n");
    auto text = first.text.get_future();
    ASSERT_EQ(text.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(text.get(), "[Remote] $setmaxplayers 5\nMaximum players set to 5.\n>Alice has joined the game\n");
    EXPECT_GE(Elapsed(first.at, lastData), 1000u);

    // No answer at all: an empty reply after the second of silence; a logout hands over a waiting one.
    for (bool logout : {false, true}) {
        Reply quiet;
        ASSERT_TRUE(send("$rehash", quiet)) << logout;
        if (logout) console->Logout();
        auto none = quiet.text.get_future();
        ASSERT_EQ(none.wait_for(10s), std::future_status::ready) << logout;
        EXPECT_EQ(none.get(), "") << logout;
    }
}

TEST_F(RemoteConsoleFixture, TheLastConsoleLinesAreKeptNumberedOnAcrossConnections) {
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));
    // More lines than are kept, and a command echo at the end that the log leaves out.
    std::string burst;
    for (size_t i = 0; i < kConsoleLinesKept + 100; ++i) burst += "line " + std::to_string(i) + "\r\n";
    peer.Burst(burst + "[Remote] say hi\r\n");
    uint64_t last = 0;
    std::vector<std::string> kept;
    // The whole burst has been read once its last line is there (a slow run reads it in parts).
    const std::string lastLine = "line " + std::to_string(kConsoleLinesKept + 99);
    ASSERT_TRUE(WaitUntil([&] {
        kept = console->ConsoleLinesAfter(0, last);
        return !kept.empty() && kept.back() == lastLine;
    }));
    ASSERT_EQ(kept.size(), kConsoleLinesKept);
    EXPECT_EQ(kept.front(), "line 100");
    EXPECT_EQ(kept.back(), "line " + std::to_string(kConsoleLinesKept + 99));
    uint64_t next = 0;
    EXPECT_EQ(console->ConsoleLinesAfter(last - 1, next), std::vector<std::string>{kept.back()});
    EXPECT_EQ(next, last);
    EXPECT_TRUE(console->ConsoleLinesAfter(last, next).empty());
    EXPECT_EQ(next, last);

    // A new connection of the same server goes on from there: a reader's number still fits.
    console->Logout();
    peer.Hangup();
    console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("logout\r\n\r\nsay bye\r\nsecret\r\n$players\r\n"));
    peer.Burst(">Alice has joined the game\r\n");
    std::vector<std::string> fresh;
    ASSERT_TRUE(WaitUntil([&] { return !(fresh = console->ConsoleLinesAfter(last, next)).empty(); }));
    EXPECT_EQ(fresh, std::vector<std::string>{">Alice has joined the game"});
    EXPECT_GT(next, last);
    console->Logout();
}

TEST_F(RemoteConsoleFixture, AutoCommandsOneAtATimeStepThroughTheListInTurn) {
    settings.autoCommands = {"one", "two", "three"};
    settings.autoOnlyOne = 1;
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\none\r\n"));   // the login sends the first
    console->SendAutoCommands();
    console->SendAutoCommands();
    console->SendAutoCommands();
    ASSERT_TRUE(peer.WaitFor("one\r\ntwo\r\nthree\r\none\r\n"));
    EXPECT_EQ(peer.ReceivedAfter("$players\r\n"), "one\r\ntwo\r\nthree\r\none\r\n");
    EXPECT_EQ(console->NextAutoCommand(), 1u);
    console->Logout();
}

TEST_F(RemoteConsoleFixture, RandomAutoCommandsAvoidTheStoredIndex) {
    struct Case {
        std::vector<std::string> commands;
        bool mustDiffer;   // with three or more the pick never equals the stored next index
    };
    const std::vector<Case> cases = {{{"only"}, false}, {{"a", "b", "c"}, true}, {{"a", "b", "c", "d", "e"}, true}};
    for (const Case& c : cases) {
        ConsoleSettings s = settings;
        s.addresses.clear();   // no console: the index rules alone
        s.autoCommands = c.commands;
        s.autoOnlyOne = 1;
        s.autoRandom = 1;
        RemoteConsoleClient console(nullptr, s, rules, players, nullptr, 0, 27015, clock);
        for (int round = 0; round < 40; ++round) {
            const uint32_t before = console.NextAutoCommand() % c.commands.size();
            console.SendAutoCommands();
            const uint32_t picked = console.NextAutoCommand() - 1;
            ASSERT_LT(picked, c.commands.size());
            if (c.mustDiffer) {
                EXPECT_NE(picked, before) << c.commands.size() << " commands, round " << round;
            } else {
                EXPECT_EQ(picked, 0u);
            }
        }
        console.Logout();
    }
}

TEST_F(RemoteConsoleFixture, LogoutTwiceAndQuit) {
    {
        ScriptedPeer peer(LoopbackAddress(), port);
        auto console = Make();
        ASSERT_TRUE(peer.AcceptAndLogin("secret"));
        ASSERT_TRUE(peer.WaitFor("$players\r\n"));
        console->Logout();
        EXPECT_TRUE(peer.WaitFor("logout\r\n\r\nsay bye\r\n"));
        // The second call finds no worker: it neither sends nor pauses.
        const Tick before = clock.TickCount();
        console->Logout();
        EXPECT_EQ(clock.TickCount(), before);
        EXPECT_FALSE(console->ThreadRunning());
    }
    {
        ScriptedPeer peer(LoopbackAddress(), port);
        auto console = Make();
        ASSERT_TRUE(peer.AcceptAndLogin("secret"));
        ASSERT_TRUE(peer.WaitFor("$players\r\n"));
        console->Quit();
        EXPECT_TRUE(peer.WaitFor("quit\r\nsay bye\r\n"));
        EXPECT_FALSE(console->Figures().quitByAdmin);
        EXPECT_FALSE(console->IsConnected());
    }
}

TEST_F(RemoteConsoleFixture, AServerThatClosesTheConsoleHasItsLastWordsReadItsPlayersClearedAndIsReconnected) {
    ScriptedPeer peer(LoopbackAddress(), port);
    auto console = Make();
    ASSERT_TRUE(peer.AcceptAndLogin("secret"));
    ASSERT_TRUE(peer.WaitFor("$players\r\n"));
    peer.Burst("[Remote] $players\r\nPNum Name\r\n0   Server\r\n1   Alice\r\n2   Bob\r\n");
    ASSERT_TRUE(WaitUntil([&] { return console->Figures().listedPlayers == 2; }));

    // The last burst goes out and the server hangs up at once, before any second of silence.
    peer.Burst(">Carol has joined the game\r\n");
    peer.Hangup();
    EXPECT_TRUE(WaitUntil([&] { return !console->IsConnected() && console->Figures().listedPlayers == 0; }));
    bool sawJoin = false;
    for (const std::string& line : events.Lines()) sawJoin |= line.find("Player 'Carol' has joined.") != std::string::npos;
    EXPECT_TRUE(sawJoin);

    ASSERT_TRUE(peer.AcceptAndLogin("secret"));   // the reconnect after the pause
    EXPECT_TRUE(WaitUntil([&] { return console->IsConnected(); }));
    console->Logout();
}

TEST_F(RemoteConsoleFixture, ARefusedPasswordIsReportedOnceAndKeepsTheConsoleAlive) {
    // The game's refusal, and a server that only hangs up after the password.
    for (const std::string reply : {std::string("Invalid password.\r\n") + '\0', std::string()}) {
        const size_t first = events.Lines().size();
        settings.port = port = FindFreeTcpPort();   // the hang-ups leave the last port in TIME_WAIT
        ScriptedPeer peer(LoopbackAddress(), port);
        ASSERT_TRUE(peer.Bound());
        auto console = Make();
        for (int attempt = 0; attempt < 2; ++attempt) {
            ASSERT_TRUE(peer.Accept(10000));
            peer.Send(std::string("Kelvane 3 Dedicated Server - remote console\r\nPassword:\r\n") + '\0');
            ASSERT_TRUE(peer.WaitFor("secret\r\n"));
            if (!reply.empty()) peer.Send(reply);
            peer.Hangup();
        }
        ASSERT_TRUE(peer.Accept(10000));   // a third attempt: the second refusal has been judged
        const Tick now = clock.TickCount();
        EXPECT_LT(Elapsed(now, console->Figures().lastReceiveTick), 10000u) << reply;
        console->Logout();
        size_t reports = 0;
        const std::vector<std::string> lines = events.Lines();
        for (size_t i = first; i < lines.size(); ++i)
            reports += lines[i].find("Server 27015: remote console refused the password.") != std::string::npos;
        EXPECT_EQ(reports, 1u) << reply;
    }
}

TEST_F(RemoteConsoleFixture, ThePasswordGoesOnlyToAPeerThatGreetsLikeTheGame) {
    for (const std::string greeting : {std::string("Welcome to another service\r\n"), std::string("Password:\r\n"),
                                       std::string("Kelvane 3 Dedicated Server\r\n")}) {
        const size_t first = events.Lines().size();
        settings.port = port = FindFreeTcpPort();   // the hang-ups leave the last port in TIME_WAIT
        ScriptedPeer peer(LoopbackAddress(), port);
        ASSERT_TRUE(peer.Bound());
        auto console = Make();
        for (int attempt = 0; attempt < 2; ++attempt) {
            ASSERT_TRUE(peer.Accept(10000));
            peer.Send(greeting);
            // The client judges the greeting and hangs up; the peer's reader then ends.
            ASSERT_TRUE(WaitUntil([&] { return !console->IsConnected(); })) << greeting;
            peer.Hangup();
        }
        console->Logout();
        EXPECT_EQ(peer.Received().find("secret"), std::string::npos) << greeting;
        size_t reports = 0;
        const std::vector<std::string> lines = events.Lines();
        for (size_t i = first; i < lines.size(); ++i)
            reports += lines[i].find("answered without the game's greeting; password not sent.") != std::string::npos;
        EXPECT_EQ(reports, 1u) << greeting;
    }
}

TEST_F(RemoteConsoleFixture, AConsoleThatNeverAnswersIsStoppedWithoutDelay) {
    // Nobody listens: the worker cycles through connect attempts and reconnect pauses; logout must
    // end it from any of those states (the test would hang otherwise).
    auto console = Make();
    ASSERT_TRUE(WaitUntil([&] { return Elapsed(clock.TickCount(), 1000) > 20000; }));
    console->Logout();
    EXPECT_FALSE(console->IsConnected());
    EXPECT_EQ(console->Figures().consoleTimeout, 300000u);
}

TEST_F(RemoteConsoleFixture, SilenceTimeoutOverrideReplacesBothTimeouts) {
    struct Case {
        uint32_t overrideMs;   // 0 = none
        uint32_t beforeLogin;
        uint32_t afterLogin;
    };
    const std::vector<Case> cases = {
        {0, 300000, 120000},
        {3000, 3000, 3000},
        {500000, 500000, 500000},   // longer than both: replaced, not capped
    };
    for (const Case& c : cases) {
        ScriptedPeer peer(LoopbackAddress(), port);
        ASSERT_TRUE(peer.Bound());
        auto console = MakeRemoteConsole(&events, settings, rules, players, nullptr, 4711, 27015, clock,
                                         c.overrideMs);
        EXPECT_EQ(console->Figures().consoleTimeout, c.beforeLogin) << c.overrideMs;
        ASSERT_TRUE(peer.AcceptAndLogin("secret")) << c.overrideMs;
        // The player list is asked for once the login is complete.
        ASSERT_TRUE(peer.WaitFor("$players\r\n")) << c.overrideMs;
        EXPECT_EQ(console->Figures().consoleTimeout, c.afterLogin) << c.overrideMs;
        console->SendLogout();
    }
}

}  // namespace
}  // namespace hm

namespace hm {
namespace {

// Twenty consoles on the real clock are sent a round of every kind of command, kicks with their
// two-second pause among them, and then all say goodbye together: no call stalls the calling thread,
// every line arrives in order, and the farewells overlap.
TEST(RemoteConsoleFleet, CommandsNeverStallTheCallerAndTwentyConsolesLogOutTogether) {
    constexpr int kConsoles = 20;
    EventLogList events{RealClock(), nullptr, nullptr};
    NicknameRules rules;
    PlayerInfoStore players{RealClock()};
    std::vector<std::unique_ptr<ScriptedPeer>> peers;
    std::vector<std::unique_ptr<RemoteConsoleClient>> consoles;
    for (int i = 0; i < kConsoles; ++i) {
        ConsoleSettings settings;
        settings.password = "secret";
        settings.port = FindFreeTcpPort();
        settings.addresses = {LoopbackAddress()};
        peers.push_back(std::make_unique<ScriptedPeer>(LoopbackAddress(), settings.port));
        ASSERT_TRUE(peers.back()->Bound());
        consoles.push_back(std::make_unique<RemoteConsoleClient>(&events, settings, rules, players, nullptr, 0,
                                                                 static_cast<uint16_t>(27015 + i), RealClock()));
    }
    for (auto& peer : peers) ASSERT_TRUE(peer->AcceptAndLogin("secret"));
    for (auto& peer : peers) ASSERT_TRUE(peer->WaitFor("$players\r\n"));

    std::chrono::steady_clock::duration longest{};
    auto timed = [&](const std::function<void()>& call) {
        const auto start = std::chrono::steady_clock::now();
        call();
        longest = std::max(longest, std::chrono::steady_clock::now() - start);
    };
    for (auto& console : consoles) {
        timed([&] { console->Kick(3, std::string("Big Joe gets kicked!")); });
        timed([&] { console->SetMaxPlayers(8); });
        timed([&] { console->RequestPlayers(); });
        timed([&] { console->HoldSends(250); });
        timed([&] { console->SetRespawnTime(12); });
    }
    const std::string expected =
        "say Big Joe gets kicked!\r\n$kick 3\r\n$setmaxplayers 8\r\n$players\r\n$SetRespawnTime 12\r\n";
    for (auto& peer : peers) EXPECT_TRUE(peer->WaitFor("$SetRespawnTime 12\r\n"));
    for (auto& peer : peers) EXPECT_NE(peer->Received().find(expected), std::string::npos) << peer->Received();

    const auto exitStart = std::chrono::steady_clock::now();
    for (auto& console : consoles) timed([&] { console->BeginClose(false); });
    for (auto& console : consoles) console->FinishClose();
    const auto exitTook = std::chrono::steady_clock::now() - exitStart;
    std::printf("longest stall of the calling thread: %lld ms; %d consoles logged out in %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longest).count()),
                kConsoles,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(exitTook).count()));
    EXPECT_LT(longest, 50ms);
    // One console's farewell is two lines with 100 ms after each.
    EXPECT_LT(exitTook, 2s);
    for (auto& peer : peers) EXPECT_TRUE(peer->WaitFor("logout\r\n\r\nsay bye\r\n"));
}

// Voluntary context switches of every thread of this process so far.
long long ContextSwitches() {
    long long total = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream status(task.path() / "status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total += std::stoll(line.substr(24));
    }
    return total;
}

// Consoles whose server does not answer wait between their attempts without waking, and a logout
// still ends each of them at once.
TEST(RemoteConsoleFleet, UnreachableConsolesSleepBetweenAttemptsAndLogOutAtOnce) {
    constexpr int kConsoles = 10;
    EventLogList events{RealClock(), nullptr, nullptr};
    NicknameRules rules;
    PlayerInfoStore players{RealClock()};
    std::vector<std::unique_ptr<RemoteConsoleClient>> consoles;
    for (int i = 0; i < kConsoles; ++i) {
        ConsoleSettings settings;
        settings.password = "secret";
        settings.port = FindFreeTcpPort();   // nobody listens there
        settings.addresses = {LoopbackAddress()};
        consoles.push_back(std::make_unique<RemoteConsoleClient>(&events, settings, rules, players, nullptr, 0,
                                                                 static_cast<uint16_t>(27015 + i), RealClock()));
    }
    std::this_thread::sleep_for(200ms);
    const long long before = ContextSwitches();
    std::this_thread::sleep_for(2s);
    const long long wakes = ContextSwitches() - before;
    const auto start = std::chrono::steady_clock::now();
    for (auto& console : consoles) console->Logout();
    const auto took = std::chrono::steady_clock::now() - start;
    std::printf("%d unreachable consoles woke %lld times in 2 s; all logged out in %lld ms\n", kConsoles, wakes,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    // A connection attempt every half second is four wakes a console; a polling wait would be forty.
    EXPECT_LT(wakes, kConsoles * 12);
    // Each rest ends on the logout, not at its own end (half a second a console).
    EXPECT_LT(took, 1s);
}

}  // namespace
}  // namespace hm
