// haldscope: the remote info server's command-line companion. Asks a running Haldmoor3 over UDP for
// its configured servers or its tracker information, or sets and removes tracker information:
//
//   haldscope [--host H] [--port P] [--json] [--show-passwords] --password W list | trackers
//                                                               | set KEY VALUE | remove KEY
//
// One request per run on the main thread: every try uses a fresh socket (so a late answer to an
// earlier try cannot mix into the next), waits at most a second for each answer, and a lost
// datagram is tried twice more. Texts on the wire are Windows-1252; the terminal gets UTF-8.
// Exit codes: 0 success, 1 a negative status from the server, 2 wrong arguments, 3 no answer.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "infoserver/info_protocol.h"
#include "servers/json_text.h"
#include "platform/socket.h"

namespace {

using namespace hm;

constexpr uint32_t kAnswerWaitMs = 1000;
constexpr int kTries = 3;  // the first and two more for a lost datagram

std::string ToUtf8(const std::string& cp1252) { return Cp1252ToUtf8(cp1252); }

// nullopt for malformed UTF-8 or a character that Windows-1252 cannot hold.
std::optional<std::string> FromUtf8(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const uint8_t c = static_cast<uint8_t>(utf8[i]);
        uint32_t cp = 0;
        size_t length = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            length = 3;
        } else {
            return std::nullopt;
        }
        if (i + length > utf8.size()) return std::nullopt;
        for (size_t k = 1; k < length; ++k) {
            const uint8_t next = static_cast<uint8_t>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) return std::nullopt;
            cp = (cp << 6) | (next & 0x3F);
        }
        i += length;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        // The code page's characters 0x80 to 0x9F, found by their UTF-8 form.
        const std::string character = utf8.substr(i - length, length);
        bool found = false;
        for (int k = 0; k < 32 && !found; ++k) {
            const std::string byte(1, static_cast<char>(0x80 + k));
            if (Cp1252ToUtf8(byte) == character) {
                out += byte;
                found = true;
            }
        }
        if (!found) return std::nullopt;
    }
    return out;
}

// Characters on the terminal (UTF-8 continuation bytes do not count).
size_t Width(const std::string& utf8) {
    size_t n = 0;
    for (const char c : utf8) n += (static_cast<uint8_t>(c) & 0xC0) != 0x80;
    return n;
}

void PrintTable(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], Width(row[c]));
    }
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size()) line += std::string(widths[c] - Width(row[c]) + 2, ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

struct Options {
    std::string host = "127.0.0.1";
    uint16_t port = 2090;
    std::optional<std::string> password;
    bool json = false;
    bool showPasswords = false;
    std::vector<std::string> words;  // the verb and its arguments
};

constexpr const char* kUsage =
    "Usage: haldscope [--host H] [--port P] [--json] [--show-passwords] --password W "
    "list | trackers | set KEY VALUE | remove KEY\n";

int Usage(const char* problem) {
    std::fprintf(stderr, "haldscope: %s\n%s", problem, kUsage);
    return 2;
}

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const unsigned long value = std::stoul(text);
    if (value == 0 || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// The replies to one request up to its status record, from the server's address and port only.
struct Answer {
    bool complete = false;
    std::vector<std::string> records;
    int32_t status = 0;
};

Answer Ask(uint32_t address, uint16_t port, const std::string& request) {
    Answer answer;
    for (int attempt = 0; attempt < kTries && !answer.complete; ++attempt) {
        answer = Answer{};
        TcpSocket socket;
        if (!socket.Create(SocketType::Datagram) || !socket.Bind(0, 0)) continue;
        socket.SetReceiveTimeout(kAnswerWaitMs);
        if (socket.SendTo(request.data(), request.size(), address, port, kAnswerWaitMs) !=
            static_cast<int>(request.size())) {
            continue;
        }
        for (;;) {
            uint8_t buffer[info::kMaxDatagram];
            uint32_t from = 0;
            uint16_t fromPort = 0;
            const int n = socket.ReceiveFrom(buffer, sizeof buffer, from, fromPort);
            if (n < 0 || (n == 0 && from == 0)) break;  // error or a second without an answer: try again
            if (from != address || fromPort != port) continue;
            info::ReplyHeader header;
            if (!info::ParseReplyHeader(buffer, static_cast<size_t>(n), header)) continue;
            if (header.type == info::kStatusRecord) {
                answer.status = header.indexOrStatus;
                answer.complete = true;
                break;
            }
            answer.records.emplace_back(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
        }
    }
    return answer;
}

int PrintServers(const Options& options, const std::vector<std::string>& records) {
    std::vector<info::ServerRecord> servers;
    for (const std::string& bytes : records) {
        info::ServerRecord record;
        if (info::DecodeServerRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), record)) {
            servers.push_back(record);
        }
    }
    if (options.json) {
        std::printf("[");
        for (size_t i = 0; i < servers.size(); ++i) {
            const info::ServerRecord& s = servers[i];
            std::printf("%s\n  {\"index\": %d, \"port\": %u, \"gameName\": %s, \"mission\": %s, \"script\": %s, "
                        "\"maxPlayers\": %u, \"consolePort\": %u",
                        i ? "," : "", s.index, s.serverPort, JsonString(s.gameName).c_str(),
                        JsonString(s.missionTitle).c_str(), JsonString(s.scriptName).c_str(), s.maxPlayers,
                        s.consolePort);
            if (options.showPasswords) std::printf(", \"consolePassword\": %s", JsonString(s.consolePassword).c_str());
            std::printf("}");
        }
        std::printf("%s]\n", servers.empty() ? "" : "\n");
        return 0;
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"Port", "Game name", "Mission", "Script", "Max players", "Console port"});
    if (options.showPasswords) rows.back().push_back("Console password");
    for (const info::ServerRecord& s : servers) {
        rows.push_back({std::to_string(s.serverPort), ToUtf8(s.gameName), ToUtf8(s.missionTitle), ToUtf8(s.scriptName),
                        std::to_string(s.maxPlayers), std::to_string(s.consolePort)});
        if (options.showPasswords) rows.back().push_back(ToUtf8(s.consolePassword));
    }
    PrintTable(rows);
    return 0;
}

int PrintTrackerInfo(const Options& options, const std::vector<std::string>& records) {
    std::vector<info::TrackerRecord> entries;
    for (const std::string& bytes : records) {
        info::TrackerRecord record;
        if (info::DecodeTrackerRecord(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), record)) {
            entries.push_back(record);
        }
    }
    if (options.json) {
        std::printf("[");
        for (size_t i = 0; i < entries.size(); ++i) {
            std::printf("%s\n  {\"index\": %d, \"key\": %s, \"value\": %s}", i ? "," : "", entries[i].index,
                        JsonString(entries[i].key).c_str(), JsonString(entries[i].value).c_str());
        }
        std::printf("%s]\n", entries.empty() ? "" : "\n");
        return 0;
    }
    std::vector<std::vector<std::string>> rows;
    rows.push_back({"Key", "Value"});
    for (const info::TrackerRecord& e : entries) rows.push_back({ToUtf8(e.key), ToUtf8(e.value)});
    PrintTable(rows);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs("Asks the remote info server of a running Haldmoor3 (default 127.0.0.1, port 2090) for its\n"
                       "servers or tracker information, or sets and removes tracker information.\n",
                       stdout);
            return 0;
        }
        if (arg == "--host" && hasValue) {
            options.host = argv[++i];
        } else if (arg == "--port" && hasValue) {
            if (!ParsePort(argv[++i], options.port)) return Usage("the port must be a number from 1 to 65535");
        } else if (arg == "--password" && hasValue) {
            options.password = argv[++i];
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--show-passwords") {
            options.showPasswords = true;
        } else if (arg.rfind("--", 0) == 0) {
            return Usage(("unknown option or missing value: " + arg).c_str());
        } else {
            options.words.push_back(arg);
        }
    }
    if (!options.password) return Usage("--password is required");
    if (options.words.empty()) return Usage("no command given");
    const std::string& verb = options.words[0];
    const size_t arguments = options.words.size() - 1;

    const std::optional<std::string> password = FromUtf8(*options.password);
    if (!password) return Usage("the password has a character that Windows-1252 cannot hold");
    const uint32_t check = info::PasswordCheck(*password);

    std::string request;
    if ((verb == "list" || verb == "trackers") && arguments == 0) {
        request = info::EncodeRequest(verb == "list" ? info::kListServers : info::kListTrackerInfo, check);
    } else if ((verb == "set" && arguments == 2) || (verb == "remove" && arguments == 1)) {
        const std::optional<std::string> key = FromUtf8(options.words[1]);
        if (!key || key->size() > info::kKeyField - 1 || key->find('\0') != std::string::npos) {
            return Usage("a key has at most 9 characters of Windows-1252");
        }
        if (verb == "remove") {
            request = info::EncodeRemoveRequest(check, *key);
        } else {
            const std::optional<std::string> value = FromUtf8(options.words[2]);
            if (!value || value->size() > info::kValueField - 1) {
                return Usage("a value has at most 127 characters of Windows-1252");
            }
            request = info::EncodeSetRequest(check, *key, *value);
        }
    } else {
        return Usage(("wrong command or argument count: " + verb).c_str());
    }

    uint32_t address = 0;
    if (!ParseAddress(options.host, address)) {
        const std::vector<uint32_t> resolved = ResolveIPv4(options.host);
        if (resolved.empty()) {
            std::fprintf(stderr, "haldscope: cannot resolve %s\n", options.host.c_str());
            return 3;
        }
        address = resolved.front();
    }

    const Answer answer = Ask(address, options.port, request);
    if (!answer.complete) {
        std::fprintf(stderr, "haldscope: no answer from %s port %u\n", options.host.c_str(), options.port);
        return 3;
    }
    if (answer.status < 0) {
        std::fprintf(stderr, "haldscope: %s (status %d)\n", info::StatusMeaning(answer.status).c_str(), answer.status);
        return 1;
    }
    if (verb == "list") return PrintServers(options, answer.records);
    if (verb == "trackers") return PrintTrackerInfo(options, answer.records);
    if (options.json) std::printf("{\"status\": %d}\n", answer.status);
    return 0;
}
