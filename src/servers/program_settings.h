// The program's own settings beyond the binary stores: cfg/haldmoor3.ini, a commented INI text that
// the operator may edit by hand. Parsing and formatting are pure; Load and Store read and replace the
// file (atomically) in the configuration folder.
//
// Owned by the server manager, which loads it once at start-up on the user-interface thread and hands
// the values to whoever needs them (the supervisor's restart back-off, the warnings before a stop, the
// notification sender). The notifications dialog changes the targets, and only then is the file written.
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

// The kinds of event lines a notification target may ask for, in the order the file lists them.
enum class NotifyKind : uint8_t { Start, Stop, Crash, Restart, Kick, Ban, Update, Error };
inline constexpr unsigned kNotifyKindCount = 8;
inline constexpr uint32_t kAllNotifyKinds = (1u << kNotifyKindCount) - 1;
inline constexpr uint32_t NotifyKindBit(NotifyKind kind) { return 1u << static_cast<unsigned>(kind); }
const char* NotifyKindName(NotifyKind kind);  // "start", "stop", ...

enum class NotifyFormat : uint8_t { Json, Discord };

// [notify NAME]: one web hook that hears of the event lines of the chosen kinds.
struct CNotifyTarget {
    std::string name;  // Windows-1252, unique ignoring case
    std::string url;   // "" = not set: nothing is sent to the target
    NotifyFormat format = NotifyFormat::Json;
    uint32_t kinds = kAllNotifyKinds;  // NotifyKindBit of each kind sent

    bool Wants(NotifyKind kind) const { return (kinds & NotifyKindBit(kind)) != 0; }
    bool operator==(const CNotifyTarget&) const = default;
};

// The rules of a target's values, shared by the file and the notifications dialog.
// A name: 1 to 64 characters, no control characters and no square brackets (it sits in a section header).
bool ValidNotifyName(std::string_view name);
// An http:// or https:// address with a host, at most 2048 characters, no blanks or control characters.
bool ValidNotifyUrl(std::string_view url);
// "crash, error" -> the bits; "" = every kind. False (kinds untouched) for an unknown word or an empty item.
bool ParseNotifyKinds(std::string_view text, uint32_t& kinds);
// The bits as the file writes them: "" for every kind, else the names in file order ("crash,error").
std::string NotifyKindsText(uint32_t kinds);
// What is wrong with the targets as a whole (a bad name, a repeated name, a bad address, no kind), or "".
std::string CheckNotifyTargets(const std::vector<CNotifyTarget>& targets);

struct CProgramSettings {
    CRestartSettings restarts;
    CWarningSettings warnings;
    std::vector<CNotifyTarget> notify;  // in file order

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
// as it was. A [notify NAME] section whose target settings no longer hold is left out, and a new target
// gets a section of its own at the end; a second section of the same name stays as it is. An empty text gives the whole commented default file. Lines end in CR LF unless the text
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
