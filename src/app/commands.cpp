#include "app/commands.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <exception>
#include <new>

#include "app/monitoring.h"
#include "app/server_manager.h"
#include "servers/console_rules.h"
#include "servers/remote_console.h"

namespace hm {

std::string EncodeCommand(const std::vector<std::string>& words) {
    std::string request;
    for (const auto& word : words) {
        request += std::to_string(word.size());
        request += ':';
        request += word;
        request += ',';
    }
    return request;
}

bool DecodeCommand(const std::string& request, std::vector<std::string>& words) {
    words.clear();
    size_t at = 0;
    while (at < request.size()) {
        size_t length = 0, digits = 0;
        for (; at < request.size() && request[at] >= '0' && request[at] <= '9'; ++at, ++digits) {
            if (digits == 9) return false;  // longer than any request
            length = length * 10 + static_cast<size_t>(request[at] - '0');
        }
        if (digits == 0 || at >= request.size() || request[at] != ':') return false;
        if (digits > 1 && request[at - digits] == '0') return false;  // one spelling per request
        ++at;
        if (request.size() - at < length + 1 || request[at + length] != ',') return false;
        words.push_back(request.substr(at, length));
        at += length + 1;
    }
    return !words.empty();
}

std::string UsageText() {
    return "Usage: haldmoor3 [--headless]\n"
           "       haldmoor3 --send COMMAND [ARGUMENT...]\n"
           "\n"
           "  Without --headless the program opens its window on the display (DISPLAY or\n"
           "  WAYLAND_DISPLAY); a second plain start brings that window to the front.\n"
           "  --headless   run without a window: event lines go to stdout, messages to stderr;\n"
           "               SIGTERM, SIGINT and SIGHUP act as \"Exit\" (servers keep running).\n"
           "  --metrics-file PATH  write the metrics (Prometheus text format) to PATH after\n"
           "               every supervisor pass\n"
           "  --send       hand a command to the running instance and print its answer:\n"
           "               exit, stop-exit, stop-empty-exit, stop-all, stop-empty,\n"
           "               status [--json], metrics, notify-test,\n"
           "               start NAME..., stop PORT... [--now] (a server with players is\n"
           "               warned in the game first), import MAIN [--batch FILE],\n"
           "               stats (supervisor pass times and counts),\n"
           "               config-list, config-export FILE, config-import FILE\n"
           "               (server configurations as a text file, one [Server NAME] section each)\n";
}

namespace {

std::string StatusText(const ServerManager& manager) {
    std::string text = "PID\tName\tMission\tGame type\tPort\tStatus\tPlayers\n";
    for (const StatusLine& line : manager.StatusLines()) {
        text += line.pid + "\t" + line.name + "\t" + line.mission + "\t" + line.gameType + "\t" + line.port + "\t" +
                line.status + "\t" + (line.players.empty() ? std::string("-") : line.players) + "\n";
    }
    return text;
}

bool ParsePort(const std::string& text, unsigned& port) {
    if (text.empty() || text.size() > 5) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    port = static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10));
    return port >= 1 && port <= 65535;
}

struct CommandForm {
    const char* verb;
    size_t minArguments, maxArguments;
    const char* usage;
};

constexpr size_t kAny = static_cast<size_t>(-1);
constexpr CommandForm kCommands[] = {
    {"front", 0, 0, "front"},
    {"exit", 0, 0, "exit"},
    {"stop-exit", 0, 0, "stop-exit"},
    {"stop-empty-exit", 0, 0, "stop-empty-exit"},
    {"stop-all", 0, 0, "stop-all"},
    {"stop-empty", 0, 0, "stop-empty"},
    {"status", 0, 1, "status"},  // or "status --json"
    {"metrics", 0, 0, "metrics"},
    {"notify-test", 0, 0, "notify-test"},
    {"stats", 0, 0, "stats"},
    {"start", 1, kAny, "start NAME..."},
    {"stop", 1, kAny, "stop PORT... [--now]"},
    {"import", 1, 3, "import MAIN [--batch FILE]"},
    {"config-list", 0, 0, "config-list"},
    {"config-export", 1, 1, "config-export FILE"},
    {"config-import", 1, 1, "config-import FILE"},
    {"players", 1, 1, "players PORT"},
    {"say", 2, kAny, "say PORT TEXT..."},
    {"kick", 2, kAny, "kick PORT NAME|NUMBER"},
    {"ban", 2, kAny, "ban PORT NAME|NUMBER"},
    {"console", 2, kAny, "console PORT COMMAND..."},
};

std::string Joined(const std::vector<std::string>& words, size_t from) {
    std::string text;
    for (size_t i = from; i < words.size(); ++i) text += (i > from ? " " : "") + words[i];
    return text;
}

bool EqualIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A player named by number, else by name ignoring case.
std::optional<ConsolePlayer> FindPlayer(const std::vector<ConsolePlayer>& list, const std::string& who) {
    unsigned number = 0;
    const bool numeric = !who.empty() && who.size() <= 5 &&
                         std::all_of(who.begin(), who.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (numeric) number = static_cast<unsigned>(std::strtoul(who.c_str(), nullptr, 10));
    for (const ConsolePlayer& player : list)
        if (numeric && player.number == number) return player;
    for (const ConsolePlayer& player : list)
        if (EqualIgnoringCase(player.name, who)) return player;
    return std::nullopt;
}

// The console of the server on `word`'s port, or the error answer. `connected`: the console must
// hold a connection (a command is to be sent), not only its last player list.
RemoteConsole* ConsoleOn(ServerManager& manager, const std::string& word, bool connected, unsigned& port,
                         std::string& error) {
    if (!ParsePort(word, port)) {
        error = "Error: not a port: " + word + "\n";
        return nullptr;
    }
    CServerInfo* entry = manager.EntryOnPort(port);
    if (!entry) {
        error = "Error: no server on port " + std::to_string(port) + ".\n";
        return nullptr;
    }
    if (!entry->console || (connected && !entry->console->IsConnected())) {
        error = "Error: server " + std::to_string(port) + " has no console connection.\n";
        return nullptr;
    }
    return entry->console.get();
}

std::string PlayersAnswer(ServerManager& manager, RemoteConsole& console) {
    const std::vector<ConsolePlayer> list = console.Players();
    if (list.empty()) return "No players.\n";
    std::string text = "Number\tName\tAddress\tOnline\n";
    for (const ConsolePlayer& player : list) {
        const std::string address = manager.LastKnownAddress(player.name);
        text += std::to_string(player.number) + "\t" + player.name + "\t" + (address.empty() ? "-" : address) +
                "\t" + std::to_string(player.onlineMs / 60000) + " min\n";
    }
    return text;
}

std::optional<std::string> OperatorConsoleCommand(ServerManager& manager, const std::string& verb,
                                                  const std::vector<std::string>& args, const LateAnswer& late) {
    unsigned port = 0;
    std::string error;
    RemoteConsole* console = ConsoleOn(manager, args[0], verb != "players", port, error);
    if (!console) return error;
    const std::string server = "server " + std::to_string(port);
    if (verb == "players") return PlayersAnswer(manager, *console);

    const std::string text = Joined(args, 1);
    if (text.empty()) {
        const char* what = verb == "say" ? "a text" : verb == "console" ? "a command" : "a player";
        return "Error: " + verb + " needs " + what + ".\n";
    }
    if (const std::string refused = CheckConsoleLine(text); !refused.empty()) return "Error: " + refused + "\n";
    if (verb == "say") {
        console->Say(text);
        return "Said on " + server + ": " + text + "\n";
    }
    if (verb == "kick" || verb == "ban") {
        const std::optional<ConsolePlayer> player = FindPlayer(console->Players(), text);
        if (!player) return "Error: no player " + text + " on " + server + ".\n";
        const bool ban = verb == "ban";
        ban ? console->Ban(static_cast<int>(player->number), std::nullopt)
            : console->Kick(static_cast<int>(player->number), std::nullopt);
        manager.events.AddEvent("Server %u: Player '%s' %s by the operator.", port, player->name.c_str(),
                                ban ? "banned" : "kicked");
        return std::string(ban ? "Banned " : "Kicked ") + player->name + " (" + std::to_string(player->number) +
               ") from " + server + ".\n";
    }
    // console
    if (!late) return "Error: console commands cannot be answered here.\n";
    const bool taken = console->SendConsoleCommand(text, [late, server](const std::string& reply) {
        late(reply.empty() ? "No reply from " + server + ".\n" : reply);
    });
    if (!taken) return "Error: " + server + " cannot take a console command now; another one may wait for its reply.\n";
    return std::nullopt;
}

// Every target gets the test message from the sender's thread; the answer comes when the last one has
// answered or failed (five seconds at most each).
std::optional<std::string> NotifyTest(ServerManager& manager, const LateAnswer& late) {
    const std::vector<CNotifyTarget>& targets = manager.programSettings.settings.notify;
    if (targets.empty()) return "Error: no notification targets ([notify NAME] in cfg/haldmoor3.ini).\n";
    if (!late) return "Error: the notification test cannot be answered here.\n";
    manager.watch.sender.SendTest(targets, [late](const std::vector<NotifyResult>& results) {
        std::string lines;
        size_t failed = 0;
        for (const NotifyResult& r : results) {
            lines += r.name + "\t" + r.url + "\t" +
                     (r.status ? "HTTP " + std::to_string(r.status) : "failed: " + r.error) + "\n";
            if (!r.Delivered()) ++failed;
        }
        late(failed ? "Error: " + std::to_string(failed) + " of " + std::to_string(results.size()) +
                          " notification target(s) did not take the test message.\n" + lines
                    : lines);
    });
    return std::nullopt;
}

}  // namespace

namespace {

std::optional<std::string> Dispatch(ServerManager& manager, const std::vector<std::string>& words, bool* closes,
                                    const LateAnswer& late) {
    if (closes) *closes = false;
    if (words.empty()) return "Error: empty command.\n";
    const std::string& verb = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());
    const CommandForm* form = nullptr;
    for (const CommandForm& candidate : kCommands) {
        if (verb == candidate.verb) form = &candidate;
    }
    if (!form) return "Error: unknown command: " + verb + "\n";
    if (args.size() < form->minArguments || args.size() > form->maxArguments) {
        return std::string("Error: usage: ") + form->usage + "\n";
    }

    auto closing = [&](void (ServerManager::*command)()) {
        (manager.*command)();
        if (closes) *closes = true;
        return std::string("OK\n");
    };
    if (verb == "front") {
        manager.CommandFront();
        return "Haldmoor3 is already running.\n";
    }
    if (verb == "exit") return closing(&ServerManager::CommandExit);
    if (verb == "stop-exit") return closing(&ServerManager::CommandStopAndExit);
    if (verb == "stop-empty-exit") return closing(&ServerManager::CommandStopEmptyAndExit);
    if (verb == "stop-all") {
        manager.CommandStopAll();
        return "OK\n";
    }
    if (verb == "stop-empty") {
        manager.CommandStopEmpty();
        return "OK\n";
    }
    if (verb == "status") {
        if (args.empty()) return StatusText(manager);
        if (args[0] != "--json") return std::string("Error: usage: ") + form->usage + "\n";
        return StatusJson(TakeMonitoringSnapshot(manager));
    }
    if (verb == "metrics") return MetricsText(TakeMonitoringSnapshot(manager));
    if (verb == "notify-test") return NotifyTest(manager, late);
    if (verb == "players" || verb == "say" || verb == "kick" || verb == "ban" || verb == "console")
        return OperatorConsoleCommand(manager, verb, args, late);
    if (verb == "stats") {
        return "servers\t" + std::to_string(manager.servers.entries.size()) + "\n" +
               "supervisor passes\t" + std::to_string(manager.tickTimes.passes) + "\n" +
               "last pass ms\t" + std::to_string(manager.tickTimes.lastMs) + "\n" +
               "longest pass ms\t" + std::to_string(manager.tickTimes.longestMs) + "\n" +
               "player records\t" + std::to_string(manager.players.Count()) + "\n";
    }
    if (verb == "start") return manager.StartByNames(args);
    if (verb == "config-list") return manager.ConfigListText();
    if (verb == "config-export") return manager.ExportConfigurations(args[0]);
    if (verb == "config-import") return manager.ImportConfigurations(args[0]);
    if (verb == "import") {
        // import MAIN [--batch FILE]
        if (args[0].empty()) return "Error: import needs the main configuration file.\n";
        std::string batch;
        if (args.size() == 3 && args[1] == "--batch") {
            batch = args[2];
        } else if (args.size() != 1) {
            return std::string("Error: usage: ") + form->usage + "\n";
        }
        bool ok = false;
        std::string answer = manager.ImportConfiguration(args[0], batch, &ok);
        return ok ? answer : "Error: " + answer;
    }
    if (verb == "stop") {
        std::vector<unsigned> ports;
        bool now = false;
        for (const auto& arg : args) {
            unsigned port = 0;
            if (arg == "--now") {
                now = true;
            } else if (!ParsePort(arg, port)) {
                return "Error: not a port: " + arg + "\n";
            } else {
                ports.push_back(port);
            }
        }
        if (ports.empty()) return "Error: usage: stop PORT... [--now]\n";
        std::vector<unsigned> warned;
        const size_t found = manager.StopServersOnPorts(ports, now, &warned);
        std::string answer = "Stopped " + std::to_string(found - warned.size()) + " server(s).\n";
        for (unsigned port : warned) {
            answer += "Server " + std::to_string(port) + ": players warned; stopping in " +
                      StopWarnings::TimeText(manager.stopWarnings.SecondsLeft(port)) + ".\n";
        }
        return answer;
    }
    return "Error: unknown command: " + verb + "\n";  // in the table, not handled: never reached
}

}  // namespace

std::string ExecuteCommand(ServerManager& manager, const std::vector<std::string>& words, bool* closes) {
    return *ExecuteCommandOrLater(manager, words, closes, nullptr);
}

std::optional<std::string> ExecuteCommandOrLater(ServerManager& manager, const std::vector<std::string>& words,
                                                 bool* closes, LateAnswer late) {
    // A command runs on the loop thread: whatever it meets must end in an answer, never the program.
    try {
        return Dispatch(manager, words, closes, late);
    } catch (const std::bad_alloc&) {
        return "Error: not enough memory to carry out the command.\n";
    } catch (const std::exception& e) {
        return std::string("Error: the command failed: ") + e.what() + "\n";
    }
}

}  // namespace hm
