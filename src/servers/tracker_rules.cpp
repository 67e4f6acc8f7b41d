#include "servers/tracker_rules.h"

#include "servers/global_options_rules.h"
#include "servers/server_config.h"

namespace hm {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string Trimmed(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

TrackerText Refused(std::string message) { return {std::string(), std::move(message)}; }

}  // namespace

TrackerText TrackerFromText(const std::string& text) {
    const std::string tracker = Trimmed(text);
    if (tracker.empty()) return Refused("Please enter the name of a game tracker.");
    const size_t colon = tracker.find(':');
    const std::string host = tracker.substr(0, colon);
    if (host.empty()) return Refused("Please enter the host name of the game tracker in front of the \":\".");
    for (char c : host) {
        if (IsBlank(c) || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return Refused("A game tracker's host name cannot hold blanks.");
    }
    if (colon == std::string::npos) return {tracker + ":" + std::to_string(kDefaultTrackerPort), std::string()};
    const std::string port = tracker.substr(colon + 1);
    uint32_t value = 0;
    bool number = !port.empty() && port.size() <= 5;
    for (char c : port) {
        if (c < '0' || c > '9') number = false;
        else value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (!number || value < 1 || value > 65535)
        return Refused("Please enter the game tracker as host:port with a port between 1 and 65535.");
    return {tracker, std::string()};
}

std::string CheckGameSpyPort(int64_t port) {
    if (port >= kGameSpyPortLow && port <= kGameSpyPortHigh) return std::string();
    return RangeMessage(kGameSpyPortLow, kGameSpyPortHigh);
}

void ApplyTrackers(const std::vector<std::string>& lines, uint16_t gameSpyPort, CServerConfig& config) {
    config.trackers.trackers = lines;
    config.trackers.postToWebTracker = 0;
    config.launch.gameSpyPort = gameSpyPort;
    config.game.gameSpyPort = gameSpyPort;
}

}  // namespace hm
