// The rules of the game trackers editor without any screen: what "Add" makes of the typed text, the
// range of the GameSpy port, and which fields OK writes back.
//
// Pure functions, used by the Qt editor and its tests on the user-interface thread. They never touch
// the live configuration: the editor works on a copy and hands the result back after OK. A tracker
// that ends up in the list must never break the tracker file the game reads (one tracker per line).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm {

class CServerConfig;

inline constexpr uint16_t kDefaultTrackerPort = 27900;
inline constexpr int64_t kGameSpyPortLow = 1024;
inline constexpr int64_t kGameSpyPortHigh = 65535;

struct TrackerText {
    std::string tracker;  // "host:port", empty when refused
    std::string message;  // why it was refused, for the operator
    bool ok() const { return message.empty(); }
};

// "Add": the text without surrounding blanks, with ":27900" appended when it has no ":". Refused (with
// a message) when nothing is left, when the host holds a blank or a control character, or when the
// part behind the ":" is not a port from 1 to 65535: such a line would announce the server nowhere.
TrackerText TrackerFromText(const std::string& text);

// The GameSpy port check of OK: empty when the value is in 1024..65535, else the range message.
std::string CheckGameSpyPort(int64_t port);

// OK: the list lines become the trackers in their order; the web-tracker switch stays cleared; the
// port goes to the launch settings (the command line's "-gamespyport") and the game settings' copy
// follows it, so both places agree until the next launch derives them again.
void ApplyTrackers(const std::vector<std::string>& lines, uint16_t gameSpyPort, CServerConfig& config);

}  // namespace hm
