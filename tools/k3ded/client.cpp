#include "client.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/clock.h"
#include "platform/socket.h"
#include "protocol.h"
#include "text_util.h"

namespace hm::k3ded {

namespace {


bool Need(const std::vector<std::string>& arguments, size_t count, const std::string& usage, std::string& error) {
    if (arguments.size() >= count) return true;
    error = "Usage: k3ded client --port GAMEPORT " + usage;
    return false;
}

// Waits for one datagram of the server; "" on time-out.
std::string Receive(TcpSocket& socket, uint32_t timeoutMs) {
    socket.SetReceiveTimeout(timeoutMs);
    char buffer[kMaxDatagram + 1];
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < until) {
        uint32_t address = 0;
        uint16_t port = 0;
        const int received = socket.ReceiveFrom(buffer, kMaxDatagram, address, port);
        if (received <= 0) break;
        const std::string text(buffer, static_cast<size_t>(received));
        const std::string prefix = kServerPrefix;
        if (text.compare(0, prefix.size(), prefix) == 0) return OneLine(text.substr(prefix.size()));
    }
    return "";
}

int ExitCodeFor(const std::string& answer) {
    if (answer.empty()) return 1;
    return answer.compare(0, 2, "OK") == 0 ? 0 : 2;
}

}  // namespace

bool BuildClientRequest(const std::string& verb, const std::vector<std::string>& arguments, std::string& body,
                        std::string& error) {
    auto name = [&](size_t index) -> bool {
        if (!IsValidPlayerName(arguments[index])) {
            error = "Invalid player name '" + OneLine(arguments[index]) + "'.";
            return false;
        }
        return true;
    };
    if (verb == "join" || verb == "leave" || verb == "drop" || verb == "unobserve") {
        if (!Need(arguments, 1, verb + " NAME", error) || !name(0)) return false;
        std::string upper = verb;
        for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
        body = upper + " " + arguments[0];
    } else if (verb == "observe") {
        if (!Need(arguments, 1, "observe NAME [COUNT]", error) || !name(0)) return false;
        uint32_t count = 1;
        if (arguments.size() > 1 && !ParseNumber(arguments[1], 1, 100, count)) {
            error = "COUNT must be 1 to 100.";
            return false;
        }
        body = "OBSERVE " + std::to_string(count) + " " + arguments[0];
    } else if (verb == "chat") {
        if (!Need(arguments, 2, "chat NAME TEXT...", error) || !name(0)) return false;
        if (arguments[0].find('|') != std::string::npos) {
            error = "A chatting player's name cannot hold '|'.";
            return false;
        }
        std::string text;
        for (size_t i = 1; i < arguments.size(); ++i) text += (i > 1 ? " " : "") + arguments[i];
        body = "CHAT " + arguments[0] + "|" + text;
    } else if (verb == "level" || verb == "status" || verb == "crash" || verb == "hang" || verb == "corrupt") {
        std::string upper = verb;
        for (char& c : upper) c = static_cast<char>(c - 'a' + 'A');
        body = upper;
    } else if (verb == "admin-quit") {
        body = "ADMINQUIT";
    } else {
        error = "Unknown client action '" + OneLine(verb) + "'.";
        return false;
    }
    if (body.size() + std::string(kClientPrefix).size() > kMaxDatagram) {
        error = "Request too long.";
        return false;
    }
    for (char c : body)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            error = "Control characters cannot be sent.";
            return false;
        }
    return true;
}

int RunClient(const std::vector<std::string>& args) {
    uint32_t port = 0, timeoutMs = 2000, delayMs = 0, waitMs = 0;
    size_t i = 0;
    for (; i < args.size() && args[i].size() > 2 && args[i].compare(0, 2, "--") == 0; i += 2) {
        uint32_t* target = args[i] == "--port" ? &port
                           : args[i] == "--timeout" ? &timeoutMs
                           : args[i] == "--delay" ? &delayMs
                           : args[i] == "--wait" ? &waitMs
                                                 : nullptr;
        const uint32_t max = args[i] == "--port" ? 65535 : 600000;
        if (!target || i + 1 >= args.size() || !ParseNumber(args[i + 1], args[i] == "--port" ? 1 : 0, max, *target)) {
            std::fprintf(stderr, "k3ded client: bad option %s\n", OneLine(args[i]).c_str());
            return 1;
        }
    }
    if (port == 0 || i >= args.size()) {
        std::fprintf(stderr, "Usage: k3ded client --port GAMEPORT [--timeout MS] [--delay MS] [--wait MS] ACTION ...\n");
        return 1;
    }
    const std::string verb = args[i];
    const std::vector<std::string> arguments(args.begin() + static_cast<long>(i) + 1, args.end());
    std::string body, error;
    uint32_t burstPairs = 0;
    if (verb == "burst") {
        // COUNT players PREFIX0, PREFIX1, ... each join and leave at once, one after another: load for
        // the console reader, sent as fast as the server answers.
        if (arguments.size() != 2 || !ParseNumber(arguments[0], 1, 100000, burstPairs) ||
            !IsValidPlayerName(arguments[1] + std::to_string(burstPairs))) {
            std::fprintf(stderr, "k3ded client: burst COUNT PREFIX (COUNT 1 to 100000, PREFIX a name start)\n");
            return 1;
        }
    } else if (!BuildClientRequest(verb, arguments, body, error)) {
        std::fprintf(stderr, "k3ded client: %s\n", error.c_str());
        return 1;
    }
    TcpSocket socket;
    if (!socket.Create(SocketType::Datagram) || !socket.Bind(LoopbackAddress(), 0)) {
        std::fprintf(stderr, "k3ded client: cannot open a UDP socket\n");
        return 1;
    }
    auto send = [&](const std::string& text) {
        const std::string datagram = kClientPrefix + text;
        return socket.SendTo(datagram.data(), datagram.size(), LoopbackAddress(), static_cast<uint16_t>(port), 1000) > 0;
    };
    if (verb == "burst") {
        uint32_t done = 0;
        for (uint32_t n = 0; n < burstPairs; ++n) {
            const std::string name = arguments[1] + std::to_string(n);
            if (!send("JOIN " + name) || Receive(socket, timeoutMs).compare(0, 7, "OK JOIN") != 0) break;
            if (!send("LEAVE " + name) || Receive(socket, timeoutMs) != "OK LEAVE") break;
            ++done;
        }
        PrintLine("OK BURST " + std::to_string(done));
        return done == burstPairs ? 0 : 2;
    }
    if (verb == "join") {
        // A real client first connects (the server logs the connection activity), loads, then joins.
        if (!send("HELLO")) return 1;
        const std::string hello = Receive(socket, timeoutMs);
        if (hello != "OK HELLO") {
            PrintLine(hello.empty() ? "no answer" : hello);
            return ExitCodeFor(hello);
        }
        if (delayMs) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    }
    if (!send(body)) return 1;
    const std::string answer = Receive(socket, timeoutMs);
    PrintLine(answer.empty() ? "no answer" : answer);
    if (verb == "join" && waitMs > 0 && ExitCodeFor(answer) == 0) {
        const std::string notice = Receive(socket, waitMs);
        if (!notice.empty()) PrintLine(notice);
    }
    return ExitCodeFor(answer);
}

}  // namespace hm::k3ded
