// The rules of the console and logging editor without any screen: the checks made on OK, the enable
// rules of the automatic commands, what an added command may hold, and which fields OK writes back.
//
// Pure functions, used by the Qt editor and its tests on the user-interface thread. They never touch
// the live configuration: the editor fills a ConsoleForm from a copy and applies it after OK.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm {

class CServerConfig;

inline constexpr int64_t kConsolePortLow = 1024;
inline constexpr int64_t kConsolePortHigh = 65535;
inline constexpr int64_t kRepeatMinutesLow = 1;
inline constexpr int64_t kRepeatMinutesHigh = 1440;
// The console sends at most this many characters of a command; the field takes no more.
inline constexpr size_t kMaxAutoCommandLength = 1021;
// Longest line the operator may send to the game's console, not counting its line end.
inline constexpr size_t kConsoleLineMax = 1021;

// What the editor's controls hold while it is open. Numbers are kept as entered (they may be out of
// range until OK checks them).
struct ConsoleForm {
    std::string password;
    int64_t port = 0;
    bool logPlayerAddresses = false;
    bool logConsole = false;
    bool logTimestamps = false;
    bool logAllOutput = false;
    bool useJotwell = false;
    std::vector<std::string> autoCommands;
    bool autoOnlyOne = false;
    bool autoRandom = false;
    bool autoRepeat = false;
    int64_t repeatMinutes = 0;
};

enum class ConsoleField { None, Port, RepeatMinutes };

struct ConsoleCheck {
    ConsoleField field = ConsoleField::None;  // None: the form can be applied
    std::string message;
    bool ok() const { return field == ConsoleField::None; }
};

// Opening: the password and port the launch uses (those of the game settings), the switches and
// commands of the console settings. Without the library its switch shows cleared.
ConsoleForm ConsoleFormFrom(const CServerConfig& config, bool jotwellPresent);

// The enable rules that carry meaning: a random pick only chooses among commands when one command is
// sent at a time; the minutes only count while the commands repeat; the library's switch only exists
// with the library.
inline bool RandomPickEnabled(const ConsoleForm& form) { return form.autoOnlyOne; }
inline bool RepeatMinutesEnabled(const ConsoleForm& form) { return form.autoRepeat; }
inline bool JotwellSwitchEnabled(bool jotwellPresent) { return jotwellPresent; }

// An added command: empty when it may be added, else why not. A line break or other control character
// would send two commands (or half of one) to the server's console.
std::string CheckAutoCommand(const std::string& command);

// A line the operator sends to a server's console (the command line of the server window, `--send
// console`, say, kick and ban): empty when it may go out, else why not, as a sentence without the
// line end. A line break or other control character inside would make the server read two commands.
std::string CheckConsoleLine(const std::string& line);

// OK: the first field, in the editor's order, whose value is out of range. The minutes are checked
// only while repeating is on: a disabled field cannot be corrected.
ConsoleCheck CheckConsoleForm(const ConsoleForm& form);

// Writes the form into the configuration after a successful check: password and port to the game
// settings (which the launch uses) and to the console settings; the switches and commands to the
// console settings. Without the library its switch is stored cleared. Minutes that were not checked
// (repeating off) are brought into their range, so the record never holds a period the console
// could not use. The console addresses are not the editor's: the launch fills them.
void ApplyConsoleForm(const ConsoleForm& form, bool jotwellPresent, CServerConfig& config);

}  // namespace hm
