#include "servers/console_rules.h"

#include <algorithm>

#include "servers/global_options_rules.h"
#include "servers/server_config.h"

namespace hm {

ConsoleForm ConsoleFormFrom(const CServerConfig& config, bool jotwellPresent) {
    const ConsoleSettings& console = config.console;
    ConsoleForm form;
    form.password = config.game.consolePassword;
    form.port = config.game.remoteConsolePort;
    form.logPlayerAddresses = console.logPlayerAddresses != 0;
    form.logConsole = console.logConsole != 0;
    form.logTimestamps = console.logTimestamps != 0;
    form.logAllOutput = console.logAllOutput != 0;
    form.useJotwell = jotwellPresent && console.useJotwell != 0;
    form.autoCommands = console.autoCommands;
    form.autoOnlyOne = console.autoOnlyOne != 0;
    form.autoRandom = console.autoRandom != 0;
    form.autoRepeat = console.autoRepeat != 0;
    form.repeatMinutes = console.autoRepeatMinutes;
    return form;
}

std::string CheckAutoCommand(const std::string& command) {
    if (command.empty()) return "Please enter a command.";
    if (command.size() > kMaxAutoCommandLength)
        return "A command can have at most " + std::to_string(kMaxAutoCommandLength) + " characters.";
    for (char c : command) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "A command must be a single line.";
    }
    return std::string();
}

std::string CheckConsoleLine(const std::string& line) {
    for (unsigned char c : line)
        if (c < 0x20 || c == 0x7F) return "control characters are not allowed in a console command.";
    if (line.size() > kConsoleLineMax) return "the console line is too long.";
    return std::string();
}

ConsoleCheck CheckConsoleForm(const ConsoleForm& form) {
    if (form.port < kConsolePortLow || form.port > kConsolePortHigh)
        return {ConsoleField::Port, RangeMessage(kConsolePortLow, kConsolePortHigh)};
    if (form.autoRepeat && (form.repeatMinutes < kRepeatMinutesLow || form.repeatMinutes > kRepeatMinutesHigh))
        return {ConsoleField::RepeatMinutes, RangeMessage(kRepeatMinutesLow, kRepeatMinutesHigh)};
    return {};
}

void ApplyConsoleForm(const ConsoleForm& form, bool jotwellPresent, CServerConfig& config) {
    ConsoleSettings& console = config.console;
    config.game.consolePassword = form.password;
    console.password = form.password;
    const auto port = static_cast<uint16_t>(std::clamp(form.port, kConsolePortLow, kConsolePortHigh));
    config.game.remoteConsolePort = port;
    console.port = port;
    console.logPlayerAddresses = form.logPlayerAddresses;
    console.logConsole = form.logConsole;
    console.logTimestamps = form.logTimestamps;
    console.logAllOutput = form.logAllOutput;
    console.useJotwell = jotwellPresent && form.useJotwell;
    console.autoCommands = form.autoCommands;
    console.autoOnlyOne = form.autoOnlyOne;
    console.autoRandom = form.autoRandom;
    console.autoRepeat = form.autoRepeat;
    console.autoRepeatMinutes =
        static_cast<uint32_t>(std::clamp(form.repeatMinutes, kRepeatMinutesLow, kRepeatMinutesHigh));
}

}  // namespace hm
