#include "app/commands.h"

#include <cstdlib>
#include <exception>
#include <new>

#include "app/server_manager.h"

namespace hm {

std::string EncodeCommand(const std::vector<std::string>& words) {
    std::string request;
    for (const auto& word : words) {
        request += word;
        request += '\n';
    }
    return request;
}

std::vector<std::string> DecodeCommand(const std::string& request) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < request.size()) {
        size_t end = request.find('\n', start);
        if (end == std::string::npos) end = request.size();
        words.push_back(request.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::string UsageText() {
    return "Usage: haldmoor3 [--headless]\n"
           "       haldmoor3 --send COMMAND [ARGUMENT...]\n"
           "\n"
           "  --headless   run without a window: event lines go to stdout, messages to stderr;\n"
           "               SIGTERM, SIGINT and SIGHUP act as \"Exit\" (servers keep running).\n"
           "  --send       hand a command to the running instance and print its answer:\n"
           "               exit, stop-exit, stop-empty-exit, stop-all, stop-empty, status,\n"
           "               start NAME..., stop PORT..., import MAIN [--batch FILE]\n";
}

namespace {

std::string StatusText(const ServerManager& manager) {
    std::string text = "PID\tName\tMission\tGame type\tPort\tStatus\n";
    for (const StatusLine& line : manager.StatusLines()) {
        text += line.pid + "\t" + line.name + "\t" + line.mission + "\t" + line.gameType + "\t" + line.port + "\t" +
                line.status + "\n";
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

}  // namespace

namespace {

std::string Dispatch(ServerManager& manager, const std::vector<std::string>& words, bool* closes) {
    if (closes) *closes = false;
    if (words.empty()) return "Error: empty command.\n";
    const std::string& verb = words[0];
    const std::vector<std::string> args(words.begin() + 1, words.end());

    auto closing = [&](void (ServerManager::*command)()) {
        (manager.*command)();
        if (closes) *closes = true;
        return std::string("OK\n");
    };
    if (verb == "front") return "Haldmoor3 is already running.\n";
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
    if (verb == "status") return StatusText(manager);
    if (verb == "start") {
        if (args.empty()) return "Error: start needs at least one configuration name.\n";
        return manager.StartByNames(args);
    }
    if (verb == "import") {
        // import MAIN [--batch FILE]
        if (args.empty() || args[0].empty()) return "Error: import needs the main configuration file.\n";
        std::string batch;
        if (args.size() == 3 && args[1] == "--batch") {
            batch = args[2];
        } else if (args.size() != 1) {
            return "Error: usage: import MAIN [--batch FILE]\n";
        }
        bool ok = false;
        std::string answer = manager.ImportConfiguration(args[0], batch, &ok);
        return ok ? answer : "Error: " + answer;
    }
    if (verb == "stop") {
        if (args.empty()) return "Error: stop needs at least one port.\n";
        std::vector<unsigned> ports;
        for (const auto& arg : args) {
            unsigned port = 0;
            if (!ParsePort(arg, port)) return "Error: not a port: " + arg + "\n";
            ports.push_back(port);
        }
        const size_t found = manager.StopServersOnPorts(ports);
        return "Stopped " + std::to_string(found) + " server(s).\n";
    }
    return "Error: unknown command: " + verb + "\n";
}

}  // namespace

std::string ExecuteCommand(ServerManager& manager, const std::vector<std::string>& words, bool* closes) {
    // A command runs on the loop thread: whatever it meets must end in an answer, never the program.
    try {
        return Dispatch(manager, words, closes);
    } catch (const std::bad_alloc&) {
        return "Error: not enough memory to carry out the command.\n";
    } catch (const std::exception& e) {
        return std::string("Error: the command failed: ") + e.what() + "\n";
    }
}

}  // namespace hm
