// The simulated dedicated server as the supervising program meets it: command line and files in, the
// remote console (login, commands, NUL-ended bursts), simulated clients on the game port, hosts.deny,
// fault injection and the recording file. Every test runs real k3ded processes in its own folder on
// free loopback ports and kills whatever it started.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/socket.h"
#include "support/binaries.h"

namespace hm {
namespace {

using hm::test_support::BinDir;

namespace stdfs = std::filesystem;
using Lines = std::vector<std::string>;


uint16_t FreeUdpPort() {
    TcpSocket probe;
    if (!probe.Create(SocketType::Datagram) || !probe.Bind(LoopbackAddress(), 0)) return 0;
    return probe.LocalPort();
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.compare(0, prefix.size(), prefix) == 0; }

// One remote console connection, read burst by burst.
class Console {
public:
    bool Connect(uint16_t port) {
        socket_.SetReceiveTimeout(3000);
        return socket_.EnsureTcp() && socket_.ConnectWithTimeout(LoopbackAddress(), port, 3000);
    }
    void Send(const std::string& text) { socket_.Send(text); }
    void Reset() {
        socket_.Close();
        pending_.clear();
    }
    // The next NUL-ended burst, split into lines; the colour code, when present, is reported and cut.
    // false when none arrives within timeoutMs or the connection ends.
    bool ReadBurst(Lines& lines, bool* colourCode = nullptr, uint32_t timeoutMs = 3000) {
        socket_.SetReceiveTimeout(timeoutMs);
        for (;;) {
            const size_t nul = pending_.find('\0');
            if (nul != std::string::npos) {
                std::string burst = pending_.substr(0, nul);
                pending_.erase(0, nul + 1);
                const bool coded = burst.size() >= 4 && burst[0] == '\x01';
                if (coded) burst.erase(0, 4);
                if (colourCode) *colourCode = coded;
                lines.clear();
                size_t start = 0;
                while (start < burst.size()) {
                    size_t end = burst.find("\r\n", start);
                    if (end == std::string::npos) end = burst.size();
                    lines.push_back(burst.substr(start, end - start));
                    start = end + 2;
                }
                return true;
            }
            char buffer[4096];
            const int received = socket_.Receive(buffer, sizeof buffer);
            if (received <= 0) return false;
            pending_.append(buffer, static_cast<size_t>(received));
        }
    }
    // Sends a command and returns the burst that answers it.
    Lines Command(const std::string& command) {
        Send(command + "\r\n");
        Lines lines;
        ReadBurst(lines);
        return lines;
    }
    // True when the server closes the connection within the time. A receive of 0 is either a time-out
    // or the end of the connection; an answer faster than the time-out tells them apart.
    bool ClosedWithin(uint32_t timeoutMs) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        socket_.SetReceiveTimeout(200);
        char buffer[256];
        while (std::chrono::steady_clock::now() < until) {
            const auto start = std::chrono::steady_clock::now();
            const int received = socket_.Receive(buffer, sizeof buffer);
            if (received < 0) return true;
            if (received == 0 && std::chrono::steady_clock::now() - start < std::chrono::milliseconds(150)) return true;
        }
        return false;
    }

private:
    TcpSocket socket_;
    std::string pending_;
};

struct ClientResult {
    int exitCode = -1;
    std::string output;
};

class K3dedServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("k3ded_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(FreeUdpPort()));
        stdfs::remove_all(root);
        stdfs::create_directories(root);
        game = (root / "game").string();
        ASSERT_EQ(Run(BinDir() + "/k3ded", "make-install \"" + game + "\"").exitCode, 0);
    }
    void TearDown() override {
        for (auto& process : started)
            if (process && process->IsRunning()) {
                process->Terminate();
                process->Wait(5000);
            }
        for (auto& process : waiting)
            if (process && process->IsRunning()) {
                process->Terminate();
                process->Wait(5000);
            }
        stdfs::remove_all(root);
    }

    ClientResult Run(const std::string& program, const std::string& arguments) {
        const std::string out = (root / ("run_" + std::to_string(++runs))).string();
        auto process = Process::Spawn("/usr/bin/env", "HALDMOOR3_REGISTRY=\"" + (root / "registry.reg").string() +
                                                          "\" \"" + program + "\" " + arguments,
                                      root.string(), out);
        ClientResult result;
        if (!process) return result;
        if (process->Wait(30000) != Process::WaitResult::Exited) {
            process->Terminate();
            process->Wait(5000);
            return result;
        }
        result.exitCode = process->ExitCode();
        fs::ReadWholeFile(out, result.output);
        return result;
    }
    ClientResult Client(const std::string& arguments) {
        return Run(BinDir() + "/k3ded", "client --port " + std::to_string(gamePort) + " " + arguments);
    }
    // A client that stays after joining, to hear what the server tells it.
    std::string StartWaitingJoin(const std::string& name) {
        const std::string out = (root / ("wait_" + std::to_string(++runs))).string();
        waiting.push_back(Process::Spawn(BinDir() + "/k3ded",
                                         "client --port " + std::to_string(gamePort) + " --wait 20000 join \"" + name + "\"",
                                         root.string(), out));
        EXPECT_TRUE(WaitForText(out, "OK JOIN"));
        return out;
    }

    std::string Cache() const { return game + "/custom/cache/" + std::to_string(gamePort); }

    // Writes the server's files as the launcher does and starts main.exe in the game folder.
    void StartServer(const std::string& extraConfig = "", const std::string& extraArguments = "") {
        if (gamePort == 0) gamePort = FreeUdpPort();
        consolePort = FindFreeTcpPort();
        ASSERT_TRUE(fs::CreateFolders(Cache()));
        ASSERT_TRUE(fs::WriteWholeFile(Cache() + "/Haldmoor.cfg",
                                       "[server config file]\r\nMaxPlayers=8\r\nGameName=Proto game\r\n"
                                       "MissionName=polaris.mn3\r\nScriptName=ctf\r\nNumTeams=2\r\n"
                                       "MultiSettingsFile=" + Cache() + "/Haldmoor.mps\r\n"
                                       "AllowRemoteConsole=1\r\nRemoteConsolePort=" + std::to_string(consolePort) +
                                       "\r\nConsolePassword=secret\r\n" + extraConfig));
        ASSERT_TRUE(fs::WriteWholeFile(Cache() + "/Haldmoor.mps", "name\tProto game\r\nShipBan\tPhoenix\r\n"));
        ASSERT_TRUE(fs::WriteWholeFile(Cache() + "/Haldmoor.dmfc", "AllowTeamChange on\r\nSetTeamName 0 Reds\r\n"));
        commandLine = " -dedicated \"" + Cache() + "/Haldmoor.cfg\" -autoexec \"" + Cache() + "/Haldmoor.dmfc\" -setdir \"" +
                      game + "\" -tempdir \"" + Cache() + "\" -useport " + std::to_string(gamePort) +
                      " -framecap 0 -nocrashbox" + extraArguments;
        serverOutput = (root / ("server_" + std::to_string(++runs) + ".out")).string();
        started.push_back(Process::Spawn(game + "/main.exe", commandLine, game, serverOutput));
        server = started.back().get();
        ASSERT_NE(server, nullptr);
    }
    void StartAndLogIn(const std::string& extraConfig = "") {
        StartServer(extraConfig);
        ASSERT_TRUE(WaitForText(serverOutput, "on UDP port")) << Text(serverOutput);
        ASSERT_TRUE(LogIn(console));
    }
    bool LogIn(Console& c, const std::string& password = "secret") {
        Lines lines;
        if (!c.Connect(consolePort) || !c.ReadBurst(lines)) return false;
        c.Send(password + "\r\n");
        return c.ReadBurst(lines) && !lines.empty() && lines[0] == "Password accepted. Remote console ready.";
    }

    static std::string Text(const std::string& path) {
        std::string text;
        fs::ReadWholeFile(path, text);
        return text;
    }
    static bool WaitForText(const std::string& path, const std::string& text, int ms = 10000) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < until) {
            if (Text(path).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    // Reads bursts until one holds the line; the lines of that burst are returned.
    Lines BurstWith(Console& c, const std::string& line) {
        Lines lines;
        for (int i = 0; i < 20 && c.ReadBurst(lines); ++i)
            for (const std::string& l : lines)
                if (l == line) return lines;
        return {};
    }

    stdfs::path root;
    std::string game, commandLine, serverOutput;
    uint16_t gamePort = 0, consolePort = 0;
    std::vector<std::unique_ptr<Process>> started, waiting;
    Process* server = nullptr;
    Console console;
    int runs = 0;
};

TEST_F(K3dedServerTest, OnlyTheExactPasswordOpensTheConsole) {
    StartServer();
    ASSERT_TRUE(WaitForText(serverOutput, "on UDP port"));
    const struct {
        std::string password;
        bool accepted;
    } cases[] = {{"secret", true}, {"Secret", false}, {"secret ", false}, {"", false}, {"secretsecret", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE("password '" + c.password + "'");
        Console connection;
        Lines greeting, reply;
        ASSERT_TRUE(connection.Connect(consolePort));
        ASSERT_TRUE(connection.ReadBurst(greeting)) << Text(serverOutput);
        EXPECT_EQ(greeting.back(), "Password:");
        connection.Send(c.password + "\r\n");
        ASSERT_TRUE(connection.ReadBurst(reply));
        EXPECT_EQ(reply[0], c.accepted ? "Password accepted. Remote console ready." : "Invalid password.");
        if (!c.accepted) {
            EXPECT_TRUE(connection.ClosedWithin(3000));
        } else {
            EXPECT_EQ(connection.Command("say hi"), (Lines{"[Remote] say hi", "Server: hi"}));
        }
    }
    const std::string record = Text(Cache() + "/k3ded.record");
    EXPECT_NE(record.find("login accepted 127.0.0.1:"), std::string::npos);
    EXPECT_NE(record.find("login refused 127.0.0.1:"), std::string::npos);
    EXPECT_EQ(record.find("command secret"), std::string::npos);  // a password is never recorded as a command
}

TEST_F(K3dedServerTest, FirstBurstAfterLoginCarriesHeldOutputWithoutColourCodeLaterOnesWithIt) {
    StartAndLogIn();
    // A join while the console has not yet sent a command is held back for its first reply.
    ASSERT_EQ(Client("join Alice").exitCode, 0);
    Lines lines;
    bool coded = true;
    console.Send("$players\r\n");
    ASSERT_TRUE(console.ReadBurst(lines, &coded));
    EXPECT_FALSE(coded);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_TRUE(StartsWith(lines[0], "Incoming connection activity, \"127.0.0.1:"));
    EXPECT_EQ(lines[1], ">Alice has joined the game");
    EXPECT_EQ(lines[2], "[Remote] $players");
    console.Send("say one\r\n");
    ASSERT_TRUE(console.ReadBurst(lines, &coded));
    EXPECT_TRUE(coded);
    EXPECT_EQ(lines, (Lines{"[Remote] say one", "Server: one"}));
}

TEST_F(K3dedServerTest, ConsoleCommandsAnswerWithTheLinesTheSupervisorReads) {
    StartAndLogIn();
    ASSERT_EQ(Client("join Alice").output, "OK JOIN 1\n");
    ASSERT_EQ(Client("join \"Big Joe\"").output, "OK JOIN 2\n");
    console.Command("say sync");  // releases the held joins

    const struct {
        std::string command;
        Lines expected;
    } cases[] = {
        {"$players", {"[Remote] $players", "PNum Name", "0   Server", "1   Alice", "2   Big Joe"}},
        {"$playerinfo 9", {"[Remote] $playerinfo 9", "Player 9 not found."}},
        {"$playerinfo two", {"[Remote] $playerinfo two", "Usage: $playerinfo <player number>"}},
        {"$kick", {"[Remote] $kick", "Usage: $kick <player number>"}},
        {"$SetRespawnTime 25", {"[Remote] $SetRespawnTime 25", "Respawn time set to 25 seconds."}},
        {"$SetRespawnTime -1", {"[Remote] $SetRespawnTime -1", "Usage: $SetRespawnTime <seconds>"}},
        {"$setmaxplayers 3", {"[Remote] $setmaxplayers 3", "Maximum players set to 3."}},
        {"$setmaxplayers 33", {"[Remote] $setmaxplayers 33", "Usage: $setmaxplayers <1 to 32>"}},
        {"say hello all", {"[Remote] say hello all", "Server: hello all"}},
        {"say", {"[Remote] say"}},
        {"bogus %s%n", {"[Remote] bogus %s%n", "Unknown command."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        EXPECT_EQ(console.Command(c.command), c.expected);
    }
    // Names start at the fifth character of a player row.
    const Lines players = console.Command("$players");
    ASSERT_EQ(players.size(), 5u);
    EXPECT_EQ(players[4].substr(4), "Big Joe");

    // The limits set above hold: respawn time, and three player slots of which the server takes one.
    EXPECT_EQ(Client("status").output, "OK STATUS players=2 maxplayers=3 respawn=25 level=1 denied=0\n");
    const ClientResult full = Client("join Carol");
    EXPECT_EQ(full.output, "REFUSED full\n");
    EXPECT_EQ(full.exitCode, 2);

    const std::string record = Text(Cache() + "/k3ded.record");
    EXPECT_NE(record.find("command $players\ncommand $playerinfo 9\n"), std::string::npos);
    EXPECT_NE(record.find("command $setmaxplayers 3\n"), std::string::npos);
}

TEST_F(K3dedServerTest, PlayerInfoGivesNameTeamOneMoreLineAndAddress) {
    StartAndLogIn();
    ASSERT_EQ(Client("join Alice").exitCode, 0);
    console.Command("say sync");
    const Lines info = console.Command("$playerinfo 1");
    ASSERT_EQ(info.size(), 6u) << ::testing::PrintToString(info);
    EXPECT_EQ(info[0], "[Remote] $playerinfo 1");
    EXPECT_EQ(info[1], "*Getting playerinfo for Alice");
    EXPECT_EQ(info[1].substr(24), "Alice");  // the name from the 25th character on
    EXPECT_EQ(info[2], "Alice");
    EXPECT_EQ(info[3], "Team: Reds");        // team 0 renamed by the autoexec file
    EXPECT_EQ(info[4], "Ship: Ember-GL");
    EXPECT_TRUE(StartsWith(info[5], "IP: 127.0.0.1:")) << info[5];
}

TEST_F(K3dedServerTest, ClientActionsPrintTheirConsoleLines) {
    StartAndLogIn();
    ASSERT_EQ(Client("join Alice").exitCode, 0);
    console.Command("say sync");
    const struct {
        std::string action;
        std::string answer;
        Lines lines;
    } cases[] = {
        {"observe Alice 3", "OK OBSERVE",
         {">Alice starts observing", ">Alice stops observing", ">Alice starts observing", ">Alice stops observing",
          ">Alice starts observing"}},
        {"unobserve Alice", "OK UNOBSERVE", {">Alice stops observing"}},
        {"chat Alice gg all", "OK CHAT", {"Alice: gg all"}},
        {"level", "OK LEVEL", {"Ending Level.", "*Entering level 2 of polaris.mn3."}},
        {"corrupt", "OK CORRUPT", {"Network data corruption detected."}},
        {"drop Alice", "OK DROP", {">Alice disconnected!"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        const ClientResult result = Client(c.action);
        EXPECT_EQ(result.output, c.answer + "\n");
        EXPECT_EQ(result.exitCode, 0);
        Lines lines;
        ASSERT_TRUE(console.ReadBurst(lines));
        EXPECT_EQ(lines, c.lines);
    }
    const struct {
        std::string action;
        std::string answer;
        int exitCode;
    } refusals[] = {
        {"leave Nobody", "ERR no-such-player\n", 2},
        {"observe Alice", "ERR no-such-player\n", 2},  // Alice dropped above
        {"join \"Name that is far too long for the game\"", "k3ded client: Invalid player name", 1},
        {"observe Alice 101", "k3ded client: COUNT must be 1 to 100.", 1},
        {"fly", "k3ded client: Unknown client action 'fly'.", 1},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.action);
        const ClientResult result = Client(r.action);
        EXPECT_EQ(result.exitCode, r.exitCode);
        EXPECT_TRUE(StartsWith(result.output, r.answer)) << result.output;
    }
    ASSERT_EQ(Client("join Alice").output, "OK JOIN 1\n");  // the lowest free number again
    EXPECT_EQ(Client("join alice").output, "REFUSED name-in-use\n");
    ASSERT_EQ(Client("leave Alice").output, "OK LEAVE\n");
    EXPECT_EQ(BurstWith(console, ">Alice has left the game"), (Lines{">Alice has left the game"}));
}

TEST_F(K3dedServerTest, KickAndBanTellTheClientAndBanWritesHostsDeny) {
    StartAndLogIn();
    const std::string alice = StartWaitingJoin("Alice");
    const std::string bob = StartWaitingJoin("Bob");
    console.Command("say sync");

    EXPECT_EQ(console.Command("$kick 1"), (Lines{"[Remote] $kick 1", "Kicking Alice.", ">Alice has left the game"}));
    EXPECT_TRUE(WaitForText(alice, "KICKED"));

    EXPECT_EQ(console.Command("$Ban 2"), (Lines{"[Remote] $Ban 2",
                                                 "Banning Bob (127.0.0.1), address added to hosts.deny.",
                                                 ">Bob has left the game"}));
    EXPECT_TRUE(WaitForText(bob, "BANNED"));
    EXPECT_EQ(Text(game + "/netgames/hosts.deny"), "127.0.0.1\r\n");

    // The banned address is refused at once, with a console line, until hosts.deny is re-read without it.
    const ClientResult refused = Client("join Carol");
    EXPECT_EQ(refused.output, "REFUSED banned\n");
    EXPECT_EQ(refused.exitCode, 2);
    Lines lines;
    ASSERT_TRUE(console.ReadBurst(lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(StartsWith(lines[0], "Refused connection from 127.0.0.1:")) << lines[0];
    ASSERT_TRUE(fs::WriteWholeFile(game + "/netgames/hosts.deny", "; emptied by the operator\r\n"));
    EXPECT_EQ(console.Command("$rehash"), (Lines{"[Remote] $rehash", "Reloaded hosts.deny: 0 entries."}));
    EXPECT_EQ(Client("join Carol").output, "OK JOIN 1\n");
}

TEST_F(K3dedServerTest, HostsDenyEntriesAndPatternsAfterRehash) {
    StartAndLogIn();
    console.Command("say sync");
    const struct {
        std::string file;
        int entries;
        bool refused;
    } cases[] = {
        {"127.0.0.1\r\n", 1, true},
        {"127.0.0.*\r\n", 1, true},
        {"127.*\n", 1, true},
        {"127.0.0.1 banned for cheating\r\n", 1, true},
        {"10.0.*\r\n127.0.0.1", 2, true},  // last line without its line end
        {"10.0.*\r\n", 1, false},
        {"127.0.0.2\r\n*.0.0.2\r\n", 2, false},
        {"; 127.0.0.1\r\n# 127.0.0.1\r\n", 0, false},
        {"127.0.0\r\n127.0.0.256\r\n127.0.0.1x\r\n-127.0.0.1\r\n", 0, false},
        {"", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(fs::WriteWholeFile(game + "/netgames/hosts.deny", c.file));
        Lines rehash = console.Command("$rehash");
        ASSERT_EQ(rehash.size(), 2u);
        EXPECT_EQ(rehash[1], "Reloaded hosts.deny: " + std::to_string(c.entries) + " entries.");
        const ClientResult join = Client("join Dave");
        EXPECT_EQ(join.output, c.refused ? "REFUSED banned\n" : "OK JOIN 1\n");
        Lines lines;
        console.ReadBurst(lines);  // the refusal or the join
        if (!c.refused) {
            console.ReadBurst(lines);
            ASSERT_EQ(Client("leave Dave").exitCode, 0);
            console.ReadBurst(lines);
        }
    }
}

TEST_F(K3dedServerTest, QuitPrintsShuttingDownAndEndsCleanlyLogoutOnlyClosesTheConsole) {
    StartAndLogIn();
    console.Command("say sync");
    Console second;
    ASSERT_TRUE(LogIn(second));
    EXPECT_EQ(second.Command("logout"), (Lines{"[Remote] logout", "Remote console logged out."}));
    EXPECT_TRUE(second.ClosedWithin(3000));
    EXPECT_TRUE(server->IsRunning());

    EXPECT_EQ(BurstWith(console, "Remote console logged out."), (Lines{"[Remote] logout", "Remote console logged out."}));
    const Lines lines = console.Command("quit");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "[Remote] quit");
    EXPECT_TRUE(StartsWith(lines[1], "Shutting down"));
    ASSERT_EQ(server->Wait(10000), Process::WaitResult::Exited);
    EXPECT_EQ(server->ExitCode(), 0);
    const std::string record = Text(Cache() + "/k3ded.record");
    EXPECT_NE(record.find("command say sync\nlogin accepted 127.0.0.1:"), std::string::npos) << record;
    EXPECT_NE(record.find("command logout\ncommand quit\nexit 0\n"), std::string::npos) << record;
    EXPECT_FALSE(fs::FileExists(Cache() + "/.lock"));
}

TEST_F(K3dedServerTest, FaultInjection) {
    const struct {
        std::string action;
        std::string consoleLine;  // a line the console must show ("" = none expected)
        bool exits;
        int exitCode;
    } cases[] = {
        {"crash", "", true, 3},
        {"admin-quit", "Shutting down server (quit at the server)...", true, 0},
        {"corrupt", "Network data corruption detected.", false, 0},
        {"hang", "", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        gamePort = 0;
        console.Reset();
        StartAndLogIn();
        console.Command("say sync");
        const ClientResult result = Client(c.action);
        EXPECT_EQ(result.exitCode, 0);
        if (!c.consoleLine.empty()) {
            Lines lines;
            ASSERT_TRUE(console.ReadBurst(lines));
            EXPECT_EQ(lines, Lines{c.consoleLine});
        }
        if (c.exits) {
            ASSERT_EQ(server->Wait(10000), Process::WaitResult::Exited);
            EXPECT_EQ(server->ExitCode(), c.exitCode);
            EXPECT_EQ(Text(serverOutput).find("Shutting down") != std::string::npos, c.action == "admin-quit");
            continue;
        }
        if (c.action == "hang") {
            // Alive, but deaf on both the console and the game port.
            console.Send("$players\r\n");
            Lines lines;
            EXPECT_FALSE(console.ReadBurst(lines, nullptr, 1500));
            EXPECT_EQ(Client("--timeout 500 status").output, "no answer\n");
            EXPECT_TRUE(server->IsRunning());
        } else {
            EXPECT_EQ(Client("status").exitCode, 0);
        }
        server->Terminate();
        server->Wait(5000);
    }
}

TEST_F(K3dedServerTest, TakenGamePortEndsTheStartWithAnError) {
    TcpSocket holder;
    ASSERT_TRUE(holder.Create(SocketType::Datagram));
    ASSERT_TRUE(holder.Bind(0, 0));
    gamePort = holder.LocalPort();
    StartServer();
    ASSERT_EQ(server->Wait(10000), Process::WaitResult::Exited);
    EXPECT_EQ(server->ExitCode(), 2);
    EXPECT_NE(Text(serverOutput).find("Cannot bind the game port " + std::to_string(gamePort) + " (UDP)"),
              std::string::npos);
}

TEST_F(K3dedServerTest, RecordsArgumentsAndCurrentFolder) {
    StartServer("", " -nomultibmp \"-extra word\"");
    ASSERT_TRUE(WaitForText(serverOutput, "on UDP port"));
    std::string expected = "start k3ded\nargv " + game + "/main.exe\n";
    for (const std::string& arg : SplitCommandLine(commandLine)) expected += "argv " + arg + "\n";
    expected += "cwd " + game + "\n";
    EXPECT_EQ(Text(Cache() + "/k3ded.record"), expected);
    EXPECT_TRUE(fs::FileExists(Cache() + "/.lock"));
}

TEST_F(K3dedServerTest, BadStartsEndWithExitCodeOne) {
    gamePort = FreeUdpPort();
    ASSERT_TRUE(fs::CreateFolders(Cache()));
    ASSERT_TRUE(fs::WriteWholeFile(Cache() + "/plain.cfg", "MaxPlayers=4\r\n"));
    ASSERT_TRUE(fs::WriteWholeFile(Cache() + "/good.cfg", "[server config file]\r\nMaxPlayers=4\r\n"));
    const struct {
        std::string arguments;
        std::string message;
    } cases[] = {
        {" -dedicated \"" + Cache() + "/missing.cfg\"", "Cannot open"},
        {" -dedicated \"" + Cache() + "/plain.cfg\"", "Not a server configuration file"},
        {" -dedicated x.cfg -useport 70000", "needs a port number"},
        {" -dedicated \"" + Cache() + "/good.cfg\" -useip 1.2.3", "-useip needs a dotted IPv4 address"},
        {" -useport 2092", "No server configuration file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string out = (root / ("bad_" + std::to_string(++runs))).string();
        auto process = Process::Spawn(game + "/main.exe", c.arguments + " -useport " + std::to_string(gamePort), game, out);
        ASSERT_NE(process, nullptr);
        ASSERT_EQ(process->Wait(10000), Process::WaitResult::Exited);
        EXPECT_EQ(process->ExitCode(), 1);
        EXPECT_NE(Text(out).find(c.message), std::string::npos) << Text(out);
    }
}

}  // namespace
}  // namespace hm
