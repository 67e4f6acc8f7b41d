#include "server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "platform/clock.h"
#include "platform/files.h"
#include "protocol.h"
#include "text_util.h"

namespace hm::k3ded {

namespace {


void Nap(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Endpoint(uint32_t address, uint16_t port) { return AddressText(address) + ":" + std::to_string(port); }

std::string PlayerLine(const std::string& name, const std::string& what) {
    return std::string(1, kPlayerMarker) + name + what;
}

// "rest of the text after the first word", blanks around it removed.
std::string AfterFirstWord(const std::string& text) {
    const size_t blank = text.find_first_of(" \t");
    return blank == std::string::npos ? std::string() : Trim(text.substr(blank + 1));
}

}  // namespace

GameServer::GameServer() : console_(std::make_unique<ConsoleServer>(queue_, hung_)) {}

GameServer::~GameServer() { StopThreads(); }

// Ends the console, UDP and GameSpy threads; safe to call more than once.
void GameServer::StopThreads() {
    stop_ = true;
    console_->Stop();
    udp_.Close();
    gameSpy_.Close();
    if (udpThread_.joinable()) udpThread_.join();
    if (gameSpyThread_.joinable()) gameSpyThread_.join();
}

std::string GameServer::HostsDenyPath() const { return gameFolder_ + "/netgames/hosts.deny"; }

// The server itself takes slot 0 of MaxPlayers.
uint32_t GameServer::Capacity() const { return config_.maxPlayers > 1 ? config_.maxPlayers - 1 : 0; }

bool GameServer::Prepare(const std::vector<std::string>& args) {
    std::string error;
    const std::vector<std::string> rest(args.begin() + (args.empty() ? 0 : 1), args.end());
    if (!ParseServerOptions(rest, options_, error)) {
        PrintLine("Error: " + error);
        exitCode_ = 1;
        return false;
    }
    record_.Open(options_.tempDir);
    record_.Add("start", "k3ded");
    for (const std::string& arg : args) record_.Add("argv", arg);
    record_.Add("cwd", fs::CurrentDirectory());

    gameFolder_ = options_.setDir.empty() ? fs::CurrentDirectory() : options_.setDir;
    while (gameFolder_.size() > 1 && gameFolder_.back() == '/') gameFolder_.pop_back();

    std::string text;
    std::vector<std::string> warnings;
    if (!ReadSmallFile(options_.configFile, text, error) || !ParseServerConfig(text, config_, error, warnings)) {
        PrintLine("Error: " + OneLine(error));
        exitCode_ = 1;
        return false;
    }
    if (!config_.multiSettingsFile.empty()) {
        if (ReadSmallFile(config_.multiSettingsFile, text, error)) ParseMultiSettings(text, multi_, warnings);
        else warnings.push_back(error);
    }
    if (!options_.autoexecFile.empty()) {
        if (ReadSmallFile(options_.autoexecFile, text, error)) ParseAutoexec(text, autoexec_, warnings);
        else warnings.push_back(error);
    }
    if (!options_.gameSpyFile.empty() && !fs::FileExists(gameFolder_ + "/" + options_.gameSpyFile) &&
        !fs::FileExists(options_.gameSpyFile))
        warnings.push_back("Game tracker file " + options_.gameSpyFile + " not found.");
    if (!config_.missionName.empty() && !fs::FileExists(gameFolder_ + "/missions/" + config_.missionName))
        warnings.push_back("Mission " + config_.missionName + " not found in missions.");
    for (const std::string& warning : warnings) PrintLine("Warning: " + OneLine(warning));
    respawnTime_ = config_.respawnTime;
    hostsDeny_.Load(HostsDenyPath());

    uint32_t bindAddress = 0;
    if (!options_.bindAddress.empty() && !ParseAddress(options_.bindAddress, bindAddress)) {
        PrintLine("Error: -useip needs a dotted IPv4 address, not '" + OneLine(options_.bindAddress) + "'.");
        exitCode_ = 1;
        return false;
    }
    // No SO_REUSEADDR here: a game port in use by anyone else must fail the start.
    if (!udp_.Create(SocketType::Datagram) || !udp_.Bind(bindAddress, options_.gamePort)) {
        PrintLine("Error: Cannot bind the game port " + std::to_string(options_.gamePort) +
              " (UDP): it is already in use.");
        std::fprintf(stderr, "k3ded: game port %u (UDP) is already in use\n", static_cast<unsigned>(options_.gamePort));
        record_.Add("exit", "2 game port in use");
        exitCode_ = 2;
        return false;
    }
    if (config_.allowRemoteConsole) {
        if (console_->Start(bindAddress, config_.remoteConsolePort, config_.consolePassword))
            PrintLine("Remote console listening on TCP port " + std::to_string(config_.remoteConsolePort) + ".");
        else
            PrintLine("Error: Cannot open the remote console on TCP port " + std::to_string(config_.remoteConsolePort) + ".");
    } else {
        PrintLine("Remote console disabled.");
    }
    if (options_.gameSpyPort != 0) {
        if (gameSpy_.Create(SocketType::Datagram) && gameSpy_.Bind(bindAddress, options_.gameSpyPort))
            gameSpyThread_ = std::thread([this] { GameSpyLoop(); });
        else
            PrintLine("Warning: Cannot open the GameSpy port " + std::to_string(options_.gameSpyPort) + " (UDP).");
    }
    if (!options_.tempDir.empty()) fs::WriteWholeFile(options_.tempDir + "/.lock", "k3ded\n");
    udpThread_ = std::thread([this] { UdpLoop(); });
    PrintLine("Kelvane 3 Dedicated Server (k3ded) - game \"" + OneLine(config_.gameName) + "\" on UDP port " +
          std::to_string(options_.gamePort) + (options_.mroPort ? " (Meridian Online)" : "") + ".");
    return true;
}

int GameServer::Run(const std::vector<std::string>& args) {
    if (!Prepare(args)) return exitCode_;
    StartLevel(config_.setLevel, false);
    MainLoop();
    Shutdown();
    return exitCode_;
}

void GameServer::MainLoop() {
    while (!quitting_) {
        if (hung_) {
            // Hung: alive but deaf. Only a signal from outside ends the process now.
            Nap(200);
            continue;
        }
        ServerEvent event;
        if (queue_.Pop(event, 200)) {
            switch (event.kind) {
            case ServerEvent::Kind::Datagram:
                HandleDatagram(event);
                break;
            case ServerEvent::Kind::ConsoleOpened:
                console_->OnOpened(event.connection);
                break;
            case ServerEvent::Kind::ConsoleLine:
                switch (console_->OnLine(event.connection, event.text)) {
                case ConsoleServer::LineResult::LoginAccepted:
                    record_.Add("login", "accepted " + console_->PeerText(event.connection));
                    break;
                case ConsoleServer::LineResult::LoginRefused:
                    record_.Add("login", "refused " + console_->PeerText(event.connection));
                    break;
                case ConsoleServer::LineResult::Command:
                    record_.Add("command", event.text);
                    HandleCommand(event.connection, event.text);
                    break;
                case ConsoleServer::LineResult::Ignored:
                    break;
                }
                break;
            case ServerEvent::Kind::ConsoleLineTooLong:
                if (console_->IsLoggedIn(event.connection)) {
                    console_->MarkReleased(event.connection);
                    record_.Add("command", "(too long, ignored)");
                    Emit({"Command line too long, ignored."});
                } else {
                    record_.Add("login", "refused " + console_->PeerText(event.connection));
                    console_->CloseConnection(event.connection);
                }
                break;
            case ServerEvent::Kind::ConsoleClosed:
                console_->OnClosed(event.connection);
                break;
            }
        }
        const uint32_t now = RealClock().TickCount();
        console_->ExpireLogins(now);
        if (!quitting_ && config_.timeLimit > 0 && Elapsed(now, levelStartTick_) >= config_.timeLimit * 60000u) {
            StartLevel(level_ + 1, true);
        }
    }
}

void GameServer::Emit(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) PrintLine(line);
    console_->Broadcast(lines);
}

void GameServer::StartLevel(uint32_t level, bool endCurrent) {
    level_ = level;
    levelStartTick_ = RealClock().TickCount();
    const std::string mission = config_.missionName.empty() ? std::string("(no mission)") : config_.missionName;
    std::vector<std::string> lines;
    if (endCurrent) lines.push_back("Ending Level.");
    lines.push_back("*Entering level " + std::to_string(level) + " of " + OneLine(mission) + ".");
    Emit(lines);
}

void GameServer::Reply(uint32_t address, uint16_t port, const std::string& text) {
    const std::string datagram = kServerPrefix + text;
    udp_.SendTo(datagram.data(), datagram.size(), address, port, 200);
}

void GameServer::RemovePlayer(const Player& player, const std::string& notice) {
    if (!notice.empty()) Reply(player.address, player.port, notice);
    players_.Remove(player.number);
    playerCount_ = static_cast<uint32_t>(players_.Count());
}

void GameServer::HandleDatagram(const ServerEvent& event) {
    const std::string& text = event.text;
    const std::string prefix = kClientPrefix;
    if (text.compare(0, prefix.size(), prefix) != 0) return;  // not ours: ignored silently
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            Reply(event.address, event.port, "ERR malformed");
            return;
        }
    const std::string body = text.substr(prefix.size());
    const std::string verb = body.substr(0, body.find(' '));
    const std::string rest = AfterFirstWord(body);
    const std::string endpoint = Endpoint(event.address, event.port);
    auto reply = [&](const std::string& answer) { Reply(event.address, event.port, answer); };
    auto findPlayer = [&](const std::string& name) -> Player* {
        Player* player = players_.FindByName(name);
        if (!player) reply("ERR no-such-player");
        return player;
    };

    if (verb == "HELLO" || verb == "JOIN") {
        if (hostsDeny_.IsDenied(AddressText(event.address))) {
            Emit({"Refused connection from " + endpoint + " (banned address)."});
            reply("REFUSED banned");
            return;
        }
        if (verb == "HELLO") {
            Emit({"Incoming connection activity, \"" + endpoint + "\""});
            reply("OK HELLO");
            return;
        }
        if (!IsValidPlayerName(rest)) return reply("ERR bad-name");
        if (players_.FindByName(rest)) return reply("REFUSED name-in-use");
        Player* player = players_.Add(rest, event.address, event.port, Capacity());
        if (!player) return reply("REFUSED full");
        const uint32_t number = player->number;
        playerCount_ = static_cast<uint32_t>(players_.Count());
        Emit({PlayerLine(rest, " has joined the game")});
        reply("OK JOIN " + std::to_string(number));
    } else if (verb == "LEAVE" || verb == "DROP") {
        Player* player = findPlayer(rest);
        if (!player) return;
        const std::string name = player->name;
        RemovePlayer(*player, "");
        Emit({PlayerLine(name, verb == "LEAVE" ? " has left the game" : " disconnected!")});
        reply("OK " + verb);
    } else if (verb == "OBSERVE" || verb == "UNOBSERVE") {
        // "OBSERVE <count> <name>": count quick starts, each after a stop when already observing.
        std::string name = rest;
        uint32_t count = 1;
        if (verb == "OBSERVE") {
            const std::string first = rest.substr(0, rest.find(' '));
            if (!ParseNumber(first, 1, 100, count)) return reply("ERR bad-count");
            name = AfterFirstWord(rest);
        }
        Player* player = findPlayer(name);
        if (!player) return;
        std::vector<std::string> lines;
        if (verb == "UNOBSERVE") {
            if (player->observing) lines.push_back(PlayerLine(player->name, " stops observing"));
            player->observing = false;
        }
        for (uint32_t i = 0; verb == "OBSERVE" && i < count; ++i) {
            if (player->observing) lines.push_back(PlayerLine(player->name, " stops observing"));
            lines.push_back(PlayerLine(player->name, " starts observing"));
            player->observing = true;
        }
        if (!lines.empty()) Emit(lines);
        reply("OK " + verb);
    } else if (verb == "CHAT") {
        // "CHAT <name>|<text>": the bar separates, since names may hold blanks.
        const size_t bar = rest.find('|');
        if (bar == std::string::npos) return reply("ERR malformed");
        Player* player = findPlayer(rest.substr(0, bar));
        if (!player) return;
        const std::string message = rest.substr(bar + 1);
        if (message.size() > 200) return reply("ERR too-long");
        Emit({player->name + ": " + message});
        reply("OK CHAT");
    } else if (verb == "LEVEL") {
        StartLevel(level_ + 1, true);
        reply("OK LEVEL");
    } else if (verb == "STATUS") {
        reply("OK STATUS players=" + std::to_string(players_.Count()) + " maxplayers=" +
              std::to_string(config_.maxPlayers) + " respawn=" + std::to_string(respawnTime_) +
              " level=" + std::to_string(level_) + " denied=" + std::to_string(hostsDeny_.Count()));
    } else if (verb == "CRASH") {
        reply("OK CRASH");
        record_.Add("exit", "crash");
        std::_Exit(3);  // as a crash: no goodbye to anyone, no clean-up
    } else if (verb == "HANG") {
        reply("OK HANG");
        record_.Add("hang", "stopped reading console and game port");
        PrintLine("(k3ded: hanging on request)");
        hung_ = true;
    } else if (verb == "CORRUPT") {
        Emit({"Network data corruption detected."});
        reply("OK CORRUPT");
    } else if (verb == "ADMINQUIT") {
        reply("OK ADMINQUIT");
        Emit({"Shutting down server (quit at the server)..."});
        quitting_ = true;
    } else {
        reply("ERR unknown-verb");
    }
}

void GameServer::HandleCommand(int connection, const std::string& line) {
    const std::string verb = ToLower(line.substr(0, line.find_first_of(" \t")));
    const std::string rest = AfterFirstWord(line);
    const std::string echo = "[Remote] " + line;
    // The commands that name a player take exactly one number.
    auto playerArgument = [&](Player*& player) {
        uint32_t number = 0;
        if (!ParseNumber(rest, 0, 65535, number)) {
            Emit({echo, "Usage: " + verb + " <player number>"});
            return false;
        }
        player = players_.FindByNumber(number);
        if (!player) {
            Emit({echo, "Player " + std::to_string(number) + " not found."});
            return false;
        }
        return true;
    };

    if (verb == "$players") {
        std::vector<std::string> lines{echo, "PNum Name", "0   Server"};
        for (const Player& p : players_.All()) {
            std::string row = std::to_string(p.number);
            do row += ' '; while (row.size() < 4);
            lines.push_back(row + p.name);
        }
        Emit(lines);
    } else if (verb == "$playerinfo") {
        Player* p = nullptr;
        if (!playerArgument(p)) return;
        std::vector<std::string> lines{echo, "*Getting playerinfo for " + p->name, p->name};
        if (config_.numTeams >= 2 && !StartsWithNoCase(config_.scriptName, "anarchy"))
            lines.push_back("Team: " + autoexec_.teamNames[(p->number - 1) % std::min<uint32_t>(config_.numTeams, 4)]);
        lines.push_back(std::string("Ship: ") + (p->observing ? "observer" : "Ember-GL"));
        lines.push_back("IP: " + Endpoint(p->address, p->port));
        Emit(lines);
    } else if (verb == "$kick") {
        Player* p = nullptr;
        if (!playerArgument(p)) return;
        const Player kicked = *p;
        RemovePlayer(kicked, "KICKED");
        Emit({echo, "Kicking " + kicked.name + ".", PlayerLine(kicked.name, " has left the game")});
    } else if (verb == "$ban") {
        Player* p = nullptr;
        if (!playerArgument(p)) return;
        const Player banned = *p;
        const std::string address = AddressText(banned.address);
        const bool written = hostsDeny_.Ban(HostsDenyPath(), address);
        RemovePlayer(banned, "BANNED");
        Emit({echo,
              "Banning " + banned.name + " (" + address + ")" +
                  (written ? ", address added to hosts.deny." : ", but hosts.deny could not be written."),
              PlayerLine(banned.name, " has left the game")});
    } else if (verb == "$rehash") {
        const size_t count = hostsDeny_.Load(HostsDenyPath());
        Emit({echo, "Reloaded hosts.deny: " + std::to_string(count) + " entries."});
    } else if (verb == "$setrespawntime") {
        uint32_t seconds = 0;
        if (!ParseNumber(rest, 0, 3600, seconds)) return Emit({echo, "Usage: $SetRespawnTime <seconds>"});
        respawnTime_ = seconds;
        Emit({echo, "Respawn time set to " + std::to_string(seconds) + " seconds."});
    } else if (verb == "$setmaxplayers") {
        uint32_t count = 0;
        if (!ParseNumber(rest, 1, 32, count)) return Emit({echo, "Usage: $setmaxplayers <1 to 32>"});
        config_.maxPlayers = count;
        Emit({echo, "Maximum players set to " + std::to_string(count) + "."});
    } else if (verb == "say") {
        if (rest.empty()) Emit({echo});
        else Emit({echo, "Server: " + rest});
    } else if (verb == "logout") {
        Emit({echo, "Remote console logged out."});
        console_->CloseConnection(connection);
    } else if (verb == "quit") {
        Emit({echo, "Shutting down server..."});
        quitting_ = true;
    } else {
        Emit({echo, "Unknown command."});
    }
}

void GameServer::Shutdown() {
    for (const Player& p : players_.All()) Reply(p.address, p.port, "SHUTDOWN");
    Nap(300);  // the last burst reaches the consoles before the connections close
    StopThreads();
    if (!options_.tempDir.empty()) fs::DeleteFile(options_.tempDir + "/.lock");
    record_.Add("exit", std::to_string(exitCode_));
}

void GameServer::UdpLoop() {
    char buffer[kMaxDatagram + 1];
    while (!stop_) {
        uint32_t address = 0;
        uint16_t port = 0;
        const int received = udp_.ReceiveFrom(buffer, sizeof buffer, address, port);
        if (received < 0) {
            if (stop_) break;
            Nap(50);
            continue;
        }
        if (hung_) {
            while (hung_ && !stop_) Nap(100);
            break;
        }
        if (received == 0 || static_cast<size_t>(received) > kMaxDatagram) continue;  // empty or oversized
        ServerEvent event;
        event.kind = ServerEvent::Kind::Datagram;
        event.text.assign(buffer, static_cast<size_t>(received));
        event.address = address;
        event.port = port;
        queue_.Push(std::move(event));
    }
}

void GameServer::GameSpyLoop() {
    char buffer[kMaxDatagram + 1];
    auto clean = [](std::string text) {  // a backslash would end the field early
        for (char& c : text)
            if (c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '/';
        return text;
    };
    const std::string fixed = "\\hostname\\" + clean(config_.gameName) + "\\mapname\\" + clean(config_.missionName) +
                              "\\gametype\\" + clean(config_.scriptName) + "\\maxplayers\\" +
                              std::to_string(config_.maxPlayers);
    while (!stop_) {
        uint32_t address = 0;
        uint16_t port = 0;
        const int received = gameSpy_.ReceiveFrom(buffer, kMaxDatagram, address, port);
        if (received < 0) {
            if (stop_) break;
            Nap(50);
            continue;
        }
        if (hung_ || received == 0) continue;
        const std::string query(buffer, static_cast<size_t>(received));
        if (query.find("\\status\\") == std::string::npos && query.find("\\basic\\") == std::string::npos &&
            query.find("\\info\\") == std::string::npos)
            continue;
        const std::string answer = fixed + "\\numplayers\\" + std::to_string(playerCount_.load()) + "\\final\\";
        gameSpy_.SendTo(answer.data(), answer.size(), address, port, 200);
    }
}

}  // namespace hm::k3ded
