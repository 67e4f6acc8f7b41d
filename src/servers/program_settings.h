// The program's own settings beyond the binary stores: cfg/haldmoor3.ini, a commented INI text that
// the operator may edit by hand. Parsing and formatting are pure; Load and Store read and replace the
// file (atomically) in the configuration folder.
//
// Owned by the server manager, which loads it once at start-up on the user-interface thread and hands
// the values to whoever needs them (the supervisor's restart back-off, the warnings before a stop).
// The file is written only when a setting changed, and then keeps every comment, every unknown key and
// every line it did not change byte for byte. A bad or unknown line is never fatal: it is reported with
// its line number and the default stands in for a bad value. Nothing here may throw or write anything
// else than the one file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hm {

// [restarts]: the crash-loop back-off.
struct CRestartSettings {
    bool backoff = true;
    uint32_t quickDeathSeconds = 60;    // a death this soon after the launch counts against the server
    uint32_t firstWaitSeconds = 30;     // the wait after the second quick death; doubled for each further one
    uint32_t maxWaitMinutes = 15;
    uint32_t trustedAfterMinutes = 10;  // a server that ran this long starts its count afresh

    bool operator==(const CRestartSettings&) const = default;
};

// [warnings]: what the players hear before the program stops a server.
struct CWarningSettings {
    bool beforeStop = true;
    std::vector<uint32_t> times{300, 60, 10};  // seconds before the stop
    std::string text = "Server stops in %s.";  // exactly one %s: the time left

    bool operator==(const CWarningSettings&) const = default;
};

struct CProgramSettings {
    CRestartSettings restarts;
    CWarningSettings warnings;

    bool operator==(const CProgramSettings&) const = default;
};

struct ParsedProgramSettings {
    CProgramSettings settings;
    // "haldmoor3.ini line 7: ..." for every unknown key, bad value or line not understood, in file order.
    std::vector<std::string> warnings;
};

ParsedProgramSettings ParseProgramSettings(std::string_view text);

// The file text for settings: text with the value of every known key that differs from settings
// replaced in place, missing keys added (with their comments) to their section, and every other byte
// as it was. An empty text gives the whole commented default file. Lines end in CR LF unless the text
// ends its lines otherwise.
std::string FormatProgramSettings(std::string_view text, const CProgramSettings& settings);

class CProgramSettingsFile {
public:
    static constexpr const char* kFileName = "haldmoor3.ini";

    CProgramSettings settings;

    // Reads configFolder + kFileName (configFolder ends with '/'). A missing file gives the defaults
    // without a word; a file that cannot be read gives the defaults and a warning, and Store then leaves
    // it alone. Returns the warnings.
    std::vector<std::string> Load(const std::string& configFolder);
    // Writes settings when they differ from what the file says; true when the file is as settings say.
    bool Store(const std::string& configFolder);

private:
    std::string text_;       // the file as read (or last written)
    bool unreadable_ = false;
};

}  // namespace hm
